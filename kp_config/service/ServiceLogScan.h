#pragma once

#include <istream>
#include <string>

// The two texts of the radio service's log that the start-up handshake looks for.
inline constexpr const char* ServiceReadyText = "XmlRpc Server is listening on TCP port ";
inline constexpr const char* ServiceNoInterfaceText = "No Radlex-Interface available";

struct ServiceLogScan {
    enum Result {
        ScanReady,       // a ready line with a port was found
        ScanNoInterface, // the service found no interface before it was ready
        ScanNotFound,    // end of the log without either line
    };
    Result result = ScanNotFound;
    std::string port; // the decimal digits of the ready line
};

// Reads the log line by line, each line whole however long, until the first ready line that
// carries digits or the first no-interface line. The port is the first run of digits at or after
// the start of the ready text; a ready line without digits is passed over.
ServiceLogScan ScanServiceLog(std::istream& log);
