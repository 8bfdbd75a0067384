#pragma once

#include "ProppageConfig.h"

#include <string>

class CServiceController;

// Last page: checks the choice against the hardware or the remote service every time it is
// shown, names the device or service it checked, says the outcome, and offers Finish only where
// the outcome allows it.
class ProppageConfigFinish : public ProppageConfig {
    Q_OBJECT
public:
    ProppageConfigFinish(ConnectionSettings& settings, CServiceController& controller);

    std::string resultText; // lines joined by CR LF
    int lastResult = -1;    // the VerifyResult of the last check

    void OnSetActive() override;
    bool isComplete() const override;
    int nextId() const override;

private:
    CServiceController& controller_;
    bool finishAllowed_ = false;
};
