#pragma once

#include "Command.h"

// Lists every LAN interface on the local network with its state and, when it runs, its addresses.
class ListCommand : public Command {
public:
    const char* Name() const override { return "list"; }
    int Execute(const std::vector<std::string>& args, std::ostream& out) override;
};
