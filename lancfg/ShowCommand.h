#pragma once

#include "Command.h"

#include "JsonLines.h"

class LanInterface;

// Shows the network configuration of one LAN interface, or of every one a search finds.
class ShowCommand : public Command {
public:
    const CommandSyntax& Syntax() const override;
    int Execute(const CommandLine& line, CommandContext& context) const override;

    // The configuration of a device that was read, as the lines of show and as its JSON object.
    static std::string ShownText(const LanInterface& device, const std::string& serial);
    static JsonObject ShownJson(const LanInterface& device, const std::string& serial);

private:
    // show --all: every device a search finds, in list order; one that cannot be read is named
    // on err and makes the result ExitFailed.
    static int ShowAll(CommandContext& context);
};
