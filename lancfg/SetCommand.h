#pragma once

#include "Command.h"

// Changes the network configuration of one LAN interface.
class SetCommand : public Command {
public:
    const char* Name() const override { return "set"; }
    int Execute(const std::vector<std::string>& args, std::ostream& out) override;
};

// The messages for a missing or rejected key; returns ExitKeyError. Shared by set and fwupdate.
int ReportKeyError(const CommandOptions& options, const std::string& serial, std::ostream& out);
