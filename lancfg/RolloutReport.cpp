#include "RolloutReport.h"

#include "ConsoleTexts.h"
#include "JsonLines.h"
#include "ReportOutcome.h"
#include "RolloutJournal.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace {

bool EndedWell(RolloutOutcome outcome) {
    return outcome == RolloutOutcome::Updated || outcome == RolloutOutcome::SameVersion ||
           outcome == RolloutOutcome::Current;
}

std::vector<std::string> SerialsOf(const std::vector<RolloutDevice>& devices) {
    std::vector<std::string> serials;
    for (const RolloutDevice& d : devices)
        serials.push_back(d.serial);
    return serials;
}

} // namespace

RolloutReport::RolloutReport(CommandContext& context, const std::vector<RolloutDevice>& devices,
                             std::vector<ChosenKey> keys, Setup setup)
    : context_(context), devices_(devices), keys_(std::move(keys)), setup_(std::move(setup)) {
    if (setup_.single)
        printer_ = std::make_unique<ProgressPrinter>(context_.out);
    else
        progress_ = std::make_unique<FleetProgress>(context_.out, context_.err,
                                                    context_.terminal && !context_.json,
                                                    SerialsOf(devices_));
}

RolloutReport::~RolloutReport() = default;

void RolloutReport::Started(size_t index, unsigned attempt) {
    if (setup_.journal)
        setup_.journal->Started(devices_[index].serial, devices_[index].record.version, attempt);
    if (progress_)
        progress_->Begin(index, attempt > 1 ? "Trying again (attempt " + std::to_string(attempt) + ")"
                                            : std::string("Starting"));
}

ProgressObserver& RolloutReport::Progress(size_t index) {
    if (printer_)
        return *printer_;
    return progress_->Observer(index);
}

void RolloutReport::Ended(size_t index, const RolloutResult& result) {
    if (setup_.journal)
        setup_.journal->Ended(result);
    if (progress_)
        progress_->End(index, context_.json ? std::string() : ResultLine(index, result),
                       std::string(), !EndedWell(result.outcome));
}

void RolloutReport::Stopping(size_t finishing) {
    Say<kStopping>(context_, finishing, finishing == 1 ? "" : "s");
}

void RolloutReport::Abandoning(const std::vector<size_t>& stranded) {
    if (progress_)
        progress_->Close();
    for (size_t index : stranded)
        Say<kStranded>(context_, devices_[index].serial.c_str(), Command(index).c_str(),
                       setup_.file.c_str());
}

std::string RolloutReport::Command(size_t index) const {
    const LanInterface& record = devices_[index].record;
    std::string words = devices_[index].serial;
    if (!record.unicastAddress.empty())
        words += " -a " + record.unicastAddress;
    return words;
}

std::string RolloutReport::ResultLine(size_t index, const RolloutResult& r) const {
    const char* serial = r.serial.c_str();
    std::ostringstream line;
    switch (r.outcome) {
    case RolloutOutcome::Updated:
        if (r.version.empty())
            SayOn<kFleetUpdatedUnverified>(line, serial);
        else
            SayOn<kFleetUpdated>(line, serial, r.version.c_str());
        break;
    case RolloutOutcome::SameVersion:
        SayOn<kSameVersion>(line, serial, r.version.c_str());
        break;
    case RolloutOutcome::Current:
        SayOn<kCurrent>(line, serial, r.version.c_str());
        break;
    case RolloutOutcome::KeyError:
        ReportKeyError(keys_[index], r.serial, line);
        break;
    case RolloutOutcome::Offline:
        SayOn<kNotFoundOnLan>(line, serial);
        break;
    case RolloutOutcome::Skipped:
        SayOn<kSkipped>(line, serial, r.reason.c_str());
        break;
    case RolloutOutcome::Failed:
        SayOn<kFleetFailed>(line, serial, r.reason.c_str());
        break;
    }
    return line.str();
}

std::string RolloutReport::Hint(size_t index, const RolloutResult& r) const {
    // A key typed on the command line is needed again; one from elsewhere is found again.
    const bool typedKey = keys_[index].present && keys_[index].source.empty();
    const std::string again = "lancfg fwupdate " + Command(index) + " -f " + setup_.file +
                              (typedKey ? " -k <key>" : "");
    switch (r.outcome) {
    case RolloutOutcome::Failed:
        return "power-cycle it when it does not answer, then run: " + again;
    case RolloutOutcome::KeyError:
        return "give its key (-k, LANCFG_KEY or the keys file), then run: lancfg fwupdate " +
               Command(index) + " -f " + setup_.file + " -k <key>";
    case RolloutOutcome::Offline:
        return "check its power and cable, then run: " + again;
    case RolloutOutcome::Skipped:
        return setup_.journalPath.empty()
                   ? "run: " + again
                   : "run: lancfg fwupdate --resume " + setup_.journalPath + " -f " + setup_.file;
    case RolloutOutcome::SameVersion:
        return "check that " + setup_.file + " holds a newer version";
    default:
        return std::string();
    }
}

