#include "ReportOutcome.h"

#include "ConsoleTexts.h"
#include "KeySource.h"

int ReportKeyError(const ChosenKey& key, const std::string& serial, std::ostream& out) {
    if (key.present)
        SayOn<kWrongKey>(out, key.Named().c_str(), serial.c_str());
    else
        SayOn<kNeedKey>(out, serial.c_str());
    return ExitKeyError;
}

int ReportOutcome(LanResult result, bool rebooting, const ChosenKey& key, const std::string& serial,
                  std::ostream& out, WriteFailure why) {
    switch (result) {
    case ResultOk:
        SayOn<kUpdated>(out, serial.c_str());
        if (rebooting)
            SayOn<kRebooting>(out, serial.c_str());
        return ExitOk;
    case ResultKeyError:
        return ReportKeyError(key, serial, out);
    default:
        if (why == WriteNotKept)
            SayOn<kNotKept>(out, serial.c_str());
        else
            SayOn<kUpdateFailed>(out, serial.c_str());
        return ExitFailed;
    }
}
