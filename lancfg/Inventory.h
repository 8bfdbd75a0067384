#pragma once

#include "InventoryFile.h" // IsoTime
#include "JsonLines.h"
#include "KeySource.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct CommandContext;
class LanInterface;

// What is remembered of one device: where it answered last, what it ran, and when.
struct InventoryEntry {
    std::string serialNumber; // as list prints it
    std::string address;      // where it answered from, dotted
    std::string network;      // the network interface its answer came by ("eth0"), or empty
    std::string version;
    std::string state;     // the state word it answered in ("Run", "Maintenance")
    int64_t firstSeen = 0; // seconds since 1970, UTC
    int64_t lastSeen = 0;
};

// The devices that searches found, kept in one file of the user's
// ($XDG_STATE_HOME/velantrix-konfigurator/inventory.json), so that a device that falls silent
// stays known with the time it last answered. The file is always replaced whole, and every
// change reads, merges and writes it under a lock, so that two runs at once keep each other's
// entries. A file that cannot be read as an inventory is set aside, never taken for empty.
class Inventory {
public:
    explicit Inventory(std::string path) : path_(std::move(path)) {}
    // In the user's state folder ($XDG_STATE_HOME or ~/.local/state), beside the update history.
    static std::string DefaultPath(const KeySource::Environment& environment);
    const std::string& Path() const { return path_; }

    // The devices of a search as entries seen at now.
    static std::vector<InventoryEntry> Seen(const std::vector<LanInterface>& devices,
                                            int64_t now);

    // Merges what a search saw into the file: a device known before keeps its first-seen time.
    // notice receives a line for the user when the file was set aside or could not be written
    // (false then).
    bool Record(const std::vector<InventoryEntry>& seen, std::string* notice) const;
    // Drops every entry of serial; dropped receives how many there were.
    bool Forget(const std::string& serial, size_t* dropped, std::string* notice) const;
    // The entries as the file holds them, the file left as it is. A missing file holds none;
    // one that cannot be read gives none and a notice.
    std::vector<InventoryEntry> Load(std::string* notice) const;

    // For each seen device, the index of the known entry that is the same device: the one of
    // its serial number and address, else one of its serial number whose address did not answer
    // (the device moved), the most recently seen first. npos: a device not known.
    static std::vector<size_t> Match(const std::vector<InventoryEntry>& known,
                                     const std::vector<InventoryEntry>& seen);

    // Beyond this many entries the ones seen longest ago are dropped, so that the file stays
    // well below what is read of it.
    static constexpr size_t MaxEntries = 100000;
    static constexpr size_t MaxFileSize = 64u * 1024 * 1024;

private:
    enum class ReadOutcome { Read, Missing, Damaged, Unreadable };
    ReadOutcome Read(std::vector<InventoryEntry>* entries, std::string* why) const;
    // Runs change on the entries under the lock and writes them back.
    template <typename Change> bool Update(Change change, std::string* notice) const;

    std::string path_;
};

// What every search does with what it found: remembers it, unless --no-inventory or
// LANCFG_NO_INVENTORY says to leave the inventory alone. A notice goes to err as a warning.
void RememberDevices(const CommandContext& context, const std::vector<LanInterface>& devices);

// A search beside what is remembered: the entry of each device found, in the order found (made
// from the device when it is not remembered), and the remembered ones that did not answer, by
// serial number and address.
struct Recalled {
    std::vector<InventoryEntry> found;
    std::vector<InventoryEntry> offline;
};
// Reads the inventory (a notice goes to err as a warning) and sets it beside devices.
Recalled Recall(const CommandContext& context, const std::vector<LanInterface>& devices);

// Where it answered: "192.168.1.52 (eth1)", or the address alone.
std::string WhereSeen(const InventoryEntry& entry);
// The members a device has in list --known --json: online, lastSeen, firstSeen.
void AddSeenJson(JsonObject& json, const InventoryEntry& entry, bool online);
// A remembered device that did not answer, as list --known --json shows it.
JsonObject OfflineJson(const InventoryEntry& entry);
