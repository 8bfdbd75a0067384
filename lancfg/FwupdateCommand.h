#pragma once

#include "Command.h"

// Loads a firmware file into one LAN interface through its bootloader, or into several at once,
// each confirmed running its new firmware afterwards.
class FwupdateCommand : public Command {
public:
    const char* Name() const override { return "fwupdate"; }
    bool TakesSeveralSerials() const override { return true; }
    int Execute(const std::vector<std::string>& args, CommandContext& context) override;
};
