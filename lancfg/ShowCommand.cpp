#include "ShowCommand.h"

#include "CommandLine.h"
#include "ConsoleTexts.h"
#include "DeviceSearch.h"
#include "FindAndRead.h"
#include "LanInterface.h"
#include "LanProtocol.h"
#include "ReportOutcome.h"

#include <sstream>

const CommandSyntax& ShowCommand::Syntax() const {
    static const CommandSyntax syntax{
        "show",
        Positional::Serial,
        "the serial number of a device",
        "--all",
        {SharedOptions::Address, SharedOptions::Json, SharedOptions::All, SharedOptions::Key,
         SharedOptions::NoInventory},
        {{{"<serial-number>"}, "show configuration parameters of one device"},
         {{"<serial-number>", "--json", "[-k]"},
          "show configuration parameters of one device as a JSON object"},
         {{"--all", "[--json]", "[-k]"}, "show configuration parameters of every device found"}}};
    return syntax;
}

int ShowCommand::Execute(const CommandLine& line, CommandContext& context) const {
    if (line.all)
        return ShowAll(context);
    const std::string& serial = line.serials.front();
    LanInterface device;
    // A device may want its key for reads.
    const ChosenKey key = context.keys.GiveTo(device, serial);
    if (const int read = FindAndRead(device, serial, key, context); read != ExitOk)
        return read;
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
    JsonObject json{
        {"serialNumber", serial},
        {"ip", JsonAddress(device.dhcp ? device.currentIp : device.staticIp)},
        {"netmask", JsonAddress(device.dhcp ? device.currentNetmask : device.staticNetmask)},
        {"gateway", JsonAddress(device.dhcp ? device.currentGateway : device.staticGateway)},
        {"dhcp", device.dhcp},
        {"encryption", device.crypt}};
    // Which device it was, for a backup of a site where one serial number answers twice.
    json["address"] = JsonAddress(device.address);
    json["network"] = JsonAddress(device.network);
    return json;
}

int ShowCommand::ShowAll(CommandContext& context) {
    // A backup must not silently hold a part of the site: the search reads past list's limit.
    SearchResult found = SearchDevices(context, SiteReplies);
    std::vector<LanInterface>& devices = found.devices;
    std::vector<ChosenKey> keys;
    for (LanInterface& device : devices)
        keys.push_back(context.keys.GiveTo(device, lanproto::PrintableText(device.serialNumber)));
    const std::vector<DeviceReads> reads = ReadAll(devices, false);
    bool failed = found.capped, keyError = false;
    std::vector<JsonObject> array;
    for (size_t i = 0; i < devices.size(); ++i) {
        const std::string serial = lanproto::PrintableText(devices[i].serialNumber);
        const LanResult read = reads[i].Result();
        // On err even in text: the output holds only what was read, so it serves as a backup.
        if (read == ResultKeyError) {
            keyError = true;
            ReportKeyError(keys[i], serial, context.err);
        } else if (read != ResultOk) {
            SayOn<kReadFailed>(context.err, serial.c_str());
            failed = true;
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
    return failed ? ExitFailed : keyError ? ExitKeyError : ExitOk;
}
