#pragma once

#include <string>

// Receives the progress of a firmware update, on the updating thread, between two exchanges.
class ProgressObserver {
public:
    virtual ~ProgressObserver() = default;
    virtual void OnProgress(int percent, const std::string& text) = 0;
};
