#include "FwupdateCommand.h"

#include "CommandLine.h"
#include "ConsoleTexts.h"
#include "DeviceSearch.h"
#include "FirmwareFile.h"
#include "FleetUpdate.h"
#include "KeySource.h"
#include "LanInterface.h"
#include "ProgressPrinter.h"
#include "ReportOutcome.h"

namespace {

// One device, as the command always did, with the progress line; confirm adds the wait for the
// device to come back as its application and the line with its version.
int UpdateOne(const FleetRequest& request, bool confirm, CommandContext& context) {
    std::ostream& out = context.out;
    const std::string& serial = request.serials.front();
    LanInterface device;
    if (!FindDevice(device, serial, context)) {
        Say<kNotFoundOnLan>(context, serial.c_str());
        PrintNotFound(context, serial);
        return ExitFailed;
    }
    const ChosenKey key = context.keys.GiveTo(device, serial);

    ProgressPrinter printer(out);
    std::string refusal;
    std::string digits;
    std::string failure;
    LanResult result = ResultFailed;
    bool back = false;
    // A file that is known bad never puts the device into its bootloader.
    if (LoadFirmwareFile(request.file, &digits, &refusal)) {
        result = device.UpdateFirmwareDigits(digits, printer, &failure);
        if (result == ResultOk && confirm) {
            printer.OnProgress(100, "Waiting for device to restart");
            back = device.WaitForApplication(request.comeBackMs);
        }
    }
    Say<kLineEnd>(context); // ends the progress line whatever the outcome
    if (!refusal.empty())
        Say<kFirmwareRefused>(context, request.file.c_str(), refusal.c_str());
    int code = ReportOutcome(result, false, key, serial, out);
    if (!confirm)
        return code;
    if (result == ResultOk && back) {
        Say<kRunsVersion>(context, serial.c_str(), device.version.c_str());
    } else if (result == ResultOk) {
        Say<kNotBack>(context, serial.c_str());
        failure = "did not come back after the update";
        code = ExitFailed;
    }
    if (code == ExitFailed && !failure.empty())
        Say<kDeviceFailure>(context, serial.c_str(), failure.c_str());
    return code;
}

} // namespace

const CommandSpec& FwupdateCommand::Spec() const {
    static const CommandSpec spec{
        "fwupdate",
        Positional::Serials,
        "the serial number of a device",
        "--all",
        {SharedOptions::Address,
         {"-f", "<firmware-file>", nullptr, nullptr,
          [](CommandLine& line, const std::string& value) { line.firmwareFile = value; },
          "the firmware file to load"},
         SharedOptions::Key,
         SharedOptions::Jobs,
         SharedOptions::Json,
         SharedOptions::All,
         {"--confirm", nullptr, nullptr, nullptr,
          [](CommandLine& line, const std::string&) { line.confirm = true; },
          "wait for the device to run its application, then print its version"}},
        {{{"<serial-number>", "-f", "[-k]"}, "update firmware of one device"},
         {{"<serial-number>...", "-f", "[-k]", "[-j]", "[--json]", "[--confirm]"},
          "update firmware of several devices at once, each confirmed running it"},
         {{"--all", "-f", "[-k]", "[-j]", "[--json]"},
          "update firmware of every device found, at most <jobs> at once (default 16)"}}};
    return spec;
}

std::string FwupdateCommand::Misuse(const CommandLine& line) const {
    return line.firmwareFile ? std::string() : TextOf<kNeedsFirmware>();
}

int FwupdateCommand::Execute(const CommandLine& line, CommandContext& context) const {
    FleetRequest request;
    request.serials = line.serials;
    request.all = line.all;
    request.file = *line.firmwareFile;
    request.keys = &context.keys;
    request.jobs = line.jobs;
    if (request.serials.size() == 1 && !context.json)
        return UpdateOne(request, line.confirm, context);
    FleetUpdate fleet(request, context);
    return fleet.Run();
}
