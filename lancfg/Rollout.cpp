#include "Rollout.h"

#include "FirmwareUpdate.h"
#include "LanOperations.h"
#include "LanProtocol.h"
#include "TerminationWatch.h"

#include <algorithm>

const char* OutcomeWord(RolloutOutcome outcome) {
    switch (outcome) {
    case RolloutOutcome::Updated:
        return "updated";
    case RolloutOutcome::SameVersion:
        return "sameVersion";
    case RolloutOutcome::Current:
        return "current";
    case RolloutOutcome::KeyError:
        return "keyError";
    case RolloutOutcome::Offline:
        return "offline";
    case RolloutOutcome::Skipped:
        return "skipped";
    default:
        return "failed";
    }
}

namespace {

using Clock = std::chrono::steady_clock;

// Failures that a second try may mend: silence, not a refusal or a key error.
bool MayPassAgain(const std::string& failure) {
    return failure == "no answer to B" || failure == "no answer to U" ||
           failure == "did not come back as its bootloader" ||
           failure.rfind("no answer to block ", 0) == 0 ||
           failure == "did not come back after the update";
}

} // namespace

struct Rollout::Device {
    enum class Stage { Waiting, Running, Done };

    // Forwards a device's progress and notes that its B was taken: every report comes after.
    class Progress : public ProgressObserver {
    public:
        Progress(Rollout& owner, size_t index) : owner_(owner), index_(index) {}
        void OnProgress(int percent, const std::string& text) override {
            owner_.devices_[index_]->pastB = true;
            owner_.observer_.Progress(index_).OnProgress(percent, text);
        }

    private:
        Rollout& owner_;
        size_t index_;
    };

    Device(Rollout& owner, size_t index, RolloutDevice d)
        : given(std::move(d)), previousVersion(given.record.version), progress(owner, index) {}

    RolloutDevice given;
    std::string previousVersion;
    Progress progress;
    Stage stage = Stage::Waiting;
    bool canary = false;
    bool pastB = false;
    bool restarting = false; // the last block announced the restart into the new firmware
    unsigned attempts = 0;
    Clock::time_point began{};
};

Rollout::Rollout(const RolloutPolicy& policy, std::shared_ptr<const std::string> digits,
                 std::vector<RolloutDevice> devices, RolloutObserver& observer)
    : policy_(policy), digits_(std::move(digits)), observer_(observer) {
    policy_.jobs = std::max(policy_.jobs, 1u);
    for (size_t i = 0; i < devices.size(); ++i)
        devices_.push_back(std::make_unique<Device>(*this, i, std::move(devices[i])));
    results_.resize(devices_.size());
}

Rollout::~Rollout() = default;

void Rollout::Run(ExchangeLoop& loop, TerminationWatch* watch) {
    loop_ = &loop;
    watch_ = watch;
    if (watch_ && watch_->Installed())
        loop.WatchWake(watch_->WakeFd(), [this] {
            watch_->Drain();
            OnSignal();
        });
    // What needs nothing sent is reported before anything is.
    size_t canaries = 0;
    for (size_t i = 0; i < devices_.size(); ++i) {
        Device& d = *devices_[i];
        if (!d.given.found)
            Finish(i, RolloutOutcome::Offline, "not found on LAN");
        else if (policy_.skipCurrent && !policy_.expectVersion.empty() &&
                 d.previousVersion == policy_.expectVersion)
            Finish(i, RolloutOutcome::Current, "already runs version " + d.previousVersion);
        else if (canaries < policy_.canary) {
            d.canary = true;
            ++canaries;
        }
    }
    policy_.canary = static_cast<unsigned>(canaries);
    Schedule();
    loop.Run();
    if (watch_ && watch_->Installed())
        loop.WatchWake(-1, nullptr);
}

bool Rollout::CanaryOpen() const {
    return canaryDone_ >= policy_.canary && !canaryFailed_;
}

void Rollout::Schedule() {
    while (!stopping_ && inFlight_ < policy_.jobs && next_ < devices_.size()) {
        Device& d = *devices_[next_];
        if (d.stage != Device::Stage::Waiting) {
            ++next_;
            continue;
        }
        if (!d.canary && !CanaryOpen())
            return; // the others wait until every canary is updated
        Begin(next_++);
    }
}

void Rollout::Begin(size_t index) {
    Device& d = *devices_[index];
    d.stage = Device::Stage::Running;
    d.began = Clock::now();
    ++inFlight_;
    Attempt(index);
}

void Rollout::Attempt(size_t index) {
    Device& d = *devices_[index];
    ++d.attempts;
    observer_.Started(index, d.attempts);
    lanops::UpdateFirmware(*loop_, d.given.record, digits_, d.progress,
                           [this, index](LanResult result, const std::string& failure) {
                               Updated(index, result, failure);
                           });
}

