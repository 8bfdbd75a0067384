#pragma once

#include "Command.h"

// Writes the configurations of a file to the devices it names, only where they differ from what
// the devices hold, several devices at the same time.
class ApplyCommand : public Command {
public:
    const CommandSyntax& Syntax() const override;
    int Execute(const CommandLine& line, CommandContext& context) const override;
};
