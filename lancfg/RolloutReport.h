#pragma once

#include "Command.h"
#include "FleetProgress.h"
#include "ProgressPrinter.h"
#include "Rollout.h"

#include <memory>
#include <string>
#include <vector>

class RolloutJournal;

// What a firmware rollout shows while it runs and when it ends. One device alone (the classic
// command) gets its progress line and the lines the command always printed. Many devices get
// one result line each as it ends (with the redrawn block of running devices on a terminal), or
// one JSON array, then a summary line and, for each device that needs attention, what to do.
// Every start and end also goes to the journal, when there is one.
class RolloutReport : public RolloutObserver {
public:
    struct Setup {
        bool single = false; // the classic output of one device
        bool verify = false;
        std::string file;
        std::string journalPath; // for the resume hint; empty without a journal
        RolloutJournal* journal = nullptr;
    };
    RolloutReport(CommandContext& context, const std::vector<RolloutDevice>& devices,
                  std::vector<ChosenKey> keys, Setup setup);
    ~RolloutReport() override;

    void Started(size_t index, unsigned attempt) override;
    ProgressObserver& Progress(size_t index) override;
    void Ended(size_t index, const RolloutResult& result) override;
    void Stopping(size_t finishing) override;
    void Abandoning(const std::vector<size_t>& stranded) override;

    // Prints what comes after the devices (the single device's lines, or the JSON array, the
    // summary and the hints) and returns the exit code: 0 when every device ended well (a
    // device back with its old version is a warning), 254 when the only failures are keys, 253
    // when the policy stopped the rollout, 255 for any other failure or an interruption.
    int Finish(const Rollout& rollout);

private:
    int FinishSingle(const RolloutResult& result);
    void PrintJson(const std::vector<RolloutResult>& results);
    void PrintSummary(const std::vector<RolloutResult>& results);
    void PrintHints(const std::vector<RolloutResult>& results);
    std::string ResultLine(size_t index, const RolloutResult& result) const;
    std::string Hint(size_t index, const RolloutResult& result) const;
    std::string Command(size_t index) const;

    CommandContext& context_;
    std::vector<RolloutDevice> devices_;
    std::vector<ChosenKey> keys_;
    Setup setup_;
    std::unique_ptr<ProgressPrinter> printer_;
    std::unique_ptr<FleetProgress> progress_;
};
