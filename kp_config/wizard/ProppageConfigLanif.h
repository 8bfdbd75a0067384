#pragma once

#include "ProppageConfig.h"

// The LAN interface's serial number, access code and, rarely needed, its IP address.
class ProppageConfigLanif : public ProppageConfig {
    Q_OBJECT
public:
    explicit ProppageConfigLanif(ConnectionSettings& settings);

    bool specifyIp = false;

    void OnSetActive() override;
    bool validatePage() override;
    int nextId() const override;
    // Next waits, while the address is to be given, for a whole address in its field.
    bool isComplete() const override;

private:
    void OnSpecifyIpClicked();
    void UpdateIpControls();
};
