#include "AddressRange.h"

#include "Command.h"
#include "LanProtocol.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <set>

namespace {

std::string Dotted(uint32_t address) {
    in_addr a{};
    a.s_addr = htonl(address);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

bool ParseAddress(const std::string& text, uint32_t* address) {
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1)
        return false;
    *address = ntohl(a.s_addr);
    return true;
}

} // namespace

AddressRange::Outcome AddressRange::Expand(const std::string& value,
                                           std::vector<std::string>* addresses,
                                           std::string* reason) {
    const size_t slash = value.find('/');
    uint32_t address = 0;
    if (!ParseAddress(value.substr(0, slash), &address))
        return RangeInvalid;
    uint32_t group = 0;
    ParseAddress(lanproto::MulticastGroup, &group);
    if (IN_MULTICAST(address) && (slash != std::string::npos || address != group)) {
        *reason = "Error: -a " + value + " is a multicast address; the devices answer only " +
                  lanproto::MulticastGroup + " and their own addresses";
        return RangeRefused;
    }
    if (slash == std::string::npos) {
        addresses->push_back(value);
        return RangeOk;
    }
    const std::string prefixText = value.substr(slash + 1);
    if (prefixText.empty() || prefixText.size() > 2 ||
        prefixText.find_first_not_of("0123456789") != std::string::npos)
        return RangeInvalid;
    const int prefix = std::stoi(prefixText);
    if (prefix > 32)
        return RangeInvalid;
    if (prefix < SmallestPrefix) {
        *reason = "Error: -a " + value + " holds more than 1024 addresses; give ranges from /" +
                  std::to_string(SmallestPrefix) + " to /32, several -a if need be";
        return RangeRefused;
    }
    const uint32_t size = prefix == 32 ? 1u : (1u << (32 - prefix));
    const uint32_t first = address & ~(size - 1);
    // /31 and /32 have no network and broadcast addresses to leave out.
    const uint32_t skip = size > 2 ? 1 : 0;
    for (uint32_t i = skip; i < size - skip; ++i)
        addresses->push_back(Dotted(first + i));
    return RangeOk;
}

AddressRange::Outcome ResolveAddresses(CommandContext& context) {
    const std::vector<std::string> values = std::move(context.addresses);
    context.addresses.clear();
    if (values.empty())
        return AddressRange::RangeOk;
    std::vector<std::string> expanded;
    for (const std::string& value : values) {
        std::string reason;
        const AddressRange::Outcome outcome = AddressRange::Expand(value, &expanded, &reason);
        if (outcome == AddressRange::RangeRefused) {
            Print(context.err, "%s\n", reason.c_str());
            context.refused = true;
        }
        if (outcome != AddressRange::RangeOk)
            return outcome;
    }
    if (values.size() == 1 && values[0].find('/') == std::string::npos) {
        context.address = values[0];
        return AddressRange::RangeOk;
    }
    std::set<std::string> seen;
    for (const std::string& a : expanded)
        if (seen.insert(a).second)
            context.addresses.push_back(a);
    return AddressRange::RangeOk;
}
