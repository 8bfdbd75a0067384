#pragma once

#include "ProppageConfig.h"

#include <string>

// Host and port of a radio service on another computer.
class ProppageConfigService : public ProppageConfig {
    Q_OBJECT
public:
    explicit ProppageConfigService(ConnectionSettings& settings);

    void OnSetActive() override;
    bool validatePage() override;
    int nextId() const override;
    // Next waits for a host name and a port from 1 to 65535; the page's hint says what is
    // missing.
    bool isComplete() const override;
    QWidget* FirstFocus() const override;

private:
    void UpdateHint();
    std::string InputProblem() const;
};
