#pragma once

// Requests to many addresses at once, for devices behind routers: one datagram to each address,
// every answer collected within the one reply window of the request, so that asking a whole
// range takes as long as asking one address. A record found this way keeps the address that
// answered as its unicastAddress, so later requests go to that device alone.

#include "LanInterface.h"

#include <string>
#include <vector>

// The search for all devices of DiscoverLanInterfaces, sent to every address.
bool DiscoverAtAddresses(const std::string& pattern, const std::vector<std::string>& addresses,
                         std::vector<LanInterface>& list);

// FindBySerial sent to every address; the first answer that names serial fills the record.
bool FindBySerialAtAddresses(LanInterface& device, const std::string& serial,
                             const std::vector<std::string>& addresses);
