#pragma once

#include "Command.h"

// Changes the network configuration of one LAN interface.
class SetCommand : public Command {
public:
    const CommandSyntax& Syntax() const override;
    std::string Misuse(const CommandLine& line) const override;
    int Execute(const CommandLine& line, CommandContext& context) const override;
};
