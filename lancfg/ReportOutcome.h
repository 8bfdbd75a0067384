#pragma once

#include "LanInterface.h"

#include <ostream>
#include <string>

struct ChosenKey;

// Prints the outcome of a write or an update of one device on out and returns the exit code:
// rebooting adds the line that the device restarts; key is the key that was used, which the
// wrong-key line names (or its source); why tells a write that the device did not keep.
int ReportOutcome(LanResult result, bool rebooting, const ChosenKey& key, const std::string& serial,
                  std::ostream& out, WriteFailure why = WriteKept);
// The line for a device that wants its key (none was given) or refused the one given, and
// ExitKeyError.
int ReportKeyError(const ChosenKey& key, const std::string& serial, std::ostream& out);
