#pragma once

#include <cstddef>
#include <istream>
#include <string>

// The two texts of the radio service's log that the start-up handshake looks for.
inline constexpr const char* ServiceReadyText = "XmlRpc Server is listening on TCP port ";
inline constexpr const char* ServiceNoInterfaceText = "No Radlex-Interface available";

// How much of one log line is looked at. A service may log long lines before it is ready, but
// holding a line of hundreds of megabytes would stall the program's window while it starts.
inline constexpr size_t MaxServiceLogLine = 64 * 1024;

struct ServiceLogScan {
    enum Result {
        ScanReady,       // a ready line with a port was found
        ScanNoInterface, // the service found no interface before it was ready
        ScanNotFound,    // end of the log without either line
    };
    Result result = ScanNotFound;
    std::string port; // the decimal digits of the ready line
};

// Reads the log line by line until the first ready line that carries digits or the first
// no-interface line. Of a line longer than MaxServiceLogLine only its start is examined; the
// rest is skipped and the reading goes on with the next line. The port is the first run of
// digits at or after the start of the ready text; a ready line without digits is passed over.
ServiceLogScan ScanServiceLog(std::istream& log);
