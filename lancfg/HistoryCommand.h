#pragma once

#include "Command.h"

// Prints the firmware updates this user's runs of lancfg made: every device, or one.
class HistoryCommand : public Command {
public:
    const CommandSyntax& Syntax() const override;
    int Execute(const CommandLine& line, CommandContext& context) const override;
};
