#pragma once

#include "KeySource.h"

#include <istream>
#include <ostream>
#include <string>
#include <vector>

struct CommandLine;
struct CommandSyntax;

// Exit codes of the console tool. Misuse of the command line is a failure of its own, so that
// scripts can tell it from success.
enum ExitCode : int {
    ExitOk = 0,
    ExitFailed = -1,   // device not found, configuration not readable, update or write failed
    ExitKeyError = -2, // key missing or rejected
    ExitStopped = -3,  // a rollout stopped by its own rule (failures, a canary): devices skipped
    ExitUsage = 2,     // misuse of the command line, or input refused before anything was sent
};

// Writes printf-formatted text to a stream.
void Print(std::ostream& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
// printf-formatted text as a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// What a command prints to (results on out, explanations for the user on err), where its
// requests go, and the keys it may use: everything a command needs besides its command line.
struct CommandContext {
    CommandContext(std::ostream& results, std::ostream& explanations)
        : out(results), err(explanations) {}

    std::ostream& out;
    std::ostream& err;
    bool json = false;     // --json: out holds one JSON document, the messages go to err
    bool terminal = false; // out is a terminal, where progress may be redrawn in place
    std::string address;   // one plain -a: the requests go to this address instead of the group
    // Several -a, or a range: every address to ask (address is then empty).
    std::vector<std::string> addresses;
    // The networks the last search by the group could not be sent on.
    std::vector<std::string> unasked;
    KeySource keys; // the devices' keys, loaded before a command that takes -k runs
    // The environment the run was given (getenv-like), for the user's files.
    KeySource::Environment environment;
    // The file of the devices searches found, and whether a search may change it.
    std::string inventory;
    bool remember = false;
    // Where a question is answered, and whether a person can answer it there.
    std::istream* in = nullptr;
    bool inputTerminal = false;

    // Where the messages of a failed command go: err when out holds JSON.
    std::ostream& Messages() { return json ? err : out; }
};

// One command of the console tool. It declares its words in Syntax(), from which the command line
// is checked and the usage text is written; Execute then gets the checked line and never sees
// misuse.
class Command {
public:
    virtual ~Command() = default;
    virtual const CommandSyntax& Syntax() const = 0;
    // What a line whose words all passed their checks still lacks, as the misuse line; empty
    // when it is complete.
    virtual std::string Misuse(const CommandLine& /*line*/) const { return std::string(); }
    virtual int Execute(const CommandLine& line, CommandContext& context) const = 0;
};

// "on" or "off" in any letter case; false for anything else (on is then left alone).
bool ParseFlag(const std::string& text, bool* on);

// Names the first few of names and counts the rest: "a, b, c, d and 3 more networks".
std::string NameAFew(const std::vector<std::string>& names);
// When no device answered: one line on err that names the networks asked and the usual causes.
void PrintNothingFound(CommandContext& context);
// When no device answered for serial: searches for all devices and says on err how many answered
// (with a hint when one differs from serial only in letter case), or, when none did, what
// PrintNothingFound says.
void PrintNotFound(CommandContext& context, const std::string& serial);
