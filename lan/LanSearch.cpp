#include "LanSearch.h"

#include "LanOperations.h"
#include "LanProtocol.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

using namespace lanproto;

namespace {

// How many answers a search for one serial number collects: enough to see namesakes.
constexpr unsigned NamesakeReplies = 16;

std::unique_ptr<MulticastSender> SearchSender(const SearchScope& scope, const std::string& request,
                                              unsigned settleMs = 0) {
    auto sender = std::make_unique<MulticastSender>(MulticastGroup, Port, true);
    if (!scope.addresses.empty())
        sender->SetAddresses(scope.addresses);
    sender->SetAcceptor(
        [request](const std::string& reply) { return AcceptsReply(request, reply); });
    sender->SetSettleMs(settleMs);
    return sender;
}

SearchResult Collect(bool sent, MulticastSender& sender, const SearchScope& scope) {
    SearchResult result;
    result.sent = sent;
    result.capped = sender.ReachedLimit();
    if (scope.addresses.empty()) {
        for (const MulticastSender::Interface& network : MulticastSender::Interfaces()) {
            bool unasked = false;
            for (const MulticastSender::Interface& u : sender.Unasked())
                unasked = unasked || u.index == network.index;
            if (!unasked)
                result.asked.push_back(network.name + " (" + network.address + ")");
        }
        for (const MulticastSender::Interface& network : sender.Unasked())
            result.unasked.push_back(network.name);
    } else {
        result.unasked = sender.UnaskedAddresses();
        for (const std::string& address : scope.addresses)
            if (std::find(result.unasked.begin(), result.unasked.end(), address) ==
                result.unasked.end())
                result.asked.push_back(address);
    }
    if (!result.unasked.empty() && sender.UnaskedError() != 0)
        result.reason = std::strerror(sender.UnaskedError());
    for (const MulticastSender::Reply& reply : sender.Replies()) {
        LanInterface device;
        if (!device.ParseIdentification(reply.bytes))
            continue;
        device.interfaceIndex = reply.interfaceIndex;
        device.address = reply.from;
        device.network = reply.network;
        // Found at an address: its later requests go there alone.
        if (!scope.addresses.empty())
            device.unicastAddress = reply.from;
        result.devices.push_back(device);
    }
    return result;
}

void Search(ExchangeLoop& loop, const std::string& request, const SearchScope& scope,
            unsigned waitMs, unsigned maxReplies, std::function<void(SearchResult&)> done,
            unsigned settleMs = 0) {
    loop.Start(SearchSender(scope, request, settleMs), request, waitMs, maxReplies,
               [scope, done = std::move(done)](bool sent, MulticastSender& sender) {
                   SearchResult result = Collect(sent, sender, scope);
                   done(result);
               });
}

SearchResult RunAlone(const std::function<void(ExchangeLoop&, std::function<void(SearchResult&)>)>&
                          search) {
    ExchangeLoop loop;
    SearchResult result;
    search(loop, [&result](SearchResult& found) { result = std::move(found); });
    loop.Run();
    return result;
}

} // namespace

void SearchLanInterfaces(ExchangeLoop& loop, const SearchScope& scope, unsigned maxReplies,
                         std::function<void(SearchResult&)> done, const std::string& pattern) {
    Search(loop, BuildDiscoverRequest(pattern), scope, DiscoverWaitMs, maxReplies,
           std::move(done));
}

SearchResult SearchLanInterfaces(const SearchScope& scope, unsigned maxReplies,
                                 const std::string& pattern) {
    return RunAlone([&](ExchangeLoop& loop, std::function<void(SearchResult&)> done) {
        SearchLanInterfaces(loop, scope, maxReplies, std::move(done), pattern);
    });
}

void FindAllBySerial(ExchangeLoop& loop, const std::string& serial, const SearchScope& scope,
                     std::function<void(SearchResult&)> done) {
    // The first answer may be slow (a busy device, a router between), a namesake's comes soon
    // after it: up to a reply window for the first, then the find window for the others.
    Search(loop, BuildFindRequest(serial), scope, TransactWaitMs, NamesakeReplies,
           std::move(done), FindWaitMs);
}

SearchResult FindAllBySerial(const std::string& serial, const SearchScope& scope) {
    return RunAlone([&](ExchangeLoop& loop, std::function<void(SearchResult&)> done) {
        FindAllBySerial(loop, serial, scope, std::move(done));
    });
}

LanResult DeviceReads::Result() const {
    if (status == ResultOk && config == ResultOk)
        return ResultOk;
    if (status == ResultKeyError || config == ResultKeyError)
        return ResultKeyError;
    return ResultFailed;
}

std::vector<DeviceReads> ReadAll(std::vector<LanInterface>& devices, bool runningOnly) {
    std::vector<DeviceReads> reads(devices.size());
    ExchangeLoop loop;
    for (size_t i = 0; i < devices.size(); ++i) {
        LanInterface& device = devices[i];
        if (runningOnly && device.state != StateRun)
            continue;
        DeviceReads& r = reads[i];
        r.asked = true;
        lanops::ReadStatus(loop, device, [&loop, &device, &r](LanResult status) {
            r.status = status;
            if (status == ResultFailed && device.state == StateDisconnected)
                return; // silent: a second request would only wait out another window
            lanops::ReadConfig(loop, device, [&r](LanResult config) { r.config = config; });
        });
    }
    loop.Run();
    return reads;
}
