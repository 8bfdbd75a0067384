#include "ApplyCommand.h"

#include "ConfigPlan.h"
#include "DeviceSearch.h"
#include "JsonWriter.h"
#include "KeySource.h"
#include "LanInterface.h"
#include "ParallelRunner.h"

#include <string>
#include <vector>

namespace {

// One field that differs: its name, and the device's and the file's value as text.
struct Change {
    const char* field;
    std::string before, after;
    bool flag; // on/off in text, a boolean in JSON
};

enum ApplyResult { Unchanged, Changed, WouldChange, Failed, KeyError, NotFound };

const char* ResultWord(ApplyResult result) {
    switch (result) {
    case Unchanged:
        return "unchanged";
    case Changed:
        return "changed";
    case WouldChange:
        return "wouldChange";
    case KeyError:
        return "keyError";
    case NotFound:
        return "notFound";
    default:
        return "failed";
    }
}

struct Outcome {
    ApplyResult result = Failed;
    std::vector<Change> changes;
    std::string reason;
    bool rebooting = false;
    bool readFailed = false; // else a failed write
    ChosenKey key;
};

struct ApplyOptions {
    bool dryRun = false;
    unsigned jobs = ApplyCommand::DefaultJobs;
    bool hasKey = false;
    std::string key;

    bool Parse(const std::vector<std::string>& args) {
        for (size_t i = 2; i < args.size(); ++i) {
            if (args[i] == "--dry-run") {
                dryRun = true;
            } else if ((args[i] == "-j" || args[i] == "-k") && i + 1 < args.size()) {
                const std::string& value = args[++i];
                if (args[i - 1] == "-k") {
                    hasKey = true;
                    key = value;
                    continue;
                }
                if (value.empty() || value.size() > 3 ||
                    value.find_first_not_of("0123456789") != std::string::npos)
                    return false;
                jobs = static_cast<unsigned>(std::stoul(value));
                if (jobs == 0)
                    return false;
            } else {
                return false;
            }
        }
        return true;
    }
};

const char* OnOff(bool on) {
    return on ? "on" : "off";
}

// The fields of entry that differ from what the device holds. With DHCP on (in the file or, when
// the file leaves it out, on the device) the addresses are the ones the DHCP server gave, as
// show prints them, so they are neither compared nor written.
std::vector<Change> Differences(const PlanEntry& entry, const LanInterface& device) {
    std::vector<Change> changes;
    const bool dhcp = entry.hasDhcp ? entry.dhcp : device.dhcp;
    if (!dhcp) {
        if (entry.hasIp && entry.ip != device.staticIp)
            changes.push_back({"ip", device.staticIp, entry.ip, false});
        if (entry.hasNetmask && entry.netmask != device.staticNetmask)
            changes.push_back({"netmask", device.staticNetmask, entry.netmask, false});
        if (entry.hasGateway && entry.gateway != device.staticGateway)
            changes.push_back({"gateway", device.staticGateway, entry.gateway, false});
    }
    if (dhcp != device.dhcp)
        changes.push_back({"dhcp", OnOff(device.dhcp), OnOff(dhcp), true});
    if (entry.hasEncryption && entry.encryption != device.crypt)
        changes.push_back({"encryption", OnOff(device.crypt), OnOff(entry.encryption), true});
    return changes;
}

Outcome ApplyEntry(const PlanEntry& entry, const KeySource& keys, bool dryRun,
                   const CommandContext& context) {
    Outcome outcome;
    outcome.key = keys.For(entry.serialNumber);
    LanInterface device;
    if (!FindDevice(device, entry.serialNumber, context)) {
        outcome.result = NotFound;
        outcome.reason = "not found";
        return outcome;
    }
    // Set before reading, for a device that wants its key for reads as well.
    if (outcome.key.present)
        device.SetCryptKey(outcome.key.text);
    if (!device.ReadStatus() || !device.ReadConfig()) {
        outcome.readFailed = true;
        outcome.reason = "the configuration could not be read";
        return outcome;
    }
    outcome.changes = Differences(entry, device);
    if (outcome.changes.empty()) {
        outcome.result = Unchanged;
        return outcome;
    }
    if (dryRun) {
        outcome.result = WouldChange;
        return outcome;
    }
    for (const Change& change : outcome.changes) {
        const std::string field = change.field;
        if (field == "ip")
            device.staticIp = change.after;
        else if (field == "netmask")
            device.staticNetmask = change.after;
        else if (field == "gateway")
            device.staticGateway = change.after;
        else if (field == "dhcp")
            device.dhcp = change.after == "on";
        else
            device.crypt = change.after == "on";
    }
    switch (device.WriteConfig()) {
    case ResultOk:
        outcome.result = Changed;
        outcome.rebooting = device.state == StateBooting;
        break;
    case ResultKeyError:
        outcome.result = KeyError;
        break;
    default:
        outcome.reason = "the device did not take the configuration";
        break;
    }
    return outcome;
}

std::string ChangeText(const std::vector<Change>& changes) {
    std::string text;
    for (const Change& c : changes)
        text += (text.empty() ? "" : ", ") + std::string(c.field) + " " + c.before + " -> " +
                c.after;
    return text;
}

std::string ChangeJson(const Change& c) {
    if (c.flag)
        return std::string("[") + (c.before == "on" ? "true" : "false") + "," +
               (c.after == "on" ? "true" : "false") + "]";
    return "[" + JsonQuote(c.before) + "," + JsonQuote(c.after) + "]";
}

void PrintText(const std::string& serial, const Outcome& o, std::ostream& out) {
    const char* s = serial.c_str();
    switch (o.result) {
    case Unchanged:
        Print(out, "%s unchanged\n", s);
        break;
    case Changed:
        Print(out, "%s changed: %s\n", s, ChangeText(o.changes).c_str());
        if (o.rebooting)
            Print(out, "%s is rebooting for the changes to become active...\n", s);
        break;
    case WouldChange:
        Print(out, "%s would change: %s\n", s, ChangeText(o.changes).c_str());
        break;
    case NotFound:
        Print(out, "Error: Lan Interface %s not found on LAN.\n", s);
        break;
    case KeyError:
        if (o.key.present)
            Print(out, "%s is probably the wrong crypt key for %s\n", o.key.Named().c_str(), s);
        else
            Print(out, "You need to specify %ss crypt key with \"-k\"\n", s);
        break;
    default:
        if (o.readFailed)
            Print(out, "Error reading configuration from Lan Interface %s.\n", s);
        else
            Print(out, "Updating %s failed\n", s);
        break;
    }
}

std::string JsonElement(const std::string& serial, const Outcome& o) {
    std::string changes;
    for (const Change& c : o.changes)
        changes += (changes.empty() ? "" : ",") + JsonQuote(c.field) + ":" + ChangeJson(c);
    std::string element = "{\"serialNumber\":" + JsonQuote(serial) + ",\"result\":" +
                          JsonQuote(ResultWord(o.result)) + ",\"changes\":{" + changes + "}";
    if (o.result == Failed)
        element += ",\"reason\":" + JsonQuote(o.reason);
    return element + "}";
}

} // namespace

