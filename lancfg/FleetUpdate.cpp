#include "FleetUpdate.h"

#include "ConsoleTexts.h"
#include "DeviceSearch.h"
#include "KeySource.h"

#include "FirmwareFile.h"
#include "FleetProgress.h"
#include "JsonLines.h"
#include "LanInterface.h"
#include "LanProtocol.h"
#include "ParallelRunner.h"
#include "ReportOutcome.h"

#include <algorithm>
#include <sstream>

namespace {

const char* OutcomeWord(FleetOutcome outcome) {
    switch (outcome) {
    case FleetOutcome::Updated:
        return "updated";
    case FleetOutcome::KeyError:
        return "keyError";
    case FleetOutcome::NotFound:
        return "notFound";
    default:
        return "failed";
    }
}

} // namespace

FleetUpdate::FleetUpdate(const FleetRequest& request, CommandContext& context)
    : request_(request), context_(context) {}

ChosenKey FleetUpdate::KeyFor(const std::string& serial) const {
    return request_.keys ? request_.keys->For(serial) : ChosenKey();
}

int FleetUpdate::Run() {
    // The file is read and checked once, before any device hears of the update.
    std::string refusal;
    if (!LoadFirmwareFile(request_.file, &digits_, &refusal)) {
        SayOn<kFirmwareRefused>(context_.err, request_.file.c_str(), refusal.c_str());
        for (const std::string& serial : request_.serials)
            results_.push_back({serial, FleetOutcome::Failed, "", "firmware file " + refusal});
        if (context_.json)
            PrintJson();
        return ExitFailed;
    }

    // One record per device; a device named or found twice is updated once.
    std::vector<LanInterface> devices;
    std::vector<std::string> seen;
    auto add = [&](const LanInterface& device, const std::string& key, const std::string& shown) {
        if (std::find(seen.begin(), seen.end(), key) != seen.end())
            return;
        seen.push_back(key);
        devices.push_back(device);
        results_.push_back({shown, FleetOutcome::Failed, "", ""});
    };
    if (request_.all) {
        std::vector<LanInterface> found;
        DiscoverDevices(context_, found);
        for (const LanInterface& device : found)
            add(device, device.serialNumber, lanproto::PrintableText(device.serialNumber));
    } else {
        LanInterface device;
        device.unicastAddress = context_.address;
        for (const std::string& serial : request_.serials)
            add(device, serial, serial);
    }
    if (devices.empty()) {
        PrintNothingFound(context_);
        if (context_.json)
            PrintJson();
        return ExitFailed;
    }

    std::vector<std::string> shown;
    for (const FleetResult& result : results_)
        shown.push_back(result.serial);
    {
        FleetProgress progress(context_.out, context_.err, context_.terminal && !context_.json,
                               shown);
        RunParallel(devices.size(), request_.jobs,
                    [&](size_t i) { UpdateDevice(i, devices[i], request_.all, progress); });
    }
    const bool noneFound = std::all_of(results_.begin(), results_.end(), [](const FleetResult& r) {
        return r.outcome == FleetOutcome::NotFound;
    });
    if (noneFound)
        PrintNothingFound(context_);
    if (context_.json)
        PrintJson();
    return ExitCode();
}

void FleetUpdate::UpdateDevice(size_t index, LanInterface& device, bool found,
                               FleetProgress& progress) {
    std::string serial;
    {
        std::lock_guard lock(mutex_);
        serial = results_[index].serial;
    }
    FleetResult result{serial, FleetOutcome::Failed, "", ""};
    std::ostringstream out;
    std::ostringstream err;
    progress.Begin(index, found ? "Starting" : "Looking for device");

    if (!found && !FindDevice(device, serial, context_)) {
        result.outcome = FleetOutcome::NotFound;
        result.reason = "not found on LAN";
        SayOn<kNotFoundOnLan>(out, serial.c_str());
    } else {
        const ChosenKey key = KeyFor(serial);
        if (key.present)
            device.SetCryptKey(key.text);
        ProgressObserver& observer = progress.Observer(index);
        std::string failure;
        const LanResult r = device.UpdateFirmwareDigits(digits_, observer, &failure);
        ReportOutcome(r, false, key, serial, out);
        if (r == ResultOk) {
            observer.OnProgress(100, "Waiting for device to restart");
            if (device.WaitForApplication(request_.comeBackMs)) {
                result.outcome = FleetOutcome::Updated;
                result.version = device.version;
                SayOn<kRunsVersion>(out, serial.c_str(), device.version.c_str());
            } else {
                result.reason = "did not come back after the update";
                SayOn<kNotBack>(out, serial.c_str());
            }
        } else if (r == ResultKeyError) {
            result.outcome = FleetOutcome::KeyError;
            result.reason = key.present ? "rejected the crypt key" : "wants its crypt key (-k)";
        } else {
            result.reason = failure.empty() ? "update failed" : failure;
        }
        if (result.outcome == FleetOutcome::Failed)
            SayOn<kDeviceFailure>(err, serial.c_str(), result.reason.c_str());
    }

    {
        std::lock_guard lock(mutex_);
        results_[index] = result;
    }
    progress.End(index, context_.json ? std::string() : out.str(), err.str(),
                 result.outcome != FleetOutcome::Updated);
}

void FleetUpdate::PrintJson() const {
    std::vector<JsonObject> array;
    for (const FleetResult& result : results_) {
        JsonObject json{{"serialNumber", result.serial}, {"result", OutcomeWord(result.outcome)}};
        if (result.outcome == FleetOutcome::Updated)
            json["version"] = result.version;
        else
            json["reason"] = result.reason;
        array.push_back(json);
    }
    context_.out << JsonArrayLines(array) << std::flush;
}

int FleetUpdate::ExitCode() const {
    bool keyError = false;
    for (const FleetResult& result : results_) {
        if (result.outcome == FleetOutcome::Failed || result.outcome == FleetOutcome::NotFound)
            return ExitFailed;
        keyError = keyError || result.outcome == FleetOutcome::KeyError;
    }
    return keyError ? ExitKeyError : ExitOk;
}
