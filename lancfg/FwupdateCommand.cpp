#include "FwupdateCommand.h"

#include "CommandLine.h"
#include "ConsoleTexts.h"
#include "DeviceSearch.h"
#include "FirmwareFile.h"
#include "KeySource.h"
#include "LanInterface.h"
#include "LanProtocol.h"
#include "Rollout.h"
#include "RolloutJournal.h"
#include "RolloutReport.h"
#include "TerminationWatch.h"
#include "TextUtil.h"
#include "UpdateHistory.h"

#include <algorithm>
#include <memory>
#include <set>

namespace {

bool IsNumber(const std::string& text, unsigned long lowest, unsigned long highest) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long n = std::stoul(text);
    return n >= lowest && n <= highest;
}

unsigned Number(const std::string& text) {
    return static_cast<unsigned>(std::stoul(text));
}

// A version as the devices tell it: whole number, point, up to three digits ("1.240", "1.24").
bool IsVersionText(const std::string& text) {
    const size_t point = text.find('.');
    if (point == 0 || point == std::string::npos || text.size() - point - 1 > 3 ||
        text.size() - point - 1 == 0 || point > 2)
        return false;
    return text.find_first_not_of("0123456789", 0) == point &&
           text.find_first_not_of("0123456789", point + 1) == std::string::npos;
}

// Lists what an update of many devices would touch and asks; true when the user said yes.
bool AskFirst(const std::vector<RolloutDevice>& devices, const RolloutPolicy& policy,
              const std::string& file, CommandContext& context) {
    size_t count = 0;
    for (const RolloutDevice& d : devices) {
        if (!d.found || (policy.skipCurrent && d.record.version == policy.expectVersion))
            continue;
        ++count;
        const std::string where = d.record.address + (d.record.network.empty()
                                                          ? std::string()
                                                          : " (" + d.record.network + ")");
        Say<kAskList>(context, d.serial.c_str(), d.record.version.c_str(), where.c_str());
    }
    Say<kAskQuestion>(context, count, file.c_str());
    std::string answer;
    if (context.in)
        std::getline(*context.in, answer);
    answer = LowerText(TrimText(answer));
    return answer == "y" || answer == "yes";
}

size_t ToUpdate(const std::vector<RolloutDevice>& devices, const RolloutPolicy& policy) {
    return static_cast<size_t>(std::count_if(devices.begin(), devices.end(), [&](const auto& d) {
        return d.found && !(policy.skipCurrent && d.record.version == policy.expectVersion);
    }));
}

} // namespace

const CommandSyntax& FwupdateCommand::Syntax() const {
    static const CommandSyntax syntax{
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
         SharedOptions::NoInventory,
         {"--yes", nullptr, nullptr, nullptr,
          [](CommandLine& line, const std::string&) { line.yes = true; },
          "update several devices without asking first"},
         {"--verify", nullptr, nullptr, nullptr,
          [](CommandLine& line, const std::string&) { line.verify = true; },
          "wait for each device to run its application again and read its version"},
         {"--confirm", nullptr, nullptr, nullptr,
          [](CommandLine& line, const std::string&) { line.verify = true; },
          "the same as --verify"},
         {"--expect-version", "<version>", IsVersionText,
          "is not a version (a number, a point and up to three digits, as 1.240)",
          [](CommandLine& line, const std::string& value) {
              line.expectVersion = lanproto::FormatVersion(lanproto::VersionThousandths(value));
          },
          "a device that comes back with another version has failed (implies --verify)"},
         {"--skip-current", nullptr, nullptr, nullptr,
          [](CommandLine& line, const std::string&) { line.skipCurrent = true; },
          "send nothing to a device that already runs the expected version"},
         {"--max-failures", "<count>",
          [](const std::string& v) { return IsNumber(v, 1, 100000); }, "is not a count from 1",
          [](CommandLine& line, const std::string& value) { line.maxFailures = Number(value); },
          "start no further device once this many have failed"},
         {"--canary", "<count>", [](const std::string& v) { return IsNumber(v, 1, 100000); },
          "is not a count from 1",
          [](CommandLine& line, const std::string& value) { line.canary = Number(value); },
          "update this many first, the others only when all of them are updated and verified"},
         {"--retries", "<count>", [](const std::string& v) { return IsNumber(v, 0, 10); },
          "is not a count from 0 to 10",
          [](CommandLine& line, const std::string& value) { line.retries = Number(value); },
          "try a device again this many times when it did not answer or come back"},
         {"--journal", "<file>", nullptr, nullptr,
          [](CommandLine& line, const std::string& value) { line.journal = value; },
          "append a line to this file when each device starts and ends"},
         {"--resume", "<file>", nullptr, nullptr,
          [](CommandLine& line, const std::string& value) { line.resume = value; },
          "leave out the devices whose update this journal shows as ended well"}},
        {{{"<serial-number>", "-f", "[-k]"}, "update firmware of one device"},
         {{"<serial-number>...", "-f", "[-k]", "[-j]", "[--json]", "[--verify]"},
          "update firmware of several devices at once, each verified running it"},
         {{"--all", "-f", "[-k]", "[-j]", "[--json]", "[--yes]"},
          "update firmware of every device found, at most <jobs> at once (default 64)"},
         {{"--all", "-f", "[--expect-version]", "[--skip-current]", "[--canary]",
           "[--max-failures]", "[--retries]", "[--journal]"},
          "a rollout that skips what is current and stops after failures"},
         {{"--resume", "-f"}, "go on with the devices a journal does not show as updated"}},
        "--resume"};
    return syntax;
}

