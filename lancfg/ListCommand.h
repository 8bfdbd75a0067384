#pragma once

#include "Command.h"

// Lists every LAN interface on the local network with its state and, when it runs, its addresses.
class ListCommand : public Command {
public:
    const CommandSpec& Spec() const override;
    int Execute(const CommandLine& line, CommandContext& context) const override;
};
