#include "FleetProgress.h"

#include "Command.h"

#include <cstdio>

class FleetProgress::RowObserver : public ProgressObserver {
public:
    RowObserver(FleetProgress& owner, size_t index) : owner_(owner), index_(index) {}
    void OnProgress(int percent, const std::string& text) override {
        owner_.Update(index_, percent, text);
    }

private:
    FleetProgress& owner_;
    size_t index_;
};

FleetProgress::FleetProgress(std::ostream& out, std::ostream& err, bool draw,
                             const std::vector<std::string>& serials)
    : out_(out), err_(err), draw_(draw), serials_(serials), rows_(serials.size()) {
    for (size_t i = 0; i < serials_.size(); ++i)
        observers_.push_back(std::make_unique<RowObserver>(*this, i));
}

FleetProgress::~FleetProgress() {
    Close();
}

ProgressObserver& FleetProgress::Observer(size_t index) {
    return *observers_.at(index);
}

void FleetProgress::Begin(size_t index, const std::string& stage) {
    rows_[index] = Row{stage, 0, true};
    Draw();
}

void FleetProgress::Update(size_t index, int percent, const std::string& stage) {
    Row& row = rows_[index];
    // The waiting step reports the same thing ten times a second: redraw only what changed.
    if (row.percent == percent && row.stage == stage)
        return;
    row.percent = percent;
    row.stage = stage;
    Draw();
}

void FleetProgress::End(size_t index, const std::string& outLines, const std::string& errLines,
                        bool failed) {
    Erase();
    rows_[index].running = false;
    ++ended_;
    if (failed)
        ++failed_;
    if (!outLines.empty())
        out_ << outLines << std::flush;
    if (!errLines.empty())
        err_ << errLines << std::flush;
    Draw();
}

void FleetProgress::Close() {
    Erase();
    closed_ = true;
}

void FleetProgress::Erase() {
    if (drawnLines_ == 0)
        return;
    // Up to the block's first line, then clear to the end of the screen.
    Print(out_, "\x1b[%zuA\x1b[J", drawnLines_);
    drawnLines_ = 0;
}

void FleetProgress::Draw() {
    if (!draw_ || closed_)
        return;
    Erase();
    std::string block;
    size_t running = 0;
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (!rows_[i].running)
            continue;
        char line[160];
        std::snprintf(line, sizeof line, "%-10s  %-40s %3d%%\n", serials_[i].c_str(),
                      rows_[i].stage.c_str(), rows_[i].percent);
        block += line;
        ++running;
    }
    char total[160];
    std::snprintf(total, sizeof total, "%zu of %zu devices done, %zu failed, %zu running\n", ended_,
                  rows_.size(), failed_, running);
    block += total;
    out_ << block << std::flush;
    drawnLines_ = running + 1;
}
