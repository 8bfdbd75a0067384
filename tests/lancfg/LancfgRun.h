#pragma once

// Runs the console tool in-process on streams, standard input and an environment of the test's
// own.

#include "Lancfg.h"

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

struct LancfgRun {
    int code;
    std::string out;
    std::string err;
};

// The variables a run sees; no other is set. By default no keys file of the user running the
// tests takes part.
// The user's state (the update history) goes to the test's own folder.
using LancfgEnvironment = std::map<std::string, std::string>;
inline const LancfgEnvironment kNoKeys = {
    {"XDG_CONFIG_HOME", "/nonexistent/lancfg-test"},
    {"XDG_STATE_HOME", std::getenv("XDG_STATE_HOME") ? std::getenv("XDG_STATE_HOME")
                                                     : "/tmp/lancfg-test-state"}};

inline LancfgRun RunTool(std::vector<std::string> words,
                         const LancfgEnvironment& environment = kNoKeys,
                         const std::string& input = std::string()) {
    words.insert(words.begin(), "lancfg");
    std::vector<const char*> argv;
    for (const auto& w : words)
        argv.push_back(w.c_str());
    std::istringstream in(input);
    std::ostringstream out, err;
    const ConsoleIo io{in, out, err, false, [&environment](const char* name) -> const char* {
                           const auto found = environment.find(name);
                           return found == environment.end() ? nullptr : found->second.c_str();
                       }};
    const int code = RunLancfg(static_cast<int>(argv.size()), argv.data(), io);
    return {code, out.str(), err.str()};
}
