#include "ShowCommand.h"

#include "JsonWriter.h"
#include "LanInterface.h"
#include "LanProtocol.h"

bool FindAndRead(LanInterface& device, const std::string& serial, CommandContext& context) {
    device.unicastAddress = context.address;
    if (!device.FindBySerial(serial)) {
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
    LanInterface device;
    if (!FindAndRead(device, serial, context))
        return ExitFailed;
    // With DHCP the addresses in effect are shown, else the stored ones.
    const std::string& ip = device.dhcp ? device.currentIp : device.staticIp;
    const std::string& netmask = device.dhcp ? device.currentNetmask : device.staticNetmask;
    const std::string& gateway = device.dhcp ? device.currentGateway : device.staticGateway;
    if (context.json) {
        JsonWriter json;
        json.String("serialNumber", serial);
        json.Address("ip", ip);
        json.Address("netmask", netmask);
        json.Address("gateway", gateway);
        json.Bool("dhcp", device.dhcp);
        json.Bool("encryption", device.crypt);
        Print(out, "%s\n", json.Object().c_str());
        return ExitOk;
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
    return ExitOk;
}
