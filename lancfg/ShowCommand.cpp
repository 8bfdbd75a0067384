#include "ShowCommand.h"

#include "LanInterface.h"

bool FindAndRead(LanInterface& device, const std::string& serial, std::ostream& out) {
    if (!device.FindBySerial(serial)) {
        Print(out, "Error: Lan Interface %s not found on LAN.\n", serial.c_str());
        return false;
    }
    if (!device.ReadStatus() || !device.ReadConfig()) {
        Print(out, "Error reading configuration from Lan Interface %s.\n", serial.c_str());
        return false;
    }
    return true;
}

int ShowCommand::Execute(const std::vector<std::string>& args, CommandContext& context) {
    std::ostream& out = context.out;
    if (args.size() != 2)
        return ExitUsage;
    const std::string& serial = args[1];
    LanInterface device;
    if (!FindAndRead(device, serial, out))
        return ExitFailed;
    Print(out, "%s configuration parameters:\n", serial.c_str());
    if (device.dhcp) {
        Print(out, "  DHCP IP:         %s\n", device.currentIp.c_str());
        Print(out, "  DHCP Netmask:    %s\n", device.currentNetmask.c_str());
        Print(out, "  DHCP Gateway:    %s\n", device.currentGateway.c_str());
    } else {
        Print(out, "  Static IP:       %s\n", device.staticIp.c_str());
        Print(out, "  Static Netmask:  %s\n", device.staticNetmask.c_str());
        Print(out, "  Static Gateway:  %s\n", device.staticGateway.c_str());
    }
    Print(out, "  DHCP:            %s\n", device.dhcp ? "On" : "Off");
    Print(out, "  Lan Encryption:  %s\n", device.crypt ? "On" : "Off");
    return ExitOk;
}
