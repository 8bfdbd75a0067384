#pragma once

#include "Command.h"

// Changes the network configuration of one LAN interface.
class SetCommand : public Command {
public:
    const CommandSpec& Spec() const override;
    std::string Misuse(const CommandLine& line) const override;
    int Execute(const CommandLine& line, CommandContext& context) const override;
};
