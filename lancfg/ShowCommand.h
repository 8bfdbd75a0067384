#pragma once

#include "Command.h"

class LanInterface;

// Shows the network configuration of one LAN interface.
class ShowCommand : public Command {
public:
    const char* Name() const override { return "show"; }
    bool TakesJson() const override { return true; }
    int Execute(const std::vector<std::string>& args, CommandContext& context) override;
};

// Finds the device (at the address of -a, when given) and reads its status and configuration,
// printing the error message on failure. Shared by show and set.
bool FindAndRead(LanInterface& device, const std::string& serial, CommandContext& context);
