#pragma once

// The program's name and its texts that are not part of a dialog template.

#include "LanInterface.h"

inline constexpr const char* kProgramName = "lancfg_gui";
inline constexpr const char* kMenuAbout = "&Info über lancfg...";
inline constexpr const char* kMsgNetworkConfigFailed =
    "Error sending new network configuration to device";
inline constexpr const char* kMsgFirmwareUpdateFailed = "Firmware update failed!";
// The progress text's note when the user asks for something while an exchange runs.
inline constexpr const char* kMsgBusyRefused =
    "Please wait until the running operation has finished.";

// The word of the list's Status column for a device state. "Fehler" is German on purpose.
inline const char* StatusWord(int32_t state) {
    switch (state) {
    case StateDisconnected:
        return "Offline";
    case StateRun:
        return "Online";
    case StateMaintenance:
        return "Maintenance";
    case StateBooting:
        return "Booting";
    default:
        return "Fehler";
    }
}
