#pragma once

#include "LanSearch.h"

#include <string>
#include <vector>

struct CommandContext;
class LanInterface;

// Where the command line sends a search: the addresses of -a, or the group on every network.
SearchScope ScopeOf(const CommandContext& context);

// The answers a search collects: the protocol's 1000 for list, far more for the commands that
// act on a whole site (show --all, fwupdate --all), which must not miss a part of it.
inline constexpr unsigned ListReplies = 1000;
inline constexpr unsigned SiteReplies = 65536;

// The search for all devices where the command line says, with the line on err that names the
// networks or addresses it could not be sent on. When it collected maxReplies answers, a line
// says so; the caller decides whether that ends the command (it does where a part of the site
// would be taken for all of it).
SearchResult SearchDevices(CommandContext& context, unsigned maxReplies);

// The same, appending the devices found to devices (a failed search adds nothing).
void DiscoverDevices(CommandContext& context, std::vector<LanInterface>& devices);

// How looking one device up ended.
enum class FindOutcome {
    Found,
    NotFound,
    Namesakes, // the serial number answered from more than one address: which is meant?
};
// Looks one device up by its serial number where the command line says, collecting every
// answer of the find window. Found: device holds the record found (its key kept). Namesakes:
// namesakes holds every record that answered. Prints nothing.
FindOutcome FindDevice(LanInterface& device, const std::string& serial,
                       const CommandContext& context,
                       std::vector<LanInterface>* namesakes = nullptr);
// Every answer for each serial number, all looked up at once within one find window.
std::vector<SearchResult> FindEach(const std::vector<std::string>& serials,
                                   const CommandContext& context);
// "10.1.0.5 (vkd0) and 10.2.0.5 (vkd1)": where namesakes answered from.
std::string NamesakePlaces(std::vector<LanInterface> namesakes);
