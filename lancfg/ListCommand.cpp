#include "ListCommand.h"

#include "CommandLine.h"
#include "ConsoleTexts.h"
#include "DeviceSearch.h"
#include "JsonLines.h"
#include "LanInterface.h"
#include "LanProtocol.h"
#include "ReadDevices.h"

namespace {

// The fields of one list line, under plain names; the addresses only for a running device.
JsonObject DeviceJson(const LanInterface& device) {
    JsonObject json{{"serialNumber", lanproto::PrintableText(device.serialNumber)},
                    {"version", device.version},
                    {"state", StateWord(device.state)}};
    if (device.state == StateRun) {
        json["ip"] = JsonAddress(device.currentIp);
        json["netmask"] = JsonAddress(device.currentNetmask);
        json["gateway"] = JsonAddress(device.currentGateway);
        json["dhcp"] = device.dhcp;
        json["encryption"] = device.crypt;
    }
    return json;
}

} // namespace

const CommandSpec& ListCommand::Spec() const {
    static const CommandSpec spec{"list",
                                  Positional::None,
                                  nullptr,
                                  nullptr,
                                  {SharedOptions::Address, SharedOptions::Json},
                                  {{{}, "list all devices in local network"},
                                   {{"--json"}, "list all devices as a JSON array"}}};
    return spec;
}

int ListCommand::Execute(const CommandLine& /*line*/, CommandContext& context) const {
    std::vector<LanInterface> devices;
    // A failed search lists nothing.
    DiscoverDevices(context, devices);
    // The state each device was found in: the line begins with it, whatever the reads bring.
    std::vector<int32_t> found;
    for (const LanInterface& device : devices)
        found.push_back(device.state);
    ReadDevices(devices);
    std::vector<JsonObject> array;
    for (size_t i = 0; i < devices.size(); ++i) {
        const LanInterface& device = devices[i];
        if (context.json) {
            array.push_back(DeviceJson(device));
            continue;
        }
        Say<kListDevice>(context, lanproto::PrintableText(device.serialNumber).c_str(),
                         device.version.c_str(), StateWord(found[i]));
        if (device.state == StateRun)
            Say<kListAddresses>(context, device.currentIp.c_str(), device.currentNetmask.c_str(),
                                device.currentGateway.c_str(), device.dhcp ? "DHCP" : "STAT",
                                device.crypt ? "CRYPT" : "PLAIN");
        Say<kLineEnd>(context);
    }
    if (context.json)
        context.out << JsonArrayLines(array) << std::flush;
    if (devices.empty())
        PrintNothingFound(context);
    return ExitOk;
}
