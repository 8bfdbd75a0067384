#include "FwupdateCommand.h"

#include "DeviceSearch.h"
#include "KeySource.h"
#include "LanInterface.h"
#include "ProgressPrinter.h"
#include "SetCommand.h"

int FwupdateCommand::Execute(const std::vector<std::string>& args, CommandContext& context) {
    std::ostream& out = context.out;
    CommandOptions options;
    if (args.size() < 2 || !options.Parse(args, "fk") || !options.hasFile)
        return ExitUsage;
    const std::string& serial = args[1];
    KeySource keys(false, std::string(), nullptr, std::string());
    if (!LoadKeys(options.hasKey, options.key, context, &keys))
        return ExitUsage;
    LanInterface device;
    if (!FindDevice(device, serial, context)) {
        Print(out, "Error: Lan Interface %s not found on LAN.\n", serial.c_str());
        PrintNothingFound(context);
        return ExitFailed;
    }
    const ChosenKey key = keys.For(serial);
    if (key.present)
        device.SetCryptKey(key.text);

    ProgressPrinter printer(out);
    std::string refusal;
    LanResult result = device.UpdateFirmware(options.file, printer, &refusal);
    Print(out, "\n"); // ends the progress line whatever the outcome
    if (!refusal.empty())
        Print(context.err, "Firmware file %s: %s\n", options.file.c_str(), refusal.c_str());
    return ReportOutcome(result, false, key, serial, out);
}
