#pragma once

// Devices of a site that update their firmware at the same time, shared by the tests and the
// benchmark: each runs its application, enters its bootloader on B, counts its own blocks and,
// after the last block of a file of the given number of records, restarts into its application
// with a new version.

#include "LanIfSimulator.h"

#include <cstdio>
#include <string>

namespace lanifsim {

inline constexpr uint16_t kFleetVersionBefore = 1234;
inline constexpr uint16_t kFleetVersionAfter = 1240; // "1.240" once updated

// "KPL0000001" for n = 1.
inline std::string FleetSerial(int n) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "KPL%07d", n);
    return serial;
}

// Device n, updated by a file of records records.
inline SimDevice FleetDevice(int n, int records) {
    SimDevice d;
    d.serial = FleetSerial(n);
    d.version = kFleetVersionBefore;
    d.bootloaderVersion = 10;
    d.bootloaderCode = 2;
    d.restartSilenceMs = 300;
    d.restartAfterBlock = records - 1;
    d.versionAfterUpdate = kFleetVersionAfter;
    return d;
}

// The same device, found already in its bootloader.
inline SimDevice FleetDeviceInBootloader(int n, int records) {
    SimDevice d = FleetDevice(n, records);
    d.inBootloader = true;
    return d;
}

// A device that refuses the block with this index (0-based).
inline SimDevice FleetDeviceRefusingBlock(int n, int records, int refused) {
    SimDevice d = FleetDevice(n, records);
    d.refuseBlock = refused;
    return d;
}

// A device that takes every block and never answers again after its restart.
inline SimDevice FleetDeviceNeverBack(int n, int records) {
    SimDevice d = FleetDevice(n, records);
    d.silentAfterUpdate = true;
    return d;
}

} // namespace lanifsim
