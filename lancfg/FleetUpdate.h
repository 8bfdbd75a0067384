#pragma once

#include "Command.h"

#include <mutex>
#include <string>
#include <vector>

class LanInterface;
class FleetProgress;
class KeySource;
struct ChosenKey;

// What a firmware update of many devices is asked to do.
struct FleetRequest {
    std::vector<std::string> serials; // as typed, in order; empty with all
    bool all = false;                 // every device a search finds, in its order
    std::string file;
    std::string key; // -k, for every device that asks for its key
    bool hasKey = false;
    const KeySource* keys = nullptr; // each device's key; none when null
    unsigned jobs = 16;          // devices updated at once
    unsigned comeBackMs = 30000; // how long a device may take to return as its application
};

// How one device's update ended.
enum class FleetOutcome { Updated, Failed, KeyError, NotFound };

struct FleetResult {
    std::string serial; // as typed, or as found (printable)
    FleetOutcome outcome = FleetOutcome::Failed;
    std::string version; // the version it runs, when updated and back
    std::string reason;  // why not, for the user
};

// Updates many devices at once, each on a thread of its own (at most jobs at a time, all joined
// before Run returns), each with its own record and its own exchanges, so that every device
// receives the bytes of a single update. After its last block each device must come back as its
// application, whose version is then read. The threads share nothing mutable but the output,
// behind FleetProgress's lock, and the result list, behind this class's lock.
class FleetUpdate {
public:
    FleetUpdate(const FleetRequest& request, CommandContext& context);
    // Reads and checks the file once, finds the devices, updates them and prints the results.
    // Returns the exit code: 0 all updated and back, -2 none failed but some want or rejected
    // their key, -1 any failed or was not found.
    int Run();
    const std::vector<FleetResult>& Results() const { return results_; }

private:
    void UpdateDevice(size_t index, LanInterface& device, bool found, FleetProgress& progress);
    // The key for this device (present false for none).
    ChosenKey KeyFor(const std::string& serial) const;
    void PrintJson() const;
    int ExitCode() const;

    FleetRequest request_;
    CommandContext& context_;
    std::string digits_; // the checked firmware text, read by every device at once

    std::mutex mutex_; // results_ while the devices run
    std::vector<FleetResult> results_;
};
