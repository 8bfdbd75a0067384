#include "FindAndRead.h"

#include "ConsoleTexts.h"
#include "DeviceSearch.h"
#include "LanInterface.h"

bool FindAndRead(LanInterface& device, const std::string& serial, CommandContext& context) {
    if (!FindDevice(device, serial, context)) {
        Say<kNotFoundOnLan>(context, serial.c_str());
        PrintNotFound(context, serial);
        return false;
    }
    if (!device.ReadStatus() || !device.ReadConfig()) {
        Say<kReadFailed>(context, serial.c_str());
        return false;
    }
    return true;
}
