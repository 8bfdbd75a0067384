#include "ServiceLogScan.h"

ServiceLogScan ScanServiceLog(std::istream& log) {
    ServiceLogScan scan;
    std::string line;
    while (std::getline(log, line)) {
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
