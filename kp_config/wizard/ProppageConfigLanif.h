#pragma once

#include "ProppageConfig.h"

#include <string>

// The LAN interface's serial number, access code and, rarely needed, its IP address. "Suchen"
// lists the LAN interfaces that answer on the local networks, with their version, state and
// address, to pick the serial number from; the list takes the room when the wizard is made
// larger. The access code is masked each time the page is shown, and its button shows it.
class ProppageConfigLanif : public ProppageConfig {
    Q_OBJECT
public:
    explicit ProppageConfigLanif(ConnectionSettings& settings);

    bool specifyIp = false;

    void OnSetActive() override;
    bool validatePage() override;
    int nextId() const override;
    // Next waits until the serial number, the access code and, while it is to be given, the
    // address can be used; the page's hint says what is missing.
    bool isComplete() const override;
    QWidget* FirstFocus() const override;

private:
    void OnSpecifyIpClicked();
    void OnSearchClicked();
    void OnFoundSelected();
    void ShowKey(bool shown);
    void UpdateIpControls();
    void UpdateHint();
    std::string InputProblem() const;
};
