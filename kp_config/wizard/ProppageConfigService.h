#pragma once

#include "ProppageConfig.h"

#include <cstdint>
#include <string>

// Host and port of a radio service on another computer.
class ProppageConfigService : public ProppageConfig {
    Q_OBJECT
public:
    explicit ProppageConfigService(ConnectionSettings& settings);

    void OnSetActive() override;
    bool validatePage() override;
    int nextId() const override;
};

// A port text read as an integer with automatic base: decimal, hexadecimal after "0x", octal
// after a leading zero; reading stops at the first character that does not fit, and a text
// that does not begin with a number gives 0. Values beyond 32 bits are held at the limit.
int32_t ParsePortText(const std::string& text);
