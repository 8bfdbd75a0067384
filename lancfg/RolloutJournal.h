#pragma once

#include "Rollout.h"

#include <set>
#include <string>

// The journal of a rollout: one line when a device starts and one when it ends (serial number,
// version before, result, time), each written whole with one append, so that a run killed at
// any moment leaves a journal from which a later run resumes.
class RolloutJournal {
public:
    RolloutJournal() = default;
    ~RolloutJournal();
    RolloutJournal(const RolloutJournal&) = delete;
    RolloutJournal& operator=(const RolloutJournal&) = delete;

    // Opens path for appending (made with mode 0600 when new). False with the reason.
    bool Open(const std::string& path, std::string* error);
    bool IsOpen() const { return fd_ >= 0; }
    void Started(const std::string& serial, const std::string& previousVersion, unsigned attempt);
    void Ended(const RolloutResult& result);

    // The serial numbers whose last line in the journal at path says they ended well (updated,
    // current, or back with the version they had), and those of the others. False with the
    // reason when it cannot be read; a line cut short (the run was killed while writing it) is
    // passed over.
    static bool Read(const std::string& path, std::set<std::string>* endedWell,
                     std::set<std::string>* unfinished, std::string* error);

private:
    void Append(const std::string& line);
    int fd_ = -1;
};

// The current time as ISO 8601 in UTC ("2026-12-09T02:50:41Z").
std::string UtcNow();