std::string FwupdateCommand::Misuse(const CommandLine& line) const {
    if (!line.firmwareFile)
        return TextOf<kNeedsFirmware>();
    if (line.skipCurrent && !line.expectVersion)
        return "--skip-current needs --expect-version";
    return std::string();
}

namespace {

RolloutPolicy PolicyOf(const CommandLine& line, bool single) {
    RolloutPolicy policy;
    policy.jobs = line.jobs.value_or(SharedOptions::DefaultUpdateJobs);
    // A fleet is always verified: a device counts as updated once it runs again.
    policy.verify = !single || line.verify || line.expectVersion.has_value();
    policy.expectVersion = line.expectVersion.value_or(std::string());
    policy.skipCurrent = line.skipCurrent;
    policy.maxFailures = line.maxFailures;
    policy.canary = line.canary;
    policy.retries = line.retries;
    return policy;
}

// The devices of a rollout, each once, in order; those a journal shows as ended well left out.
class Targets {
public:
    explicit Targets(const std::set<std::string>& endedWell) : endedWell_(endedWell) {}

    void Add(const std::string& serial, const LanInterface* record) {
        if (endedWell_.count(serial) || Has(serial))
            return; // a device named twice is updated once
        seen_.push_back(serial);
        RolloutDevice d;
        d.serial = serial;
        d.found = record != nullptr;
        if (record)
            d.record = *record;
        devices.push_back(d);
    }
    bool Has(const std::string& serial) const {
        return std::find(seen_.begin(), seen_.end(), serial) != seen_.end();
    }

    std::vector<RolloutDevice> devices;
    bool namesakes = false; // nothing is sent while any device named could be another

private:
    const std::set<std::string>& endedWell_;
    std::vector<std::string> seen_;
};

// Every device a search finds, and those a journal left unfinished; ExitOk, or the exit code
// after saying why there is nothing to update.
int FromSearch(CommandContext& context, const std::set<std::string>& unfinished,
               Targets& targets) {
    // A rollout must not take a part of the site for all of it.
    SearchResult found = SearchDevices(context, SiteReplies);
    if (found.capped)
        return ExitFailed;
    for (const LanInterface& d : found.devices) {
        const std::string serial = lanproto::PrintableText(d.serialNumber);
        std::vector<LanInterface> same;
        for (const LanInterface& other : found.devices)
            if (other.serialNumber == d.serialNumber)
                same.push_back(other);
        if (same.size() > 1 && !targets.Has(serial))
            Say<kNamesakes>(context, serial.c_str(), NamesakePlaces(same).c_str());
        targets.namesakes = targets.namesakes || same.size() > 1;
        targets.Add(serial, &d);
    }
    // A device the journal left unfinished may have been restarting when the search went out:
    // it gets a look of its own, and is reported offline when it still does not answer.
    std::vector<std::string> missing;
    for (const std::string& serial : unfinished)
        if (!targets.Has(serial))
            missing.push_back(serial);
    const std::vector<SearchResult> late = FindEach(missing, context);
    for (size_t i = 0; i < missing.size(); ++i)
        targets.Add(missing[i], late[i].devices.size() == 1 ? &late[i].devices.front() : nullptr);
    if (targets.devices.empty() && found.devices.empty()) {
        PrintNothingFound(context);
        return ExitFailed;
    }
    return ExitOk;
}

// The devices named on the command line, each looked up within one find window.
void FromSerials(const std::vector<std::string>& serials, CommandContext& context,
                 Targets& targets) {
    const std::vector<SearchResult> found = FindEach(serials, context);
    for (size_t i = 0; i < found.size(); ++i) {
        if (found[i].devices.size() > 1) {
            Say<kNamesakes>(context, serials[i].c_str(), NamesakePlaces(found[i].devices).c_str());
            targets.namesakes = true;
        }
        targets.Add(serials[i], found[i].devices.empty() ? nullptr : &found[i].devices.front());
    }
}

// Runs the rollout with its report and journal, keeps its results in the history, and returns
// the exit code.
int RunRollout(const CommandLine& line, const RolloutPolicy& policy, bool single,
               std::string digits, std::vector<RolloutDevice>& devices,
               std::vector<ChosenKey> keys, TerminationWatch& watch, CommandContext& context) {
    const std::string& file = *line.firmwareFile;
    std::string error;
    RolloutJournal journal;
    const std::string journalPath = line.journal.value_or(line.resume.value_or(std::string()));
    if (!journalPath.empty() && !journal.Open(journalPath, &error)) {
        Say<kErrorLine>(context, error.c_str());
        return ExitUsage;
    }
    RolloutReport::Setup setup;
    setup.single = single;
    setup.verify = policy.verify;
    setup.file = file;
    setup.journalPath = journalPath;
    setup.journal = journal.IsOpen() ? &journal : nullptr;
    RolloutReport report(context, devices, std::move(keys), setup);
    Rollout rollout(policy, std::make_shared<const std::string>(std::move(digits)), devices,
                    report);
    ExchangeLoop loop;
    rollout.Run(loop, &watch);
    // Kept for later look-ups, whatever the outcome; a history that cannot be written is said.
    UpdateHistory history(UpdateHistory::DefaultPath(context.environment));
    if (!history.Append(rollout.Results(), file, &error))
        Say<kWarning>(context, error.c_str());
    return report.Finish(rollout);
}

} // namespace

