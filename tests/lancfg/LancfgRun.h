#pragma once

// Runs the console tool in-process on streams of the test's own.

#include "Lancfg.h"

#include <sstream>
#include <string>
#include <vector>

struct LancfgRun {
    int code;
    std::string out;
    std::string err;
};

inline LancfgRun RunTool(std::vector<std::string> words) {
    words.insert(words.begin(), "lancfg");
    std::vector<const char*> argv;
    for (const auto& w : words)
        argv.push_back(w.c_str());
    std::ostringstream out, err;
    int code = RunLancfg(static_cast<int>(argv.size()), argv.data(), out, err);
    return {code, out.str(), err.str()};
}
