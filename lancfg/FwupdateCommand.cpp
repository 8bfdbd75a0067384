#include "FwupdateCommand.h"

#include "DeviceSearch.h"
#include "FirmwareFile.h"
#include "FleetUpdate.h"
#include "KeySource.h"
#include "LanInterface.h"
#include "ProgressPrinter.h"
#include "SetCommand.h"

#include <arpa/inet.h>

namespace {

// The words of fwupdate: serial numbers first (or --all), then the options in any order. Each
// option taking a value takes the next word; given twice, the later value counts.
struct FwupdateWords {
    FleetRequest request;
    bool confirm = false;
    bool hasFile = false;
};

bool ReadJobs(const std::string& text, unsigned* jobs) {
    if (text.empty() || text.size() > 2 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned n = static_cast<unsigned>(std::stoul(text));
    if (n < 1 || n > 64)
        return false;
    *jobs = n;
    return true;
}

bool ReadWords(const std::vector<std::string>& args, CommandContext& context,
               FwupdateWords* words) {
    FleetRequest& request = words->request;
    size_t i = 1;
    for (; i < args.size() && args[i].rfind('-', 0) != 0; ++i)
        request.serials.push_back(args[i]);
    for (; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word == "--all") {
            request.all = true;
        } else if (word == "--json") {
            context.json = true;
        } else if (word == "--confirm") {
            words->confirm = true;
        } else if ((word == "-f" || word == "-k" || word == "-j" || word == "-a") &&
                   i + 1 < args.size()) {
            const std::string& value = args[++i];
            if (word == "-f") {
                request.file = value;
                words->hasFile = true;
            } else if (word == "-k") {
                request.key = value;
                request.hasKey = true;
            } else if (word == "-j") {
                if (!ReadJobs(value, &request.jobs))
                    return false;
            } else {
                in_addr parsed{};
                if (::inet_pton(AF_INET, value.c_str(), &parsed) != 1)
                    return false;
                context.address = value;
            }
        } else {
            return false;
        }
    }
    // Either serial numbers or --all, and always a file.
    return words->hasFile && (request.all ? request.serials.empty() : !request.serials.empty());
}

// One device, as the command always did, with the progress line; confirm adds the wait for the
// device to come back as its application and the line with its version.
int UpdateOne(const FwupdateWords& words, CommandContext& context) {
    std::ostream& out = context.out;
    const FleetRequest& request = words.request;
    const std::string& serial = request.serials.front();
    KeySource keys(false, std::string(), nullptr, std::string());
    if (!LoadKeys(request.hasKey, request.key, context, &keys))
        return ExitUsage;
    LanInterface device;
    if (!FindDevice(device, serial, context)) {
        Print(out, "Error: Lan Interface %s not found on LAN.\n", serial.c_str());
        PrintNotFound(context, serial);
        return ExitFailed;
    }
    const ChosenKey key = keys.For(serial);
    if (key.present)
        device.SetCryptKey(key.text);

    ProgressPrinter printer(out);
    std::string refusal;
    std::string digits;
    std::string failure;
    LanResult result = ResultFailed;
    bool back = false;
    // A file that is known bad never puts the device into its bootloader.
    if (LoadFirmwareFile(request.file, &digits, &refusal)) {
        result = device.UpdateFirmwareDigits(digits, printer, &failure);
        if (result == ResultOk && words.confirm) {
            printer.OnProgress(100, "Waiting for device to restart");
            back = device.WaitForApplication(request.comeBackMs);
        }
    }
    Print(out, "\n"); // ends the progress line whatever the outcome
    if (!refusal.empty())
        Print(context.err, "Firmware file %s: %s\n", request.file.c_str(), refusal.c_str());
    int code = ReportOutcome(result, false, key, serial, out);
    if (!words.confirm)
        return code;
    if (result == ResultOk && back) {
        Print(out, "%s runs version %s\n", serial.c_str(), device.version.c_str());
    } else if (result == ResultOk) {
        Print(out, "%s did not come back after the update\n", serial.c_str());
        failure = "did not come back after the update";
        code = ExitFailed;
    }
    if (code == ExitFailed && !failure.empty())
        Print(context.err, "%s: %s\n", serial.c_str(), failure.c_str());
    return code;
}

} // namespace

int FwupdateCommand::Execute(const std::vector<std::string>& args, CommandContext& context) {
    FwupdateWords words;
    if (!ReadWords(args, context, &words)) {
        if (context.misuse.empty())
            context.misuse = words.hasFile
                                 ? "fwupdate takes serial numbers or --all, then the options -f, "
                                   "-k, -j (1 to 64), -a, --json and --confirm"
                                 : "fwupdate needs the firmware file: -f <firmware-file>";
        return ExitUsage;
    }
    if (words.request.serials.size() == 1 && !context.json)
        return UpdateOne(words, context);
    KeySource keys(false, std::string(), nullptr, std::string());
    if (!LoadKeys(words.request.hasKey, words.request.key, context, &keys))
        return ExitUsage;
    FleetRequest request = words.request;
    request.keys = &keys;
    FleetUpdate fleet(request, context);
    return fleet.Run();
}