int FwupdateCommand::Execute(const CommandLine& line, CommandContext& context) const {
    // Signals count from here: an interrupted search starts nothing, a started device finishes.
    TerminationWatch watch;
    const std::string& file = *line.firmwareFile;
    const bool single = line.serials.size() == 1 && !context.json && !line.resume;
    const RolloutPolicy policy = PolicyOf(line, single);
    std::set<std::string> endedWell, unfinished;
    std::string error;
    if (line.resume && !RolloutJournal::Read(*line.resume, &endedWell, &unfinished, &error)) {
        Say<kErrorLine>(context, error.c_str());
        return ExitUsage;
    }
    // The file is read and checked once, before any device hears of the update; one device
    // alone is looked up first, as the command always did.
    std::string digits, refusal;
    if (!single && !LoadFirmwareFile(file, &digits, &refusal)) {
        Say<kFirmwareRefused>(context, file.c_str(), refusal.c_str());
        return ExitFailed;
    }
    // Many devices are not updated by a slip of the keyboard: a person answers a question, a
    // script says --yes. Without either nothing is sent at all.
    const bool several = line.serials.size() > 1 || line.serials.empty();
    if (several && !line.yes && !context.inputTerminal) {
        Say<kNeedsYes>(context);
        return ExitUsage;
    }
    Targets targets(endedWell);
    if (!line.serials.empty())
        FromSerials(line.serials, context, targets);
    else if (const int code = FromSearch(context, unfinished, targets); code != ExitOk)
        return code;
    if (targets.namesakes)
        return ExitFailed;
    std::vector<RolloutDevice>& devices = targets.devices;
    if (single && !devices.front().found) {
        Say<kNotFoundOnLan>(context, devices.front().serial.c_str());
        PrintNotFound(context, devices.front().serial);
        return ExitFailed;
    }
    if (single && !LoadFirmwareFile(file, &digits, &refusal)) {
        Say<kLineEnd>(context);
        Say<kFirmwareRefused>(context, file.c_str(), refusal.c_str());
        Say<kUpdateFailed>(context, devices.front().serial.c_str());
        return ExitFailed;
    }
    std::vector<ChosenKey> keys;
    for (RolloutDevice& d : devices) {
        keys.push_back(context.keys.GiveTo(d.record, d.serial));
        d.keyGiven = keys.back().present;
    }
    if (several && !line.yes && ToUpdate(devices, policy) > 0 &&
        !AskFirst(devices, policy, file, context)) {
        Say<kDeclined>(context);
        return ExitUsage;
    }
    return RunRollout(line, policy, single, std::move(digits), devices, std::move(keys), watch,
                      context);
}
