#pragma once

#include "ExchangeLoop.h"
#include "LanInterface.h"
#include "ProgressObserver.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class TerminationWatch;

// How one device's part of a firmware rollout ended.
enum class RolloutOutcome {
    Updated,     // updated (and, when verified, back with a new version)
    SameVersion, // updated and back, but with the version it had before
    Current,     // already ran the expected version: nothing was sent
    Failed,
    KeyError, // wanted its key, or refused the one given
    Offline,  // did not answer the search: nothing was sent
    Skipped,  // not started: the rollout was stopped before its turn
};
// "updated", "sameVersion", "current", "failed", "keyError", "offline", "skipped".
const char* OutcomeWord(RolloutOutcome outcome);

// One device of a rollout, as the command found it.
struct RolloutDevice {
    std::string serial; // as typed, or as found (printable)
    LanInterface record; // the record found (destination, version, key set); unused offline
    bool found = true;
    bool keyGiven = false; // a key was set on the record
};

struct RolloutResult {
    std::string serial;
    std::string address, network;
    RolloutOutcome outcome = RolloutOutcome::Skipped;
    std::string previousVersion; // the version it ran before (empty when offline)
    std::string version;         // the version it runs after a verified update
    std::string reason;          // why it was not updated, for the user
    unsigned attempts = 0;
    double durationS = 0;
};

// What a rollout may do, and when it stops.
struct RolloutPolicy {
    unsigned jobs = 64;          // devices in flight at once, from B to their result
    bool verify = true;          // wait for each device to come back and read its version
    std::string expectVersion;   // with verify: any other version is a failure
    bool skipCurrent = false;    // a device that already runs expectVersion gets nothing
    unsigned maxFailures = 0;    // stop starting devices when this many failed (0: never)
    unsigned canary = 0;         // this many first; the rest only when all of them are updated
    unsigned retries = 0;        // further attempts for what may pass on a second try
    unsigned comeBackMs = 30000; // how long a device may take to come back as its application
    std::chrono::milliseconds retryDelay{2000};
};

// What the command shows and records while a rollout runs; every call comes from the loop.
class RolloutObserver {
public:
    virtual ~RolloutObserver() = default;
    // The device begins an attempt (1 for the first).
    virtual void Started(size_t index, unsigned attempt) = 0;
    // Where the device's update reports its progress.
    virtual ProgressObserver& Progress(size_t index) = 0;
    // The device has its result.
    virtual void Ended(size_t index, const RolloutResult& result) = 0;
    // A first termination signal: no new device starts; finishing devices are past their B.
    virtual void Stopping(size_t finishing) = 0;
    // A second one: the rollout ends now; stranded devices are left in their bootloader.
    virtual void Abandoning(const std::vector<size_t>& stranded) = 0;
};

// Updates many devices at once as state machines on one ExchangeLoop: each device runs the
// exchanges of a single update on its own record, then, when verified, is identified until it
// answers as its application. At most jobs devices are in flight; waiting for restarts costs
// no thread. The policy's stops (failures, canaries, a termination signal) end the starting of
// devices, never a device already told to enter its bootloader.
class Rollout {
public:
    Rollout(const RolloutPolicy& policy, std::shared_ptr<const std::string> digits,
            std::vector<RolloutDevice> devices, RolloutObserver& observer);
    ~Rollout();
    Rollout(const Rollout&) = delete;
    Rollout& operator=(const Rollout&) = delete;

    // Runs until every device has its result, or until a second termination signal (watch may
    // be null).
    void Run(ExchangeLoop& loop, TerminationWatch* watch);

    const std::vector<RolloutResult>& Results() const { return results_; }
    // Why devices were skipped ("stopped after 2 failures"); empty when nothing stopped it.
    const std::string& StopReason() const { return stopReason_; }
    bool StoppedByPolicy() const { return stoppedByPolicy_; }
    bool Interrupted() const { return signals_ > 0; }
    bool Abandoned() const { return abandoned_; }

private:
    struct Device;
    void Schedule();
    void Begin(size_t index);
    void Attempt(size_t index);
    void Updated(size_t index, LanResult result, const std::string& failure);
    void CameBack(size_t index, int how);
    void Finish(size_t index, RolloutOutcome outcome, const std::string& reason);
    void Retry(size_t index, const std::string& failure);
    void StopStarting(const std::string& reason, bool byPolicy);
    void OnSignal();
    bool CanaryOpen() const;

    RolloutPolicy policy_;
    std::shared_ptr<const std::string> digits_;
    RolloutObserver& observer_;
    std::vector<std::unique_ptr<Device>> devices_;
    std::vector<RolloutResult> results_;
    ExchangeLoop* loop_ = nullptr;
    TerminationWatch* watch_ = nullptr;
    size_t next_ = 0; // the next device to start, in order
    size_t inFlight_ = 0;
    size_t failures_ = 0;
    size_t canaryDone_ = 0;
    bool canaryFailed_ = false;
    bool stopping_ = false;
    bool stoppedByPolicy_ = false;
    bool abandoned_ = false;
    int signals_ = 0;
    std::string stopReason_;
};
