#include "DeviceSearch.h"

#include "Command.h"
#include "ConsoleTexts.h"
#include "Inventory.h"
#include "LanInterface.h"
#include "LanProtocol.h"

#include <algorithm>
#include <tuple>

SearchScope ScopeOf(const CommandContext& context) {
    SearchScope scope;
    scope.addresses = context.addresses;
    if (!context.address.empty())
        scope.addresses.push_back(context.address);
    return scope;
}

SearchResult SearchDevices(CommandContext& context, unsigned maxReplies) {
    const SearchScope scope = ScopeOf(context);
    SearchResult result = SearchLanInterfaces(scope, maxReplies);
    if (scope.addresses.empty()) {
        context.unasked = result.unasked;
        if (!result.unasked.empty())
            Say<kSearchNotSent>(context, NameAFew(result.unasked).c_str(), result.reason.c_str());
    } else if (!result.unasked.empty()) {
        Say<kSearchNotSentToAddresses>(context, result.unasked.size(), scope.addresses.size(),
                                       result.reason.empty() ? "not an address"
                                                             : result.reason.c_str());
    }
    if (result.capped)
        Say<kRepliesCapped>(context, result.devices.size());
    RememberDevices(context, result.devices);
    return result;
}

void DiscoverDevices(CommandContext& context, std::vector<LanInterface>& devices) {
    SearchResult result = SearchDevices(context, ListReplies);
    devices.insert(devices.end(), result.devices.begin(), result.devices.end());
}

FindOutcome FindDevice(LanInterface& device, const std::string& serial,
                       const CommandContext& context,
                       std::vector<LanInterface>* namesakes) {
    SearchResult found = FindAllBySerial(serial, ScopeOf(context));
    if (found.devices.empty())
        return FindOutcome::NotFound;
    if (found.devices.size() > 1) {
        if (namesakes)
            *namesakes = found.devices;
        return FindOutcome::Namesakes;
    }
    const std::string key = device.cryptKey;
    device = found.devices.front();
    device.cryptKey = key;
    return FindOutcome::Found;
}

std::vector<SearchResult> FindEach(const std::vector<std::string>& serials,
                                   const CommandContext& context) {
    std::vector<SearchResult> found(serials.size());
    ExchangeLoop loop;
    const SearchScope scope = ScopeOf(context);
    for (size_t i = 0; i < serials.size(); ++i)
        FindAllBySerial(loop, serials[i], scope,
                        [&found, i](SearchResult& result) { found[i] = std::move(result); });
    loop.Run();
    std::vector<LanInterface> devices;
    for (const SearchResult& result : found)
        devices.insert(devices.end(), result.devices.begin(), result.devices.end());
    RememberDevices(context, devices);
    return found;
}

std::string NamesakePlaces(std::vector<LanInterface> namesakes) {
    // In the order of their addresses, so that the line reads the same each time.
    std::sort(namesakes.begin(), namesakes.end(), [](const LanInterface& a, const LanInterface& b) {
        return std::tie(a.address, a.network) < std::tie(b.address, b.network);
    });
    std::string text;
    for (size_t i = 0; i < namesakes.size(); ++i) {
        const LanInterface& d = namesakes[i];
        if (i > 0)
            text += i + 1 == namesakes.size() ? " and " : ", ";
        text += d.address.empty() ? std::string("an unknown address") : d.address;
        if (!d.network.empty())
            text += " (" + d.network + ")";
    }
    return text;
}