int RolloutReport::FinishSingle(const RolloutResult& r) {
    Say<kLineEnd>(context_); // ends the progress line whatever the outcome
    const std::string& serial = r.serial;
    switch (r.outcome) {
    case RolloutOutcome::Updated:
    case RolloutOutcome::SameVersion:
        Say<kUpdated>(context_, serial.c_str());
        if (r.outcome == RolloutOutcome::SameVersion)
            Say<kSameVersion>(context_, serial.c_str(), r.version.c_str());
        else if (setup_.verify)
            Say<kRunsVersion>(context_, serial.c_str(), r.version.c_str());
        return ExitOk;
    case RolloutOutcome::Current:
        Say<kCurrent>(context_, serial.c_str(), r.version.c_str());
        return ExitOk;
    case RolloutOutcome::KeyError:
        return ReportKeyError(keys_.front(), serial, context_.Messages());
    default:
        Say<kUpdateFailed>(context_, serial.c_str());
        if (!r.reason.empty())
            Say<kDeviceFailure>(context_, serial.c_str(), r.reason.c_str());
        return ExitFailed;
    }
}

void RolloutReport::PrintJson(const std::vector<RolloutResult>& results) {
    std::vector<JsonObject> array;
    for (const RolloutResult& r : results) {
        JsonObject o{{"serialNumber", r.serial}, {"result", OutcomeWord(r.outcome)}};
        if (!r.version.empty())
            o["version"] = r.version;
        if (!r.reason.empty())
            o["reason"] = r.reason;
        o["previousVersion"] = JsonAddress(r.previousVersion);
        o["attempts"] = r.attempts;
        o["durationS"] = std::round(r.durationS * 10) / 10;
        o["address"] = JsonAddress(r.address);
        o["network"] = JsonAddress(r.network);
        array.push_back(o);
    }
    context_.out << JsonArrayLines(array) << std::flush;
}

void RolloutReport::PrintSummary(const std::vector<RolloutResult>& results) {
    // How many of each outcome, in a fixed order.
    static const std::pair<RolloutOutcome, const char*> order[] = {
        {RolloutOutcome::Updated, "updated"},
        {RolloutOutcome::SameVersion, "back with the same version"},
        {RolloutOutcome::Current, "current"},
        {RolloutOutcome::Failed, "failed"},
        {RolloutOutcome::KeyError, "without their key"},
        {RolloutOutcome::Offline, "offline"},
        {RolloutOutcome::Skipped, "not started"}};
    std::string counts;
    for (const auto& [outcome, name] : order) {
        const auto n = std::count_if(results.begin(), results.end(),
                                     [&](const RolloutResult& r) { return r.outcome == outcome; });
        if (n > 0)
            counts += (counts.empty() ? "" : ", ") + std::to_string(n) + " " + name;
    }
    if (!results.empty())
        Say<kSummary>(context_, results.size(), results.size() == 1 ? "" : "s", counts.c_str());
}

void RolloutReport::PrintHints(const std::vector<RolloutResult>& results) {
    // Devices that need the same thing done share one line.
    std::vector<std::pair<std::string, std::vector<std::string>>> hints;
    for (size_t i = 0; i < results.size(); ++i) {
        const std::string hint = Hint(i, results[i]);
        if (hint.empty())
            continue;
        auto same = std::find_if(hints.begin(), hints.end(),
                                 [&](const auto& h) { return h.first == hint; });
        if (same == hints.end())
            hints.push_back({hint, {results[i].serial}});
        else
            same->second.push_back(results[i].serial);
    }
    if (!hints.empty())
        Say<kAttentionHeader>(context_);
    for (const auto& [hint, serials] : hints) {
        std::string names;
        for (size_t n = 0; n < serials.size() && n < 4; ++n)
            names += (n == 0 ? "" : ", ") + serials[n];
        if (serials.size() > 4)
            names += " and " + std::to_string(serials.size() - 4) + " more";
        Say<kAttention>(context_, names.c_str(), hint.c_str());
    }
}

int RolloutReport::Finish(const Rollout& rollout) {
    const std::vector<RolloutResult>& results = rollout.Results();
    if (rollout.Abandoned())
        return ExitFailed;
    if (setup_.single && !results.empty()) {
        const int code = FinishSingle(results.front());
        return rollout.Interrupted() ? ExitFailed : code;
    }
    if (progress_)
        progress_->Close();
    if (context_.json)
        PrintJson(results);
    PrintSummary(results);
    PrintHints(results);
    auto any = [&](std::initializer_list<RolloutOutcome> outcomes) {
        return std::any_of(results.begin(), results.end(), [&](const RolloutResult& r) {
            return std::find(outcomes.begin(), outcomes.end(), r.outcome) != outcomes.end();
        });
    };
    if (rollout.Interrupted())
        return ExitFailed;
    // A stop that left no device out is a run that finished with failures.
    if (rollout.StoppedByPolicy() && any({RolloutOutcome::Skipped}))
        return ExitStopped;
    if (any({RolloutOutcome::Failed, RolloutOutcome::Offline, RolloutOutcome::Skipped}))
        return ExitFailed;
    return any({RolloutOutcome::KeyError}) ? ExitKeyError : ExitOk;
}
