#include "FindAndRead.h"

#include "ConsoleTexts.h"
#include "DeviceSearch.h"
#include "LanInterface.h"
#include "ReportOutcome.h"

int FindAndRead(LanInterface& device, const std::string& serial, const ChosenKey& key,
                CommandContext& context) {
    std::vector<LanInterface> namesakes;
    switch (FindDevice(device, serial, context, &namesakes)) {
    case FindOutcome::NotFound:
        Say<kNotFoundOnLan>(context, serial.c_str());
        PrintNotFound(context, serial);
        return ExitFailed;
    case FindOutcome::Namesakes:
        Say<kNamesakes>(context, serial.c_str(), NamesakePlaces(namesakes).c_str());
        return ExitFailed;
    case FindOutcome::Found:
        break;
    }
    switch (device.Read()) {
    case ResultOk:
        return ExitOk;
    case ResultKeyError:
        return ReportKeyError(key, serial, context.Messages());
    default:
        Say<kReadFailed>(context, serial.c_str());
        return ExitFailed;
    }
}
