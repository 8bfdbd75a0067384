#pragma once

#include "Command.h"

// Lists every LAN interface on the local network with its state and, when it runs, its addresses.
class ListCommand : public Command {
public:
    const char* Name() const override { return "list"; }
    size_t Positionals() const override { return 0; }
    bool TakesJson() const override { return true; }
    int Execute(const std::vector<std::string>& args, CommandContext& context) override;
};