void Rollout::Updated(size_t index, LanResult result, const std::string& failure) {
    Device& d = *devices_[index];
    if (result == ResultKeyError) {
        Finish(index, RolloutOutcome::KeyError,
               d.given.keyGiven ? "rejected the crypt key" : "wants its crypt key (-k)");
        return;
    }
    if (result != ResultOk) {
        Retry(index, failure.empty() ? "update failed" : failure);
        return;
    }
    if (!policy_.verify) {
        Finish(index, RolloutOutcome::Updated, std::string());
        return;
    }
    // A last block answered with 2 announced the restart into the new firmware.
    d.restarting = d.given.record.state == StateBooting;
    d.progress.OnProgress(100, "Waiting for device to restart");
    lanops::WaitForApplication(*loop_, d.given.record, policy_.comeBackMs,
                               [this, index](lanops::ComeBack how) {
                                   CameBack(index, static_cast<int>(how));
                               });
}

void Rollout::CameBack(size_t index, int how) {
    Device& d = *devices_[index];
    const std::string& version = d.given.record.version;
    switch (static_cast<lanops::ComeBack>(how)) {
    case lanops::ComeBack::Silent:
        Retry(index, "did not come back after the update");
        return;
    case lanops::ComeBack::Bootloader:
        Finish(index, RolloutOutcome::Failed,
               (d.restarting ? "back in its bootloader (version "
                             : "still in its bootloader after the update (version ") +
                   version + ")");
        return;
    case lanops::ComeBack::Application:
        break;
    }
    if (!policy_.expectVersion.empty() && version != policy_.expectVersion)
        Finish(index, RolloutOutcome::Failed,
               "runs " + version + ", expected " + policy_.expectVersion);
    else if (policy_.expectVersion.empty() && version == d.previousVersion)
        Finish(index, RolloutOutcome::SameVersion,
               "still runs version " + version + ", as before the update");
    else
        Finish(index, RolloutOutcome::Updated, std::string());
}

void Rollout::Retry(size_t index, const std::string& failure) {
    Device& d = *devices_[index];
    // A device that never took its B is not started again once the rollout stops; one that
    // did is finished, since it may be in its bootloader.
    const bool again = d.attempts <= policy_.retries && MayPassAgain(failure) &&
                       (!stopping_ || d.pastB);
    if (!again) {
        Finish(index, RolloutOutcome::Failed, failure);
        return;
    }
    loop_->After(policy_.retryDelay, [this, index] { Attempt(index); });
}

void Rollout::Finish(size_t index, RolloutOutcome outcome, const std::string& reason) {
    Device& d = *devices_[index];
    const bool wasRunning = d.stage == Device::Stage::Running;
    d.stage = Device::Stage::Done;
    RolloutResult& r = results_[index];
    r.serial = d.given.serial;
    r.address = d.given.record.address;
    r.network = d.given.record.network;
    r.outcome = outcome;
    r.previousVersion = d.previousVersion;
    if (policy_.verify &&
        (outcome == RolloutOutcome::Updated || outcome == RolloutOutcome::SameVersion))
        r.version = d.given.record.version;
    if (outcome == RolloutOutcome::Current)
        r.version = d.previousVersion;
    r.reason = reason;
    r.attempts = d.attempts;
    r.durationS = wasRunning ? std::chrono::duration<double>(Clock::now() - d.began).count() : 0;
    if (wasRunning)
        --inFlight_;
    observer_.Ended(index, r);

    if (outcome == RolloutOutcome::Failed || outcome == RolloutOutcome::KeyError) {
        ++failures_;
        if (policy_.maxFailures > 0 && failures_ >= policy_.maxFailures)
            StopStarting("stopped after " + std::to_string(failures_) + " failure" +
                             (failures_ == 1 ? "" : "s"),
                         true);
    }
    if (d.canary) {
        ++canaryDone_;
        if (outcome != RolloutOutcome::Updated && !canaryFailed_) {
            canaryFailed_ = true;
            StopStarting("stopped: canary " + d.given.serial + " was not updated", true);
        }
    }
    if (wasRunning)
        Schedule();
}

void Rollout::StopStarting(const std::string& reason, bool byPolicy) {
    if (stopping_)
        return;
    stopping_ = true;
    stopReason_ = reason;
    stoppedByPolicy_ = byPolicy;
    for (size_t i = 0; i < devices_.size(); ++i)
        if (devices_[i]->stage == Device::Stage::Waiting)
            Finish(i, RolloutOutcome::Skipped, reason);
}

void Rollout::OnSignal() {
    const int count = watch_ ? watch_->Count() : 0;
    if (count <= signals_)
        return;
    signals_ = count;
    if (count == 1) {
        StopStarting("stopped by a signal", false);
        observer_.Stopping(inFlight_);
        return;
    }
    abandoned_ = true;
    std::vector<size_t> stranded;
    for (size_t i = 0; i < devices_.size(); ++i)
        if (devices_[i]->stage == Device::Stage::Running && devices_[i]->pastB)
            stranded.push_back(i);
    observer_.Abandoning(stranded);
    loop_->Stop();
}
