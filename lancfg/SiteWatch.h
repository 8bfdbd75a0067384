#pragma once

#include "Inventory.h"

#include <optional>
#include <string>
#include <vector>

// One device as a search and the reads after it saw it.
struct WatchedDevice {
    InventoryEntry seen;              // serial number, address, network, version, state, times
    std::optional<bool> dhcp, crypt; // unknown for a device that is not running or not read
};

// A field of a device that changed from one search to the next, as text ("on" or "off" for a
// flag).
struct WatchChange {
    const char* field; // "address", "network", "version", "state", "dhcp", "encryption"
    std::string before, after;
};

struct WatchEvent {
    enum Kind { Appeared, Changed, Gone };
    Kind kind = Appeared;
    WatchedDevice device; // as it is now; for Gone as it was last seen
    std::vector<WatchChange> changes;
};

// What changed on a site from one search to the next. A device counts as gone only after two
// searches in a row without its answer, so that one lost reply never reports it gone; a field a
// read could not learn this time keeps its value and is no change.
class SiteWatch {
public:
    // The devices of one search, in any order; the events it makes, by serial number.
    std::vector<WatchEvent> Round(const std::vector<WatchedDevice>& found);

    // Searches in a row without an answer after which a device is gone.
    static constexpr int MissesToGone = 2;

private:
    std::vector<WatchedDevice> known_;
    std::vector<int> misses_; // per known device
};
