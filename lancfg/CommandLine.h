#pragma once

#include "CommandSyntax.h"

#include <optional>
#include <string>
#include <vector>

class Command;
class CommandTable;

// A command line that passed every check of its command's words: what each command reads.
struct CommandLine {
    std::string command;                // the command word
    std::vector<std::string> serials;   // show and set: one; fwupdate: one or more, none with --all
    std::string planFile;               // apply
    std::vector<std::string> addresses; // every -a, as typed, before and after the command word
    bool json = false;
    bool all = false;
    bool verify = false; // --verify (or its old name --confirm)
    bool dryRun = false;
    std::optional<std::string> key; // -k: a key text, or "-" for standard input
    std::optional<unsigned> jobs;   // -j; each command has its default
    // fwupdate's rollout: what to expect, when to stop, where to keep its journal.
    std::optional<std::string> expectVersion;
    bool skipCurrent = false;
    unsigned maxFailures = 0, canary = 0, retries = 0;
    std::optional<std::string> journal, resume;
    bool yes = false;
    std::optional<std::string> firmwareFile;
    std::optional<std::string> ip, netmask, gateway;
    std::optional<bool> dhcp, crypt;
    // The devices remembered: list --known, watch --interval, export --format and -o.
    bool known = false;
    bool noInventory = false;
    unsigned interval = 10; // seconds from the start of one search to the start of the next
    std::string format;     // "csv" or "prometheus"
    std::optional<std::string> output;
};

// What the parser made of a command line.
struct ParsedLine {
    enum Kind {
        Run,     // run command with line
        Help,    // --help or -h alone
        Version, // --version alone
        Misuse,  // message says what is wrong; the usage text follows
        Refused, // message is the whole line for the user; nothing follows
    };
    Kind kind = Misuse;
    const Command* command = nullptr;
    CommandLine line;
    std::string message;
};

// Checks the words after the program's name against the commands of table. -a with its value
// may stand before the command word and anywhere among the command's options; the positionals
// of the command come right after its word.
ParsedLine ParseCommandLine(const std::vector<std::string>& words, const CommandTable& table);
