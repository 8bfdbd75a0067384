#pragma once

#include "ConnectionSettings.h"

#include <string>

// What the wizard's last page shows for the result of a connection check: the German text (its
// lines joined by CR LF) and whether Finish is offered besides Back.
struct VerifyOutcome {
    std::string text;
    bool finishAllowed = false;
};

// The outcome for a check of this connection type that returned `result` (a VerifyResult). A
// pair that no check returns gives an empty text with Back only.
VerifyOutcome DescribeVerifyResult(ConnectionType connection, int result);
