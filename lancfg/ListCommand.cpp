#include "ListCommand.h"

#include "DeviceSearch.h"
#include "JsonWriter.h"
#include "LanInterface.h"
#include "LanProtocol.h"
#include "ReadDevices.h"

namespace {

// The fields of one list line, under plain names; the addresses only for a running device.
std::string JsonObject(const LanInterface& device) {
    JsonWriter json;
    json.String("serialNumber", lanproto::PrintableText(device.serialNumber));
    json.String("version", device.version);
    json.String("state", StateWord(device.state));
    if (device.state == StateRun) {
        json.Address("ip", device.currentIp);
        json.Address("netmask", device.currentNetmask);
        json.Address("gateway", device.currentGateway);
        json.Bool("dhcp", device.dhcp);
        json.Bool("encryption", device.crypt);
    }
    return json.Object();
}

} // namespace

int ListCommand::Execute(const std::vector<std::string>& args, CommandContext& context) {
    std::ostream& out = context.out;
    if (args.size() != 1) {
        context.misuse = "list takes no argument \"" + lanproto::PrintableText(args[1]) + "\"";
        return ExitUsage;
    }
    std::vector<LanInterface> devices;
    // A failed search lists nothing.
    DiscoverDevices(context, devices);
    // The state each device was found in: the line begins with it, whatever the reads bring.
    std::vector<int32_t> found;
    for (const LanInterface& device : devices)
        found.push_back(device.state);
    ReadDevices(devices);
    std::string array;
    for (size_t i = 0; i < devices.size(); ++i) {
        const LanInterface& device = devices[i];
        if (context.json) {
            array += (array.empty() ? "[\n" : ",\n") + JsonObject(device);
            continue;
        }
        Print(out, "%s %6s %s ", lanproto::PrintableText(device.serialNumber).c_str(),
              device.version.c_str(), StateWord(found[i]));
        if (device.state == StateRun)
            Print(out, "%s/%s GW=%s %s %s", device.currentIp.c_str(), device.currentNetmask.c_str(),
                  device.currentGateway.c_str(), device.dhcp ? "DHCP" : "STAT",
                  device.crypt ? "CRYPT" : "PLAIN");
        Print(out, "\n");
    }
    if (context.json)
        Print(out, "%s\n", array.empty() ? "[]" : (array + "\n]").c_str());
    if (devices.empty())
        PrintNothingFound(context);
    return ExitOk;
}
