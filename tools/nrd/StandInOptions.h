#pragma once

#include <string>
#include <vector>

// Command line of the stand-in radio service:
//   nrd -f <configuration file> -e <start-up event name> [-t <behaviour>]...
// The -t option selects a test behaviour; kp_config never passes it.
struct StandInOptions {
    std::string configPath;
    std::string eventName;

    // Test behaviours.
    bool postEvent = true;           // -t no-event: never post the start-up event
    bool writeReadyLine = true;      // -t no-ready-line: post the event without a ready line
    int longLine = 0;                // -t long-line=N: a line of N characters before the ready line
    int exitAfterMs = -1;            // -t exit-after=MS: end by itself after MS milliseconds
    bool fault = false;              // -t fault: answer every call with a fault
    int answerDelayMs = 0;           // -t slow=MS: answer each call only after MS milliseconds
    std::string shape;               // -t shape=KIND: answer with an unexpected shape (see main)
    int normalFirst = 0;             // -t normal-first=N: fault, slow and shape spare N calls
    bool logCalls = false;           // -t log-calls: one log line for each call answered
    int takePortMs = 0;              // -t take-port=MS: wait up to MS ms for a taken Listen Port
    std::string present;             // -t present=up|down: pretend an interface is there, no lookup
    std::string hidSysRoot = "/sys"; // -t sysroot=DIR: look for USB interfaces under DIR
    std::string hidDevRoot = "/dev"; // -t devroot=DIR: open them under DIR
};

// False (with a message in error) on an unknown option, a missing value or a missing -f / -e.
bool ParseStandInOptions(const std::vector<std::string>& args, StandInOptions& options,
                         std::string& error);
