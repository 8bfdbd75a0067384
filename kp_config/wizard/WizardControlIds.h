#pragma once

// The control ids of the connection wizard's pages; each becomes the widget's object name.

#include "DialogTemplate.h"

enum WizardControlId : int {
    IdRadioUsb = 1004,
    IdRadioLan = 1005,
    IdRadioService = 1006,
    IdLanSerial = 1006,
    IdLanKey = 1007,
    IdSpecifyIp = 1008,
    IdLanHost = 1009,
    IdLanHostLabel = 1010,
    IdServiceHost = 1012,
    IdServicePort = 1013,
    IdResultText = 1014,
    // Added to the pages: what an input page still lacks, and the LAN interface search.
    IdLanHint = 1015,
    IdLanSearch = 1016,
    IdLanFound = 1017,
    IdLanFoundLabel = 1018,
    IdServiceHint = 1019,
    // The device the last page's check was about, and the button that shows the access code.
    IdFinishDevice = 1020,
    IdLanShowKey = 1021,
};
