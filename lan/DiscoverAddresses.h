#pragma once

// Requests to many addresses at once, for devices behind routers: one datagram to each address,
// every answer collected within the one reply window of the request, so that asking a whole
// range takes as long as asking one address. A record found this way keeps the address that
// answered as its unicastAddress, so later requests go to that device alone.

#include "LanInterface.h"

#include <string>
#include <vector>

// One answering datagram and the address it came from.
struct AddressReply {
    std::string bytes;
    std::string from; // dotted
};

// Sends request to port 23272 of every address (broadcast addresses allowed) and collects the
// answers until waitMs have passed or maxReplies came. The same bytes from the same sender count
// once. False only when no datagram could be sent.
bool SendToAddresses(const std::string& request, const std::vector<std::string>& addresses,
                     unsigned waitMs, unsigned maxReplies, std::vector<AddressReply>& replies);

// The search for all devices of DiscoverLanInterfaces, sent to every address.
bool DiscoverAtAddresses(const std::string& pattern, const std::vector<std::string>& addresses,
                         std::vector<LanInterface>& list);

// FindBySerial sent to every address; the first acceptable answer fills the record.
bool FindBySerialAtAddresses(LanInterface& device, const std::string& serial,
                             const std::vector<std::string>& addresses);
