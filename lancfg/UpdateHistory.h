#pragma once

#include "Rollout.h"

#include <functional>
#include <string>
#include <vector>

// Every firmware run's results, one JSON line per device, appended to the user's history file
// ($XDG_STATE_HOME/velantrix-konfigurator/history.jsonl), so that a device's updates can be
// looked up later (lancfg history).
struct HistoryEntry {
    std::string time; // ISO 8601, UTC
    std::string serialNumber;
    std::string previousVersion, version;
    std::string result, reason;
    std::string file;
    unsigned attempts = 0;
    double durationS = 0;
};

class UpdateHistory {
public:
    explicit UpdateHistory(std::string path) : path_(std::move(path)) {}
    // $XDG_STATE_HOME/velantrix-konfigurator/history.jsonl, by default under ~/.local/state.
    static std::string DefaultPath(const std::function<const char*(const char*)>& environment);
    const std::string& Path() const { return path_; }

    // Appends the results of one run with the firmware file's name; the folder is made (0700)
    // when missing. False with the reason.
    bool Append(const std::vector<RolloutResult>& results, const std::string& file,
                std::string* error) const;
    // The entries, oldest first, of one serial number (all when empty). A missing file holds
    // none; lines that cannot be read are passed over.
    bool Read(const std::string& serial, std::vector<HistoryEntry>* entries,
              std::string* error) const;

private:
    std::string path_;
};
