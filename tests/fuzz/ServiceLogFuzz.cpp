// The scan of the radio service's log: any log is scanned without fault, and a port it reports
// is a run of decimal digits.
#include "FuzzTarget.h"
#include "ServiceLogScan.h"

#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream log(std::string(reinterpret_cast<const char*>(data), size));
    ServiceLogScan scan = ScanServiceLog(log);
    if (scan.result == ServiceLogScan::ScanReady)
        Check(!scan.port.empty() && scan.port.find_first_not_of("0123456789") == std::string::npos,
              "the port is digits");
    return 0;
}
