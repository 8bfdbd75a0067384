#include "ListCommand.h"

#include "LanInterface.h"
#include "LanProtocol.h"

namespace {

const char* StateWord(int32_t state) {
    switch (state) {
    case StateDisconnected:
        return "Disconnected";
    case StateRun:
        return "Run";
    case StateMaintenance:
        return "Maintenance";
    case StateBooting:
        return "Booting";
    default:
        return "Error";
    }
}

} // namespace

int ListCommand::Execute(const std::vector<std::string>& args, CommandContext& context) {
    std::ostream& out = context.out;
    if (args.size() != 1)
        return ExitUsage;
    std::vector<LanInterface> devices;
    DiscoverLanInterfaces(lanproto::SearchPattern, devices); // a failed search lists nothing
    for (LanInterface& device : devices) {
        Print(out, "%s %6s %s ", lanproto::PrintableText(device.serialNumber).c_str(),
              device.version.c_str(),
              StateWord(device.state));
        if (device.state == StateRun) {
            device.ReadStatus();
            device.ReadConfig();
            Print(out, "%s/%s GW=%s %s %s", device.currentIp.c_str(), device.currentNetmask.c_str(),
                  device.currentGateway.c_str(), device.dhcp ? "DHCP" : "STAT",
                  device.crypt ? "CRYPT" : "PLAIN");
        }
        Print(out, "\n");
    }
    return ExitOk;
}
