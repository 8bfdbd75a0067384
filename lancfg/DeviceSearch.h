#pragma once

#include <string>
#include <vector>

struct CommandContext;
class LanInterface;

// The search for all devices where the command line says: the addresses of -a, or the group on
// every local network. A failed search leaves the list as it was.
void DiscoverDevices(CommandContext& context, std::vector<LanInterface>& devices);

// Looks one device up by its serial number the same way. True when it answered.
bool FindDevice(LanInterface& device, const std::string& serial, const CommandContext& context);
