#pragma once

#include "ConfigPlan.h"
#include "JsonLines.h"
#include "KeySource.h"

#include <ostream>
#include <string>
#include <vector>

class LanInterface;

// A field of a device's configuration that a plan can change.
enum class ConfigField { Ip, Netmask, Gateway, Dhcp, Encryption };

// One field that differs: the device's value and the plan's, as text ("on" or "off" for a flag).
struct ConfigChange {
    ConfigField field;
    std::string before, after;
};

// How the plan entry of one device ended.
enum class ApplyResult { Unchanged, Changed, WouldChange, Failed, KeyError, NotFound, Skipped };

struct ApplyOutcome {
    ApplyResult result = ApplyResult::Failed;
    std::vector<ConfigChange> changes;
    std::string reason;      // why it failed, for the JSON
    bool rebooting = false;  // the device restarts to take the change
    bool readFailed = false; // it failed at reading the configuration, else at writing it
    bool notKept = false;    // the device took the write, but reads back its old values
    ChosenKey key;           // the key used, which a wrong-key line names
};

// The rules of apply that need no network: which fields of a device a plan entry changes, how the
// changes go into the device's record, and how the outcome is told in text and in JSON.
class ConfigApply {
public:
    // The fields of entry that differ from what the device holds, in the order ip, netmask,
    // gateway, dhcp, encryption. With DHCP on (in the entry or, when the entry leaves it out, on
    // the device) the addresses are the ones the DHCP server gave, as show prints them, so they
    // are neither compared nor written.
    static std::vector<ConfigChange> Changes(const PlanEntry& entry, const LanInterface& device);
    // Puts the plan's values of changes into the record's static addresses and flags.
    static void Write(const std::vector<ConfigChange>& changes, LanInterface& device);

    // The lines of one device's outcome, as set and fwupdate word the same results.
    static void PrintText(const std::string& serial, const ApplyOutcome& outcome,
                          std::ostream& out);
    // The element of one device in apply --json.
    static JsonObject OutcomeJson(const std::string& serial, const ApplyOutcome& outcome);
    // "ip 192.168.1.61 -> 192.168.1.50, encryption on -> off"
    static std::string ChangesText(const std::vector<ConfigChange>& changes);
    // The field's name in a plan and in the output: "ip", "encryption".
    static const char* FieldName(ConfigField field);
};
