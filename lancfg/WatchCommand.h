#pragma once

#include "Command.h"

// Searches again and again and prints one line for each device that appears, changes or falls
// silent, until a termination signal (Ctrl-C) ends it.
class WatchCommand : public Command {
public:
    const CommandSyntax& Syntax() const override;
    int Execute(const CommandLine& line, CommandContext& context) const override;

    static constexpr unsigned MaxInterval = 86400;
};
