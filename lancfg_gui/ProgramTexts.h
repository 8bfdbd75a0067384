#pragma once

// The program's name and its texts that are not part of a dialog template.

#include "LanInterface.h"

inline constexpr const char* kProgramName = "lancfg_gui";
inline constexpr const char* kUsage =
    "Usage: lancfg_gui [--help | --version]\n"
    "Lists the Velantrix LAN interfaces on the local networks in a dialog window, changes the\n"
    "selected device's IP settings and updates its firmware. It needs a graphical display.\n"
    "  --help     show this text and exit\n"
    "  --version  show the program's version and exit\n";
inline constexpr const char* kMenuAbout = "&Info über lancfg...";
inline constexpr const char* kMsgNetworkConfigFailed =
    "Error sending new network configuration to device";
// %1: the device's serial number.
inline constexpr const char* kMsgNetworkConfigDone = "%1 was updated successfully.";
inline constexpr const char* kMsgNetworkConfigRestarting =
    "%1 was updated successfully and is rebooting for the changes to become active.";
// %1: the device's serial number. The write was taken, but reading it back gave other values.
inline constexpr const char* kMsgNetworkConfigNotKept = "%1 did not keep the new configuration";
// %1: the device's serial number. Its settings are not offered when they could not be read.
inline constexpr const char* kMsgReadConfigFailed =
    "Error reading configuration from Lan Interface %1.";
// %1: the networks (a few by name, the rest counted), %2: the system's reason.
inline constexpr const char* kMsgSearchNotSent =
    "The search could not be sent on %1 (%2); devices there are not listed.";
inline constexpr const char* kMoreNetworks = "%1 and %2 more networks";
inline constexpr const char* kMsgFirmwareUpdateFailed = "Firmware update failed!";
// %1: the folder beside the program, %2: the user's firmware folder.
inline constexpr const char* kMsgNoFirmwareFile =
    "No firmware file found.\n\nPlease put the firmware files (kplan*.enc) into the folder "
    "beside the program:\n%1\n\nor into your own firmware folder:\n%2";
inline constexpr const char* kMsgFirmwareUpdateDone = "Firmware update completed successfully.";
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
