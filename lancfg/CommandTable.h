#pragma once

#include "Command.h"

#include <memory>
#include <string>
#include <vector>

// The commands of the console tool, in the order their classic forms head the usage text.
class CommandTable {
public:
    CommandTable();
    // The command of this word (compared exactly, letter case included), or nullptr.
    const Command* Find(const std::string& word) const;
    const std::vector<std::unique_ptr<Command>>& Commands() const { return commands_; }
    // "list, show, set, fwupdate, apply and history": the five classic ones first.
    std::string Names() const;

private:
    std::vector<std::unique_ptr<Command>> commands_;
};

// The usage text, with program standing for the program's own name: the first form of every
// command, then their other forms, then the options with what they do.
std::string UsageText(const std::string& program, const CommandTable& table);
