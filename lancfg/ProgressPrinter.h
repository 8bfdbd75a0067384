#pragma once

#include "ProgressObserver.h"

#include <ostream>

// Prints the firmware update's progress on one console line, each report over the previous one.
class ProgressPrinter : public ProgressObserver {
public:
    explicit ProgressPrinter(std::ostream& out) : out_(out) {}
    void OnProgress(int percent, const std::string& text) override;

private:
    std::ostream& out_;
};
