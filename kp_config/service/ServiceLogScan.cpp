#include "ServiceLogScan.h"

#include <limits>
#include <vector>

namespace {

// Reads the next line into line, at most MaxServiceLogLine characters of it; the rest of a longer
// line is passed over without being kept. False at the end of the log or on a read error.
bool ReadBoundedLine(std::istream& log, std::vector<char>& buffer, std::string& line) {
    log.getline(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::streamsize got = log.gcount();
    if (log.bad())
        return false;
    if (log.fail()) {
        if (got == 0)
            return false; // the end of the log (or an empty stream)
        // The buffer filled before the line ended: keep its part, skip to the line's end.
        line.assign(buffer.data(), static_cast<size_t>(got));
        log.clear();
        log.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        return !log.bad();
    }
    // got counts the line end when one was read; the last line may have none.
    const bool lineEnd = !log.eof();
    line.assign(buffer.data(), static_cast<size_t>(got) - (lineEnd ? 1 : 0));
    return true;
}

} // namespace

ServiceLogScan ScanServiceLog(std::istream& log) {
    ServiceLogScan scan;
    std::vector<char> buffer(MaxServiceLogLine + 1); // the characters and the terminating NUL
    std::string line;
    while (ReadBoundedLine(log, buffer, line)) {
        size_t ready = line.find(ServiceReadyText);
        if (ready != std::string::npos) {
            size_t digit = line.find_first_of("0123456789", ready);
            if (digit != std::string::npos) {
                size_t end = line.find_first_not_of("0123456789", digit);
                scan.result = ServiceLogScan::ScanReady;
                scan.port = line.substr(digit, end == std::string::npos ? end : end - digit);
                return scan;
            }
        }
        if (line.find(ServiceNoInterfaceText) != std::string::npos) {
            scan.result = ServiceLogScan::ScanNoInterface;
            return scan;
        }
    }
    return scan;
}
