#include "SetCommand.h"

#include "CommandLine.h"
#include "ConsoleTexts.h"
#include "FindAndRead.h"
#include "LanInterface.h"
#include "ReportOutcome.h"
#include "TextUtil.h"

namespace {

// A write takes what was typed or nothing: every value is checked before anything is sent.
constexpr const char* NotAnAddress =
    "is not an IPv4 address (four numbers 0 to 255, no leading zeros)";
constexpr const char* NotAFlag = "is neither on nor off";

bool IsFlag(const std::string& value) {
    return ParseFlag(value, nullptr);
}

bool FlagValue(const std::string& value) {
    bool on = false;
    ParseFlag(value, &on);
    return on;
}

} // namespace

const CommandSyntax& SetCommand::Syntax() const {
    static const CommandSyntax syntax{
        "set",
        Positional::Serial,
        "the serial number of a device",
        nullptr,
        {SharedOptions::Address,
         {"-i", "<ip>", IsIpv4Text, NotAnAddress,
          [](CommandLine& line, const std::string& value) { line.ip = value; },
          "the new static IPv4 address"},
         {"-n", "<netmask>", IsIpv4Text, NotAnAddress,
          [](CommandLine& line, const std::string& value) { line.netmask = value; },
          "the new static netmask"},
         {"-g", "<gateway>", IsIpv4Text, NotAnAddress,
          [](CommandLine& line, const std::string& value) { line.gateway = value; },
          "the new static gateway"},
         {"-d", "<dhcp_flag>", IsFlag, NotAFlag,
          [](CommandLine& line, const std::string& value) { line.dhcp = FlagValue(value); },
          "on: the device takes its address by DHCP; off: its static one"},
         {"-y", "<crypt_flag>", IsFlag, NotAFlag,
          [](CommandLine& line, const std::string& value) { line.crypt = FlagValue(value); },
          "on or off: encryption of the device's LAN traffic"},
         SharedOptions::Key},
        {{{"<serial-number>", "[-i]", "[-n]", "[-g]", "[-d]", "[-y]", "[-k]"},
          "set configuration parameters of one device"}}};
    return syntax;
}

std::string SetCommand::Misuse(const CommandLine& line) const {
    if (!line.ip && !line.netmask && !line.gateway && !line.dhcp && !line.crypt)
        return TextOf<kChangesNothing>();
    return std::string();
}

int SetCommand::Execute(const CommandLine& line, CommandContext& context) const {
    const std::string& serial = line.serials.front();
    LanInterface device;
    // A device may want its key for the reads too.
    const ChosenKey key = context.keys.GiveTo(device, serial);
    if (const int read = FindAndRead(device, serial, key, context); read != ExitOk)
        return read;

    // Options not given keep the values just read, so they are written back unchanged.
    device.staticIp = line.ip.value_or(device.staticIp);
    device.staticNetmask = line.netmask.value_or(device.staticNetmask);
    device.staticGateway = line.gateway.value_or(device.staticGateway);
    device.dhcp = line.dhcp.value_or(device.dhcp);
    device.crypt = line.crypt.value_or(device.crypt);

    WriteFailure why = WriteKept;
    const LanResult result = device.WriteConfig(&why);
    return ReportOutcome(result, device.state == StateBooting, key, serial, context.out, why);
}
