#include "ShowCommand.h"

#include "DeviceSearch.h"
#include "JsonWriter.h"
#include "LanInterface.h"
#include "LanProtocol.h"
#include "ParallelRunner.h"

#include <sstream>

bool FindAndRead(LanInterface& device, const std::string& serial, CommandContext& context) {
    if (!FindDevice(device, serial, context)) {
        Print(context.Messages(), "Error: Lan Interface %s not found on LAN.\n", serial.c_str());
        PrintNotFound(context, serial);
        return false;
    }
    if (!device.ReadStatus() || !device.ReadConfig()) {
        Print(context.Messages(), "Error reading configuration from Lan Interface %s.\n",
              serial.c_str());
        return false;
    }
    return true;
}

int ShowCommand::Execute(const std::vector<std::string>& args, CommandContext& context) {
    std::ostream& out = context.out;
    if (args.size() != 2) {
        context.misuse = "show takes no argument \"" +
                         lanproto::PrintableText(args.size() > 2 ? args[2] : std::string()) +
                         "\" after the serial number";
        return ExitUsage;
    }
    const std::string& serial = args[1];
    if (serial == "--all")
        return ShowAll(context);
    LanInterface device;
    if (!FindAndRead(device, serial, context))
        return ExitFailed;
    PrintShown(device, serial, context.json, out);
    return ExitOk;
}

void PrintShown(const LanInterface& device, const std::string& serial, bool asJson,
                std::ostream& out) {
    // With DHCP the addresses in effect are shown, else the stored ones.
    const std::string& ip = device.dhcp ? device.currentIp : device.staticIp;
    const std::string& netmask = device.dhcp ? device.currentNetmask : device.staticNetmask;
    const std::string& gateway = device.dhcp ? device.currentGateway : device.staticGateway;
    if (asJson) {
        JsonWriter json;
        json.String("serialNumber", serial);
        json.Address("ip", ip);
        json.Address("netmask", netmask);
        json.Address("gateway", gateway);
        json.Bool("dhcp", device.dhcp);
        json.Bool("encryption", device.crypt);
        Print(out, "%s\n", json.Object().c_str());
        return;
    }
    Print(out, "%s configuration parameters:\n", serial.c_str());
    if (device.dhcp) {
        Print(out, "  DHCP IP:         %s\n", ip.c_str());
        Print(out, "  DHCP Netmask:    %s\n", netmask.c_str());
        Print(out, "  DHCP Gateway:    %s\n", gateway.c_str());
    } else {
        Print(out, "  Static IP:       %s\n", ip.c_str());
        Print(out, "  Static Netmask:  %s\n", netmask.c_str());
        Print(out, "  Static Gateway:  %s\n", gateway.c_str());
    }
    Print(out, "  DHCP:            %s\n", device.dhcp ? "On" : "Off");
    Print(out, "  Lan Encryption:  %s\n", device.crypt ? "On" : "Off");
}

int ShowCommand::ShowAll(CommandContext& context) {
    std::vector<LanInterface> devices;
    DiscoverDevices(context, devices);
    std::vector<char> read(devices.size(), 0);
    RunParallel(devices.size(), 16, [&](size_t i) {
        read[i] = devices[i].ReadStatus() && devices[i].ReadConfig();
    });
    int result = ExitOk;
    std::string array;
    for (size_t i = 0; i < devices.size(); ++i) {
        const std::string serial = lanproto::PrintableText(devices[i].serialNumber);
        if (!read[i]) {
            // Left out of the output, so that a backup holds only what was read.
            Print(context.err, "Error reading configuration from Lan Interface %s.\n",
                  serial.c_str());
            result = ExitFailed;
            continue;
        }
        std::ostringstream shown;
        PrintShown(devices[i], serial, context.json, shown);
        if (context.json)
            array += (array.empty() ? "[\n" : ",\n") + shown.str().substr(0, shown.str().size() - 1);
        else
            context.out << shown.str();
    }
    if (context.json)
        Print(context.out, "%s\n", array.empty() ? "[]" : (array + "\n]").c_str());
    if (devices.empty())
        PrintNothingFound(context);
    return result;
}
