#pragma once

#include "BlockCipher.h"

#include <string>

// AES with a 128-bit key. A key shorter than 16 bytes is padded with zeros, a longer one is cut.
class AesCipher : public BlockCipher {
public:
    AesCipher(const uint8_t* key, unsigned length);

    unsigned GetBlockSize() const override { return 16; }
    std::unique_ptr<Transformer> CreateEncryptor() const override;
    std::unique_ptr<Transformer> CreateDecryptor() const override;

private:
    uint8_t key_[16] = {};
};
