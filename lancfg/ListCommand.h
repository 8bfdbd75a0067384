#pragma once

#include "Command.h"
#include "LanSearch.h"

#include <cstdint>
#include <vector>

// Lists every LAN interface on the local network with its state and, when it runs, its addresses.
class ListCommand : public Command {
public:
    const CommandSyntax& Syntax() const override;
    int Execute(const CommandLine& line, CommandContext& context) const override;

    // What list learns of a site, also for export: the search, the state each device was found
    // in (shown whatever the reads bring), and the reads of the running ones, with their keys.
    struct Listed {
        SearchResult found;
        std::vector<int32_t> states;
        std::vector<DeviceReads> reads;
    };
    static Listed SearchAndRead(CommandContext& context, unsigned maxReplies);
};
