#include "FwupdateCommand.h"

#include "LanInterface.h"
#include "ProgressPrinter.h"
#include "SetCommand.h"

int FwupdateCommand::Execute(const std::vector<std::string>& args, CommandContext& context) {
    std::ostream& out = context.out;
    CommandOptions options;
    if (args.size() < 2 || !options.Parse(args, "fk", &context.misuse))
        return ExitUsage;
    if (!options.hasFile) {
        context.misuse = "fwupdate needs the firmware file: -f <firmware-file>";
        return ExitUsage;
    }
    const std::string& serial = args[1];
    LanInterface device;
    device.unicastAddress = context.address;
    if (!device.FindBySerial(serial)) {
        Print(out, "Error: Lan Interface %s not found on LAN.\n", serial.c_str());
        PrintNotFound(context, serial);
        return ExitFailed;
    }
    if (options.hasKey)
        device.SetCryptKey(options.key);

    ProgressPrinter printer(out);
    std::string refusal;
    LanResult result = device.UpdateFirmware(options.file, printer, &refusal);
    Print(out, "\n"); // ends the progress line whatever the outcome
    if (!refusal.empty())
        Print(context.err, "Firmware file %s: %s\n", options.file.c_str(), refusal.c_str());
    return ReportOutcome(result, false, options, serial, out);
}
