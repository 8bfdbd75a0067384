#include "ApplyCommand.h"

#include "CommandLine.h"
#include "ConfigApply.h"
#include "ConfigPlan.h"
#include "ConsoleTexts.h"
#include "DeviceSearch.h"
#include "ExchangeLoop.h"
#include "LanInterface.h"
#include "LanOperations.h"
#include "TerminationWatch.h"

#include <memory>
#include <string>
#include <vector>

namespace {

// The record a plan entry means among the devices that answered for its serial number: the
// only one, or, among namesakes, the one at the address the backup names. Null when none
// answered or the namesakes cannot be told apart.
const LanInterface* Chosen(const PlanEntry& entry, const SearchResult& found) {
    if (found.devices.size() == 1)
        return &found.devices.front();
    const LanInterface* match = nullptr;
    for (const LanInterface& d : found.devices) {
        const bool same = !entry.address.empty() && d.address == entry.address &&
                          (entry.network.empty() || d.network == entry.network);
        if (same && match)
            return nullptr;
        if (same)
            match = &d;
    }
    return match;
}

// The entries of a plan against their devices, several at once on one loop: read, compare and,
// unless it is a dry run, write. A first termination signal starts no further entry and lets
// the writes under way finish; a second one ends the run at once.
class PlanRun {
public:
    PlanRun(const ConfigPlan& plan, const std::vector<SearchResult>& found, bool dryRun,
            unsigned jobs, const CommandContext& context)
        : plan_(plan), dryRun_(dryRun), jobs_(jobs), outcomes_(plan.entries.size()),
          devices_(plan.entries.size()) {
        for (size_t i = 0; i < plan.entries.size(); ++i) {
            const PlanEntry& entry = plan.entries[i];
            const LanInterface* record = Chosen(entry, found[i]);
            if (record)
                devices_[i] = *record;
            found_.push_back(record != nullptr);
            // Set before reading, for a device that wants its key for reads as well.
            outcomes_[i].key = context.keys.GiveTo(devices_[i], entry.serialNumber);
        }
    }

    // False when a second signal ended the run.
    bool Run(TerminationWatch& watch) {
        if (watch.Installed())
            loop_.WatchWake(watch.WakeFd(), [this, &watch] {
                watch.Drain();
                if (watch.Count() >= 2) {
                    abandoned_ = true;
                    loop_.Stop();
                } else if (!stopped_) {
                    stopped_ = true;
                    for (size_t i = next_; i < outcomes_.size(); ++i) {
                        outcomes_[i].result = ApplyResult::Skipped;
                        outcomes_[i].reason = "stopped by a signal";
                    }
                    next_ = outcomes_.size();
                }
            });
        StartMore();
        loop_.Run();
        return !abandoned_;
    }

    const std::vector<ApplyOutcome>& Outcomes() const { return outcomes_; }
    bool Interrupted() const { return stopped_ || abandoned_; }

private:
    void StartMore() {
        while (running_ < jobs_ && next_ < outcomes_.size())
            Start(next_++);
    }

    void Start(size_t i) {
        ApplyOutcome& o = outcomes_[i];
        if (!found_[i]) {
            o.result = ApplyResult::NotFound;
            o.reason = "not found";
            return;
        }
        ++running_;
        LanInterface& device = devices_[i];
        lanops::Read(loop_, device, [this, i, &o, &device](LanResult read) {
            if (read != ResultOk) {
                o.result = read == ResultKeyError ? ApplyResult::KeyError : ApplyResult::Failed;
                o.readFailed = read != ResultKeyError;
                o.reason = "the configuration could not be read";
                End();
                return;
            }
            o.changes = ConfigApply::Changes(plan_.entries[i], device);
            if (o.changes.empty() || dryRun_) {
                o.result = o.changes.empty() ? ApplyResult::Unchanged : ApplyResult::WouldChange;
                End();
                return;
            }
            ConfigApply::Write(o.changes, device);
            lanops::WriteConfig(loop_, device, [this, &o, &device](LanResult r, WriteFailure why) {
                o.result = r == ResultOk         ? ApplyResult::Changed
                           : r == ResultKeyError ? ApplyResult::KeyError
                                                 : ApplyResult::Failed;
                o.rebooting = r == ResultOk && device.state == StateBooting;
                o.notKept = why == WriteNotKept;
                if (r != ResultOk)
                    o.reason = o.notKept ? "did not keep the new configuration"
                                         : "the device did not take the configuration";
                End();
            });
        });
    }

    void End() {
        --running_;
        StartMore();
    }

    const ConfigPlan& plan_;
    bool dryRun_;
    unsigned jobs_;
    std::vector<ApplyOutcome> outcomes_;
    std::vector<LanInterface> devices_;
    std::vector<bool> found_;
    ExchangeLoop loop_;
    size_t next_ = 0;
    unsigned running_ = 0;
    bool stopped_ = false;
    bool abandoned_ = false;
};

} // namespace

const CommandSyntax& ApplyCommand::Syntax() const {
    static const CommandSyntax syntax{
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
         SharedOptions::Key,
         SharedOptions::NoInventory},
        {{{"<file>", "[--dry-run]", "[--json]", "[-j]", "[-k]"},
          "write the configurations of a file (from show --all --json) where they differ"}}};
    return syntax;
}

int ApplyCommand::Execute(const CommandLine& line, CommandContext& context) const {
    TerminationWatch watch;
    ConfigPlan plan;
    std::string error;
    if (!plan.Load(line.planFile, &error)) {
        Say<kErrorLine>(context, error.c_str());
        return ExitUsage;
    }
    // Every device is looked up before anything is written: a serial number that answers from
    // two addresses could be another device than the one the plan was made for.
    std::vector<std::string> serials;
    for (const PlanEntry& entry : plan.entries)
        serials.push_back(entry.serialNumber);
    const std::vector<SearchResult> found = FindEach(serials, context);
    bool ambiguous = false;
    for (size_t i = 0; i < found.size(); ++i) {
        if (found[i].devices.size() > 1 && !Chosen(plan.entries[i], found[i])) {
            Say<kNamesakes>(context, serials[i].c_str(), NamesakePlaces(found[i].devices).c_str());
            ambiguous = true;
        }
    }
    if (ambiguous)
        return ExitFailed;

    PlanRun run(plan, found, line.dryRun, line.jobs.value_or(SharedOptions::DefaultJobs), context);
    if (!run.Run(watch))
        return ExitFailed; // a second signal: at once, nothing more is printed

    bool failed = run.Interrupted(), keyError = false;
    std::vector<JsonObject> array;
    for (size_t i = 0; i < run.Outcomes().size(); ++i) {
        const ApplyOutcome& outcome = run.Outcomes()[i];
        failed = failed || outcome.result == ApplyResult::Failed ||
                 outcome.result == ApplyResult::NotFound;
        keyError = keyError || outcome.result == ApplyResult::KeyError;
        if (context.json)
            array.push_back(ConfigApply::OutcomeJson(serials[i], outcome));
        else
            ConfigApply::PrintText(serials[i], outcome, context.out);
    }
    if (context.json)
        context.out << JsonArrayLines(array) << std::flush;
    return failed ? ExitFailed : keyError ? ExitKeyError : ExitOk;
}
