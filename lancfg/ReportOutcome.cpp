#include "ReportOutcome.h"

#include "ConsoleTexts.h"
#include "KeySource.h"

int ReportOutcome(LanResult result, bool rebooting, const ChosenKey& key, const std::string& serial,
                  std::ostream& out) {
    switch (result) {
    case ResultOk:
        SayOn<kUpdated>(out, serial.c_str());
        if (rebooting)
            SayOn<kRebooting>(out, serial.c_str());
        return ExitOk;
    case ResultKeyError:
        if (key.present)
            SayOn<kWrongKey>(out, key.Named().c_str(), serial.c_str());
        else
            SayOn<kNeedKey>(out, serial.c_str());
        return ExitKeyError;
    default:
        SayOn<kUpdateFailed>(out, serial.c_str());
        return ExitFailed;
    }
}
