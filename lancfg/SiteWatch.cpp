#include "SiteWatch.h"

#include <algorithm>

namespace {

const char* FlagText(bool on) {
    return on ? "on" : "off";
}

void CompareText(const char* field, const std::string& before, const std::string& after,
                 std::vector<WatchChange>& changes) {
    if (before != after)
        changes.push_back({field, before, after});
}

// A flag learnt this time that differs from the one known; one not learnt keeps the old value.
void CompareFlag(const char* field, std::optional<bool>& known, const std::optional<bool>& now,
                 std::vector<WatchChange>& changes) {
    if (!now)
        return;
    if (known && *known != *now)
        changes.push_back({field, FlagText(*known), FlagText(*now)});
    known = now;
}

} // namespace

std::vector<WatchEvent> SiteWatch::Round(const std::vector<WatchedDevice>& found) {
    std::vector<InventoryEntry> knownEntries, foundEntries;
    for (const WatchedDevice& d : known_)
        knownEntries.push_back(d.seen);
    for (const WatchedDevice& d : found)
        foundEntries.push_back(d.seen);
    const std::vector<size_t> match = Inventory::Match(knownEntries, foundEntries);

    std::vector<WatchEvent> events;
    std::vector<bool> answered(known_.size(), false);
    for (size_t i = 0; i < found.size(); ++i) {
        if (match[i] == std::string::npos) {
            events.push_back({WatchEvent::Appeared, found[i], {}});
            continue;
        }
        const size_t k = match[i];
        answered[k] = true;
        misses_[k] = 0;
        WatchedDevice& was = known_[k];
        const WatchedDevice& now = found[i];
        std::vector<WatchChange> changes;
        CompareText("address", was.seen.address, now.seen.address, changes);
        CompareText("network", was.seen.network, now.seen.network, changes);
        CompareText("version", was.seen.version, now.seen.version, changes);
        CompareText("state", was.seen.state, now.seen.state, changes);
        CompareFlag("dhcp", was.dhcp, now.dhcp, changes);
        CompareFlag("encryption", was.crypt, now.crypt, changes);
        const int64_t first = was.seen.firstSeen;
        was.seen = now.seen;
        was.seen.firstSeen = first;
        if (!changes.empty())
            events.push_back({WatchEvent::Changed, was, std::move(changes)});
    }
    // The silent ones: gone after the second search in a row without them.
    std::vector<WatchedDevice> kept;
    std::vector<int> keptMisses;
    for (size_t k = 0; k < known_.size(); ++k) {
        if (!answered[k] && ++misses_[k] >= MissesToGone) {
            events.push_back({WatchEvent::Gone, known_[k], {}});
            continue;
        }
        kept.push_back(known_[k]);
        keptMisses.push_back(misses_[k]);
    }
    known_ = std::move(kept);
    misses_ = std::move(keptMisses);
    for (const WatchEvent& e : events)
        if (e.kind == WatchEvent::Appeared) {
            known_.push_back(e.device);
            misses_.push_back(0);
        }
    std::stable_sort(events.begin(), events.end(), [](const WatchEvent& a, const WatchEvent& b) {
        return a.device.seen.serialNumber < b.device.seen.serialNumber;
    });
    return events;
}
