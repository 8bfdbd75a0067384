#pragma once

#include "Command.h"

// Writes the configurations of a file to the devices it names, only where they differ from what
// the devices hold, several devices at the same time.
class ApplyCommand : public Command {
public:
    const char* Name() const override { return "apply"; }
    bool TakesJson() const override { return true; }
    bool TakesSerial() const override { return false; } // the first word is a file name
    bool IsFlag(const std::string& word) const override { return word == "--dry-run"; }
    int Execute(const std::vector<std::string>& args, CommandContext& context) override;

    static constexpr unsigned DefaultJobs = 16;
};
