#include "ReadDevices.h"

#include "LanSearch.h"

void ReadDevices(std::vector<LanInterface>& devices) {
    ReadAll(devices, true);
}
