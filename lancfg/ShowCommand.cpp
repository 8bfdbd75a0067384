#include "ShowCommand.h"

#include "CommandLine.h"
#include "ConsoleTexts.h"
#include "DeviceSearch.h"
#include "FindAndRead.h"
#include "LanInterface.h"
#include "LanProtocol.h"
#include "ParallelRunner.h"

#include <sstream>

const CommandSpec& ShowCommand::Spec() const {
    static const CommandSpec spec{
        "show",
        Positional::Serial,
        "the serial number of a device",
        "--all",
        {SharedOptions::Address, SharedOptions::Json, SharedOptions::All},
        {{{"<serial-number>"}, "show configuration parameters of one device"},
         {{"<serial-number>", "--json"},
          "show configuration parameters of one device as a JSON object"},
         {{"--all", "[--json]"}, "show configuration parameters of every device found"}}};
    return spec;
}

int ShowCommand::Execute(const CommandLine& line, CommandContext& context) const {
    if (line.all)
        return ShowAll(context);
    const std::string& serial = line.serials.front();
    LanInterface device;
    if (!FindAndRead(device, serial, context))
        return ExitFailed;
    if (context.json)
        context.out << JsonLine(ShownJson(device, serial)) << std::endl;
    else
        context.out << ShownText(device, serial) << std::flush;
    return ExitOk;
}

// With DHCP the addresses in effect are shown, else the stored ones.
std::string ShowCommand::ShownText(const LanInterface& device, const std::string& serial) {
    std::ostringstream out;
    SayOn<kShowHeader>(out, serial.c_str());
    if (device.dhcp) {
        SayOn<kShowDhcpIp>(out, device.currentIp.c_str());
        SayOn<kShowDhcpNetmask>(out, device.currentNetmask.c_str());
        SayOn<kShowDhcpGateway>(out, device.currentGateway.c_str());
    } else {
        SayOn<kShowStaticIp>(out, device.staticIp.c_str());
        SayOn<kShowStaticNetmask>(out, device.staticNetmask.c_str());
        SayOn<kShowStaticGateway>(out, device.staticGateway.c_str());
    }
    SayOn<kShowDhcp>(out, device.dhcp ? "On" : "Off");
    SayOn<kShowEncryption>(out, device.crypt ? "On" : "Off");
    return out.str();
}

JsonObject ShowCommand::ShownJson(const LanInterface& device, const std::string& serial) {
    return {{"serialNumber", serial},
            {"ip", JsonAddress(device.dhcp ? device.currentIp : device.staticIp)},
            {"netmask", JsonAddress(device.dhcp ? device.currentNetmask : device.staticNetmask)},
            {"gateway", JsonAddress(device.dhcp ? device.currentGateway : device.staticGateway)},
            {"dhcp", device.dhcp},
            {"encryption", device.crypt}};
}

int ShowCommand::ShowAll(CommandContext& context) {
    std::vector<LanInterface> devices;
    DiscoverDevices(context, devices);
    std::vector<char> read(devices.size(), 0);
    RunParallel(devices.size(), SharedOptions::DefaultJobs,
                [&](size_t i) { read[i] = devices[i].ReadStatus() && devices[i].ReadConfig(); });
    int result = ExitOk;
    std::vector<JsonObject> array;
    for (size_t i = 0; i < devices.size(); ++i) {
        const std::string serial = lanproto::PrintableText(devices[i].serialNumber);
        if (!read[i]) {
            // On err even in text: the output holds only what was read, so it serves as a backup.
            SayOn<kReadFailed>(context.err, serial.c_str());
            result = ExitFailed;
        } else if (context.json) {
            array.push_back(ShownJson(devices[i], serial));
        } else {
            context.out << ShownText(devices[i], serial) << std::flush;
        }
    }
    if (context.json)
        context.out << JsonArrayLines(array) << std::flush;
    if (devices.empty())
        PrintNothingFound(context);
    return result;
}
