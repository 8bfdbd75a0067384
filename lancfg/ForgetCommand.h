#pragma once

#include "Command.h"

// Drops a device from the remembered ones, so that list --known and export no longer show it
// offline (a device taken out of service).
class ForgetCommand : public Command {
public:
    const CommandSyntax& Syntax() const override;
    int Execute(const CommandLine& line, CommandContext& context) const override;
};
