#pragma once

#include "Command.h"

class LanInterface;

// Shows the network configuration of one LAN interface.
class ShowCommand : public Command {
public:
    const char* Name() const override { return "show"; }
    bool TakesJson() const override { return true; }
    int Execute(const std::vector<std::string>& args, CommandContext& context) override;

private:
    // show --all: every device a search finds, in list order; one that cannot be read is named
    // on err and makes the result ExitFailed.
    int ShowAll(CommandContext& context);
};

// The configuration of a device that was read, as the text of show or as its JSON object line.
void PrintShown(const LanInterface& device, const std::string& serial, bool asJson,
                std::ostream& out);

// Finds the device (at the address of -a, when given) and reads its status and configuration,
// printing the error message on failure. Shared by show and set.
bool FindAndRead(LanInterface& device, const std::string& serial, CommandContext& context);
