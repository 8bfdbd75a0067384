#include "ListCommand.h"

#include "CommandLine.h"
#include "ConsoleTexts.h"
#include "DeviceSearch.h"
#include "Inventory.h"
#include "JsonLines.h"
#include "LanInterface.h"
#include "LanProtocol.h"
#include "LanSearch.h"

namespace {

// A field that was read, or "?" (null in JSON) when its read failed: never a guess.
const char* Known(bool read, const std::string& text) {
    return read ? text.c_str() : "?";
}

// The fields of one list line, under plain names; the addresses only for a running device.
JsonObject DeviceJson(const LanInterface& device, int32_t state, const DeviceReads& reads) {
    JsonObject json{{"serialNumber", lanproto::PrintableText(device.serialNumber)},
                    {"version", device.version},
                    {"state", StateWord(state)}};
    if (state == StateRun) {
        const bool status = reads.status == ResultOk, config = reads.config == ResultOk;
        json["ip"] = status ? JsonAddress(device.currentIp) : JsonObject();
        json["netmask"] = status ? JsonAddress(device.currentNetmask) : JsonObject();
        json["gateway"] = status ? JsonAddress(device.currentGateway) : JsonObject();
        json["dhcp"] = config ? JsonObject(device.dhcp) : JsonObject();
        json["encryption"] = config ? JsonObject(device.crypt) : JsonObject();
    }
    json["address"] = JsonAddress(device.address);
    json["network"] = JsonAddress(device.network);
    return json;
}

} // namespace

const CommandSyntax& ListCommand::Syntax() const {
    static const CommandSyntax syntax{"list",
                                  Positional::None,
                                  nullptr,
                                  nullptr,
                                  {SharedOptions::Address, SharedOptions::Json, SharedOptions::Key,
                                   {"--known", nullptr, nullptr, nullptr,
                                    [](CommandLine& line, const std::string&) { line.known = true; },
                                    "also the remembered devices that did not answer, as offline"},
                                   SharedOptions::NoInventory},
                                  {{{}, "list all devices in local network"},
                                   {{"--json"}, "list all devices as a JSON array"},
                                   {{"--known", "[--json]"},
                                    "list also the devices seen before that did not answer now"}}};
    return syntax;
}

ListCommand::Listed ListCommand::SearchAndRead(CommandContext& context, unsigned maxReplies) {
    Listed listed;
    listed.found = SearchDevices(context, maxReplies);
    for (LanInterface& device : listed.found.devices) {
        listed.states.push_back(device.state);
        context.keys.GiveTo(device, lanproto::PrintableText(device.serialNumber));
    }
    listed.reads = ReadAll(listed.found.devices, true);
    return listed;
}

int ListCommand::Execute(const CommandLine& line, CommandContext& context) const {
    // The text keeps the protocol's limit of answers (and says when it was reached); the JSON,
    // read by programs, reads past it.
    Listed listed = SearchAndRead(context, context.json ? SiteReplies : ListReplies);
    const std::vector<LanInterface>& devices = listed.found.devices;
    const std::vector<int32_t>& states = listed.states;
    const std::vector<DeviceReads>& reads = listed.reads;
    const Recalled recalled = line.known ? Recall(context, devices) : Recalled();
    std::vector<JsonObject> array;
    for (size_t i = 0; i < devices.size(); ++i) {
        const LanInterface& device = devices[i];
        if (context.json) {
            array.push_back(DeviceJson(device, states[i], reads[i]));
            if (line.known)
                AddSeenJson(array.back(), recalled.found[i], true);
            continue;
        }
        Say<kListDevice>(context, lanproto::PrintableText(device.serialNumber).c_str(),
                         device.version.c_str(), StateWord(states[i]));
        if (states[i] == StateRun) {
            const bool status = reads[i].status == ResultOk, config = reads[i].config == ResultOk;
            Say<kListAddresses>(context, Known(status, device.currentIp),
                                Known(status, device.currentNetmask),
                                Known(status, device.currentGateway),
                                config ? (device.dhcp ? "DHCP" : "STAT") : "?",
                                config ? (device.crypt ? "CRYPT" : "PLAIN") : "?");
        }
        Say<kLineEnd>(context);
    }
    // The remembered devices that did not answer, after those that did.
    for (const InventoryEntry& entry : recalled.offline) {
        if (context.json) {
            array.push_back(OfflineJson(entry));
            continue;
        }
        Say<kListDevice>(context, entry.serialNumber.c_str(), entry.version.c_str(),
                         kOffline.format);
        Say<kListOffline>(context, IsoTime(entry.lastSeen).c_str(), WhereSeen(entry).c_str());
        Say<kLineEnd>(context);
    }
    if (context.json)
        context.out << JsonArrayLines(array) << std::flush;
    if (devices.empty())
        PrintNothingFound(context);
    return ExitOk;
}
