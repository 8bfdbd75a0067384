#pragma once

#include "LanInterface.h"

#include <vector>

// Reads the addresses in effect and the stored configuration of every running device in the list
// (state StateRun), all devices at the same time, each in its own exchanges on its own record.
// The list takes as long as its slowest device, not as long as all of them together: a search
// answered for devices that then stay silent costs one reply window, not two per device. A device
// that did not answer the status read is not asked for its configuration. Results are in the
// records (a failed read leaves their fields as they were).
void ReadDevices(std::vector<LanInterface>& devices);
