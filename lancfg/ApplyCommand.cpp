#include "ApplyCommand.h"

#include "CommandLine.h"
#include "ConfigApply.h"
#include "ConfigPlan.h"
#include "ConsoleTexts.h"
#include "DeviceSearch.h"
#include "LanInterface.h"
#include "ParallelRunner.h"

#include <string>
#include <vector>

namespace {

// One entry against its device: find, read, compare, and unless it is a dry run, write.
ApplyOutcome ApplyEntry(const PlanEntry& entry, bool dryRun, const CommandContext& context) {
    ApplyOutcome outcome;
    LanInterface device;
    // Set before reading, for a device that wants its key for reads as well.
    outcome.key = context.keys.GiveTo(device, entry.serialNumber);
    if (!FindDevice(device, entry.serialNumber, context)) {
        outcome.result = ApplyResult::NotFound;
        outcome.reason = "not found";
        return outcome;
    }
    if (!device.ReadStatus() || !device.ReadConfig()) {
        outcome.readFailed = true;
        outcome.reason = "the configuration could not be read";
        return outcome;
    }
    outcome.changes = ConfigApply::Changes(entry, device);
    if (outcome.changes.empty()) {
        outcome.result = ApplyResult::Unchanged;
        return outcome;
    }
    if (dryRun) {
        outcome.result = ApplyResult::WouldChange;
        return outcome;
    }
    ConfigApply::Write(outcome.changes, device);
    switch (device.WriteConfig()) {
    case ResultOk:
        outcome.result = ApplyResult::Changed;
        outcome.rebooting = device.state == StateBooting;
        break;
    case ResultKeyError:
        outcome.result = ApplyResult::KeyError;
        break;
    default:
        outcome.reason = "the device did not take the configuration";
        break;
    }
    return outcome;
}

} // namespace

const CommandSpec& ApplyCommand::Spec() const {
    static const CommandSpec spec{
        "apply",
        Positional::File,
        "a file of configurations (from show --all --json)",
        nullptr,
        {SharedOptions::Address,
         {"--dry-run", nullptr, nullptr, nullptr,
          [](CommandLine& line, const std::string&) { line.dryRun = true; },
          "say what would change and write nothing"},
         SharedOptions::Json,
         SharedOptions::Jobs,
         SharedOptions::Key},
        {{{"<file>", "[--dry-run]", "[--json]", "[-j]", "[-k]"},
          "write the configurations of a file (from show --all --json) where they differ"}}};
    return spec;
}

int ApplyCommand::Execute(const CommandLine& line, CommandContext& context) const {
    ConfigPlan plan;
    std::string error;
    if (!plan.Load(line.planFile, &error)) {
        Say<kErrorLine>(context, error.c_str());
        return ExitUsage;
    }
    std::vector<ApplyOutcome> outcomes(plan.entries.size());
    RunParallel(plan.entries.size(), line.jobs,
                [&](size_t i) { outcomes[i] = ApplyEntry(plan.entries[i], line.dryRun, context); });

    bool failed = false, keyError = false;
    std::vector<JsonObject> array;
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const std::string& serial = plan.entries[i].serialNumber;
        const ApplyResult result = outcomes[i].result;
        failed = failed || result == ApplyResult::Failed || result == ApplyResult::NotFound;
        keyError = keyError || result == ApplyResult::KeyError;
        if (context.json)
            array.push_back(ConfigApply::OutcomeJson(serial, outcomes[i]));
        else
            ConfigApply::PrintText(serial, outcomes[i], context.out);
    }
    if (context.json)
        context.out << JsonArrayLines(array) << std::flush;
    return failed ? ExitFailed : keyError ? ExitKeyError : ExitOk;
}
