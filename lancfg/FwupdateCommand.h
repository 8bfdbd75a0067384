#pragma once

#include "Command.h"

// Loads a firmware file into one LAN interface through its bootloader.
class FwupdateCommand : public Command {
public:
    const char* Name() const override { return "fwupdate"; }
    int Execute(const std::vector<std::string>& args, CommandContext& context) override;
};
