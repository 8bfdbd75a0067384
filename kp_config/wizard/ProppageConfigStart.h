#pragma once

#include "ProppageConfig.h"

// First page: how the radio devices are reached (USB interface, LAN interface, remote service).
class ProppageConfigStart : public ProppageConfig {
    Q_OBJECT
public:
    explicit ProppageConfigStart(ConnectionSettings& settings);

    // Index of the checked radio button (0 USB, 1 LAN, 2 remote service), -1 when none is.
    int choice = 0;

    void OnSetActive() override;
    bool validatePage() override;
    int nextId() const override;
    bool isComplete() const override;
    QWidget* FirstFocus() const override;

private:
    int CheckedChoice() const;
};
