#include "FwupdateCommand.h"

#include "LanInterface.h"
#include "ProgressPrinter.h"
#include "SetCommand.h"

int FwupdateCommand::Execute(const std::vector<std::string>& args, std::ostream& out) {
    CommandOptions options;
    if (args.size() < 2 || !options.Parse(args, "fk") || !options.hasFile)
        return ExitUsage;
    const std::string& serial = args[1];
    LanInterface device;
    if (!device.FindBySerial(serial)) {
        Print(out, "Error: Lan Interface %s not found on LAN.\n", serial.c_str());
        return ExitFailed;
    }
    if (options.hasKey)
        device.SetCryptKey(options.key);

    ProgressPrinter printer(out);
    LanResult result = device.UpdateFirmware(options.file, printer);
    Print(out, "\n"); // ends the progress line whatever the outcome
    return ReportOutcome(result, false, options, serial, out);
}
