#include "DiscoverAddresses.h"

#include "LanProtocol.h"
#include "LanSearch.h"

bool DiscoverAtAddresses(const std::string& pattern, const std::vector<std::string>& addresses,
                         std::vector<LanInterface>& list) {
    SearchResult found = SearchLanInterfaces({addresses}, lanproto::DiscoverMaxReplies, pattern);
    if (!found.sent)
        return false;
    list.insert(list.end(), found.devices.begin(), found.devices.end());
    return true;
}

bool FindBySerialAtAddresses(LanInterface& device, const std::string& serial,
                             const std::vector<std::string>& addresses) {
    SearchResult found = FindAllBySerial(serial, {addresses});
    if (found.devices.empty())
        return false;
    const std::string key = device.cryptKey;
    device = found.devices.front();
    device.cryptKey = key;
    return true;
}
