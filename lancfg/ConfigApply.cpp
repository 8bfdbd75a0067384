#include "ConfigApply.h"

#include "ConsoleTexts.h"
#include "LanInterface.h"
#include "ReportOutcome.h"

namespace {

// Where each field lives in a plan entry and in a device's record: an address text or a flag.
struct FieldSlot {
    ConfigField field;
    const char* name;
    bool PlanEntry::*has;
    std::string PlanEntry::*address; // nullptr for a flag
    bool PlanEntry::*flag;           // nullptr for an address
    std::string LanInterface::*deviceAddress;
    bool LanInterface::*deviceFlag;
};

constexpr FieldSlot kSlots[] = {
    {ConfigField::Ip, "ip", &PlanEntry::hasIp, &PlanEntry::ip, nullptr, &LanInterface::staticIp,
     nullptr},
    {ConfigField::Netmask, "netmask", &PlanEntry::hasNetmask, &PlanEntry::netmask, nullptr,
     &LanInterface::staticNetmask, nullptr},
    {ConfigField::Gateway, "gateway", &PlanEntry::hasGateway, &PlanEntry::gateway, nullptr,
     &LanInterface::staticGateway, nullptr},
    {ConfigField::Dhcp, "dhcp", &PlanEntry::hasDhcp, nullptr, &PlanEntry::dhcp, nullptr,
     &LanInterface::dhcp},
    {ConfigField::Encryption, "encryption", &PlanEntry::hasEncryption, nullptr,
     &PlanEntry::encryption, nullptr, &LanInterface::crypt},
};

const FieldSlot& SlotOf(ConfigField field) {
    return kSlots[static_cast<size_t>(field)];
}

const char* OnOff(bool on) {
    return on ? "on" : "off";
}

const char* ResultWord(ApplyResult result) {
    switch (result) {
    case ApplyResult::Unchanged:
        return "unchanged";
    case ApplyResult::Changed:
        return "changed";
    case ApplyResult::WouldChange:
        return "wouldChange";
    case ApplyResult::KeyError:
        return "keyError";
    case ApplyResult::NotFound:
        return "notFound";
    case ApplyResult::Skipped:
        return "skipped";
    default:
        return "failed";
    }
}

} // namespace

const char* ConfigApply::FieldName(ConfigField field) {
    return SlotOf(field).name;
}

std::vector<ConfigChange> ConfigApply::Changes(const PlanEntry& entry, const LanInterface& device) {
    const bool dhcp = entry.hasDhcp ? entry.dhcp : device.dhcp;
    std::vector<ConfigChange> changes;
    for (const FieldSlot& slot : kSlots) {
        if (!(entry.*slot.has) && slot.field != ConfigField::Dhcp)
            continue;
        if (slot.address) {
            const std::string& before = device.*slot.deviceAddress;
            if (!dhcp && entry.*slot.address != before)
                changes.push_back({slot.field, before, entry.*slot.address});
        } else {
            const bool before = device.*slot.deviceFlag;
            const bool after = slot.field == ConfigField::Dhcp ? dhcp : entry.*slot.flag;
            if (after != before)
                changes.push_back({slot.field, OnOff(before), OnOff(after)});
        }
    }
    return changes;
}

void ConfigApply::Write(const std::vector<ConfigChange>& changes, LanInterface& device) {
    for (const ConfigChange& change : changes) {
        const FieldSlot& slot = SlotOf(change.field);
        if (slot.deviceAddress)
            device.*slot.deviceAddress = change.after;
        else
            device.*slot.deviceFlag = change.after == OnOff(true);
    }
}

std::string ConfigApply::ChangesText(const std::vector<ConfigChange>& changes) {
    std::string text;
    for (const ConfigChange& c : changes)
        text += (text.empty() ? "" : ", ") + std::string(FieldName(c.field)) + " " + c.before +
                " -> " + c.after;
    return text;
}

void ConfigApply::PrintText(const std::string& serial, const ApplyOutcome& outcome,
                            std::ostream& out) {
    const char* s = serial.c_str();
    switch (outcome.result) {
    case ApplyResult::Unchanged:
        SayOn<kUnchanged>(out, s);
        break;
    case ApplyResult::Changed:
        SayOn<kChanged>(out, s, ChangesText(outcome.changes).c_str());
        if (outcome.rebooting)
            SayOn<kRebooting>(out, s);
        break;
    case ApplyResult::WouldChange:
        SayOn<kWouldChange>(out, s, ChangesText(outcome.changes).c_str());
        break;
    case ApplyResult::NotFound:
        SayOn<kNotFoundOnLan>(out, s);
        break;
    case ApplyResult::KeyError:
        ReportOutcome(ResultKeyError, false, outcome.key, serial, out);
        break;
    case ApplyResult::Skipped:
        SayOn<kNotApplied>(out, s, outcome.reason.c_str());
        break;
    default:
        if (outcome.readFailed)
            SayOn<kReadFailed>(out, s);
        else
            ReportOutcome(ResultFailed, false, outcome.key, serial, out,
                          outcome.notKept ? WriteNotKept : WriteNoAnswer);
        break;
    }
}

JsonObject ConfigApply::OutcomeJson(const std::string& serial, const ApplyOutcome& outcome) {
    JsonObject changes = JsonObject::object();
    for (const ConfigChange& c : outcome.changes) {
        if (SlotOf(c.field).deviceFlag)
            changes[FieldName(c.field)] = {c.before == OnOff(true), c.after == OnOff(true)};
        else
            changes[FieldName(c.field)] = {c.before, c.after};
    }
    JsonObject element{
        {"serialNumber", serial}, {"result", ResultWord(outcome.result)}, {"changes", changes}};
    if (outcome.result == ApplyResult::Failed || outcome.result == ApplyResult::Skipped)
        element["reason"] = outcome.reason;
    return element;
}
