#pragma once

// The control ids of lancfg_gui's dialogs ("Close" of the main dialog is IdOk).

#include "DialogTemplate.h"

// Ids of the program's controls; each becomes the widget's object name.
enum ControlId : int {
    IdDeviceList = 1000,
    IdRefreshList = 1001,
    IdChangeIpSettings = 1002,
    IdUpdateFirmware = 1003,
    IdIpAddress = 1004,
    IdNetmask = 1005,
    IdGateway = 1006,
    IdIpAddressLabel = 1009,
    IdNetmaskLabel = 1010,
    IdGatewayLabel = 1011,
    IdDhcp = 1012,
    IdStaticGroup = 1013,
    IdProgressBar = 1014,
    IdProgressText = 1015,
    IdFirmwareFiles = 1016,
    IdCrypt = 1017,
    IdKeyEdit = 1020,
    IdKeyDevice = 1021,
    IdKeyRejected = 1022,
};
