#pragma once

#include "Command.h"

// Changes the network configuration of one LAN interface.
class SetCommand : public Command {
public:
    const char* Name() const override { return "set"; }
    int Execute(const std::vector<std::string>& args, CommandContext& context) override;
};

enum LanResult : int;
struct ChosenKey;

// Prints the outcome of a write or an update and returns the exit code. Shared by set and
// fwupdate; rebooting adds the line that the device restarts; key is the key that was used.
int ReportOutcome(LanResult result, bool rebooting, const ChosenKey& key,
                  const std::string& serial, std::ostream& out);
