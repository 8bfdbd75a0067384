#include "SetCommand.h"

#include "LanInterface.h"
#include "ShowCommand.h"

int ReportOutcome(LanResult result, bool rebooting, const CommandOptions& options,
                  const std::string& serial, std::ostream& out) {
    switch (result) {
    case ResultOk:
        Print(out, "%s was updated successfully\n", serial.c_str());
        if (rebooting)
            Print(out, "%s is rebooting for the changes to become active...\n", serial.c_str());
        return ExitOk;
    case ResultKeyError:
        if (options.hasKey)
            Print(out, "%s is probably the wrong crypt key for %s\n", options.key.c_str(),
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
    if (args.size() < 2 || !options.Parse(args, "ingdyk"))
        return ExitUsage;
    const std::string& serial = args[1];
    LanInterface device;
    // A device may want its key for the reads too.
    if (options.hasKey)
        device.SetCryptKey(options.key);
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
        device.dhcp = IsOn(options.dhcp);
    if (options.hasCrypt)
        device.crypt = IsOn(options.crypt);

    LanResult result = device.WriteConfig();
    return ReportOutcome(result, device.state == StateBooting, options, serial, out);
}
