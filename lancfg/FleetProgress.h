#pragma once

#include "ProgressObserver.h"

#include <memory>
#include <ostream>
#include <string>
#include <vector>

// The console output of many devices updating at once. Each device's result lines are printed
// whole when it ends. On a terminal a block of lines below them shows every device that runs
// (serial number, stage, percent) and a total line, redrawn in place; elsewhere nothing but the
// result lines is printed, without carriage returns.
class FleetProgress {
public:
    // serials names the devices by index; draw turns the redrawn block on.
    FleetProgress(std::ostream& out, std::ostream& err, bool draw,
                  const std::vector<std::string>& serials);
    ~FleetProgress();
    FleetProgress(const FleetProgress&) = delete;
    FleetProgress& operator=(const FleetProgress&) = delete;

    // The observer of device index's update.
    ProgressObserver& Observer(size_t index);
    // The device begins, at the given stage.
    void Begin(size_t index, const std::string& stage);
    // The device ended: prints its lines on out and on err and drops its row.
    void End(size_t index, const std::string& outLines, const std::string& errLines, bool failed);
    // Erases the block; after it only plain lines follow.
    void Close();

private:
    struct Row {
        std::string stage;
        int percent = 0;
        bool running = false;
    };
    class RowObserver;

    void Update(size_t index, int percent, const std::string& stage);
    void Erase();
    void Draw();

    std::ostream& out_;
    std::ostream& err_;
    const bool draw_;
    std::vector<std::string> serials_;
    std::vector<std::unique_ptr<RowObserver>> observers_;

    std::vector<Row> rows_;
    size_t drawnLines_ = 0;
    size_t ended_ = 0;
    size_t failed_ = 0;
    bool closed_ = false;
};
