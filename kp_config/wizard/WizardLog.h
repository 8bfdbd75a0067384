#pragma once

// The lines the connection wizard writes to the program's log (the process-wide logger, when
// one is installed): each check on the last page with its result, and how the wizard ended
// with the choice it stored. Serial numbers, host and port are named; the access code never is.

#include "ConnectionSettings.h"

#include <string>

// "LAN interface KPL0000001 at 10.1.2.3", "remote service 127.0.0.1:2001", "USB interface".
std::string DescribeChoice(const ConnectionSettings& settings);

void LogVerifyResult(const ConnectionSettings& settings, int result);
void LogWizardFinished(const ConnectionSettings& settings);
void LogWizardCancelled();
