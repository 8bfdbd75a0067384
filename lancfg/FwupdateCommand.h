#pragma once

#include "Command.h"

// Loads a firmware file into one LAN interface through its bootloader, or into several at once,
// each confirmed running its new firmware afterwards.
class FwupdateCommand : public Command {
public:
    const CommandSyntax& Syntax() const override;
    std::string Misuse(const CommandLine& line) const override;
    int Execute(const CommandLine& line, CommandContext& context) const override;
};
