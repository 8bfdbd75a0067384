#include "SetCommand.h"

#include "KeySource.h"
#include "LanInterface.h"
#include "LanProtocol.h"
#include "ShowCommand.h"

int ReportOutcome(LanResult result, bool rebooting, const ChosenKey& key,
                  const std::string& serial, std::ostream& out) {
    switch (result) {
    case ResultOk:
        Print(out, "%s was updated successfully\n", serial.c_str());
        if (rebooting)
            Print(out, "%s is rebooting for the changes to become active...\n", serial.c_str());
        return ExitOk;
    case ResultKeyError:
        if (key.present)
            Print(out, "%s is probably the wrong crypt key for %s\n", key.Named().c_str(),
                  serial.c_str());
        else
            Print(out, "You need to specify %ss crypt key with \"-k\"\n", serial.c_str());
        return ExitKeyError;
    default:
        Print(out, "Updating %s failed\n", serial.c_str());
        return ExitFailed;
    }
}

int SetCommand::Execute(const std::vector<std::string>& args, CommandContext& context) {
    std::ostream& out = context.out;
    CommandOptions options;
    if (args.size() < 2 || !options.Parse(args, "ingdyk", &context.misuse))
        return ExitUsage;
    // Every value is checked before anything is sent: a write takes what was typed or nothing.
    const struct {
        const char* option;
        bool given;
        const std::string& value;
    } addresses[] = {{"-i", options.hasIp, options.ip},
                     {"-n", options.hasNetmask, options.netmask},
                     {"-g", options.hasGateway, options.gateway}};
    for (const auto& a : addresses) {
        if (a.given && !IsAddressText(a.value)) {
            context.misuse = std::string(a.option) + " " + lanproto::PrintableText(a.value) +
                             " is not an IPv4 address (four numbers 0 to 255, no leading zeros)";
            return ExitUsage;
        }
    }
    bool dhcp = false, crypt = false;
    const struct {
        const char* option;
        bool given;
        const std::string& value;
        bool* on;
    } flags[] = {{"-d", options.hasDhcp, options.dhcp, &dhcp},
                 {"-y", options.hasCrypt, options.crypt, &crypt}};
    for (const auto& f : flags) {
        if (f.given && !ParseFlag(f.value, f.on)) {
            context.misuse = std::string(f.option) + " " + lanproto::PrintableText(f.value) +
                             " is neither on nor off";
            return ExitUsage;
        }
    }
    if (!options.hasIp && !options.hasNetmask && !options.hasGateway && !options.hasDhcp &&
        !options.hasCrypt) {
        context.misuse = "set without -i, -n, -g, -d or -y changes nothing; nothing was sent";
        return ExitUsage;
    }
    const std::string& serial = args[1];
    KeySource keys(false, std::string(), nullptr, std::string());
    if (!LoadKeys(options.hasKey, options.key, context, &keys))
        return ExitUsage;
    LanInterface device;
    // A device may want its key for the reads too.
    const ChosenKey key = keys.For(serial);
    if (key.present)
        device.SetCryptKey(key.text);
    if (!FindAndRead(device, serial, context))
        return ExitFailed;

    // Options not given keep the values just read, so they are written back unchanged.
    if (options.hasIp)
        device.staticIp = options.ip;
    if (options.hasNetmask)
        device.staticNetmask = options.netmask;
    if (options.hasGateway)
        device.staticGateway = options.gateway;
    if (options.hasDhcp)
        device.dhcp = dhcp;
    if (options.hasCrypt)
        device.crypt = crypt;

    LanResult result = device.WriteConfig();
    return ReportOutcome(result, device.state == StateBooting, key, serial, out);
}