int ApplyCommand::Execute(const std::vector<std::string>& args, CommandContext& context) {
    ApplyOptions options;
    if (args.size() < 2 || !options.Parse(args))
        return ExitUsage;
    ConfigPlan plan;
    std::string error;
    if (!plan.Load(args[1], &error)) {
        Print(context.err, "%s\n", error.c_str());
        context.refused = true;
        return ExitUsage;
    }
    KeySource keys(false, std::string(), nullptr, std::string());
    if (!LoadKeys(options.hasKey, options.key, context, &keys))
        return ExitUsage;

    std::vector<Outcome> outcomes(plan.entries.size());
    RunParallel(plan.entries.size(), options.jobs, [&](size_t i) {
        outcomes[i] = ApplyEntry(plan.entries[i], keys, options.dryRun, context);
    });

    bool failed = false, keyError = false;
    std::string array;
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const std::string& serial = plan.entries[i].serialNumber;
        failed = failed || outcomes[i].result == Failed || outcomes[i].result == NotFound;
        keyError = keyError || outcomes[i].result == KeyError;
        if (context.json)
            array += (array.empty() ? "[\n" : ",\n") + JsonElement(serial, outcomes[i]);
        else
            PrintText(serial, outcomes[i], context.out);
    }
    if (context.json)
        Print(context.out, "%s\n", array.empty() ? "[]" : (array + "\n]").c_str());
    return failed ? ExitFailed : keyError ? ExitKeyError : ExitOk;
}
