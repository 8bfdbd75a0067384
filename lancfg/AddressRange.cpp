#include "AddressRange.h"

#include "CommandSyntax.h"
#include "ConsoleTexts.h"
#include "LanProtocol.h"
#include "TextUtil.h"

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

uint32_t Numeric(const std::string& dotted) {
    in_addr a{};
    ::inet_pton(AF_INET, dotted.c_str(), &a);
    return ntohl(a.s_addr);
}

} // namespace

bool AddressRange::IsAddressOrRange(const std::string& value) {
    const size_t slash = value.find('/');
    if (!IsIpv4Text(value.substr(0, slash)))
        return false;
    if (slash == std::string::npos)
        return true;
    const std::string prefix = value.substr(slash + 1);
    return !prefix.empty() && prefix.size() <= 2 &&
           prefix.find_first_not_of("0123456789") == std::string::npos && std::stoi(prefix) <= 32;
}

AddressRange::Outcome AddressRange::Expand(const std::string& value,
                                           std::vector<std::string>* addresses,
                                           std::string* reason) {
    if (!IsAddressOrRange(value))
        return RangeInvalid;
    const size_t slash = value.find('/');
    const uint32_t address = Numeric(value.substr(0, slash));
    if (IN_MULTICAST(address) &&
        (slash != std::string::npos || address != Numeric(lanproto::MulticastGroup))) {
        *reason = "-a " + value + " is a multicast address; the devices answer only " +
                  lanproto::MulticastGroup + " and their own addresses";
        return RangeRefused;
    }
    if (slash == std::string::npos) {
        addresses->push_back(value);
        return RangeOk;
    }
    const int prefix = std::stoi(value.substr(slash + 1));
    if (prefix < SmallestPrefix) {
        *reason = "-a " + value + " holds more than 1024 addresses; give ranges from /" +
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

bool ResolveAddresses(const std::vector<std::string>& values, CommandContext& context) {
    std::vector<std::string> expanded;
    for (const std::string& value : values) {
        std::string reason;
        const AddressRange::Outcome outcome = AddressRange::Expand(value, &expanded, &reason);
        if (outcome == AddressRange::RangeInvalid)
            reason = "-a " + lanproto::PrintableText(value) + " " + SharedOptions::Address.refusal;
        if (outcome != AddressRange::RangeOk) {
            Say<kErrorLine>(context, reason.c_str());
            return false;
        }
    }
    if (values.size() == 1 && values[0].find('/') == std::string::npos) {
        context.address = values[0];
        return true;
    }
    std::set<std::string> seen;
    for (const std::string& a : expanded)
        if (seen.insert(a).second)
            context.addresses.push_back(a);
    return true;
}
