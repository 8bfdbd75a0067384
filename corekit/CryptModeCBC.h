#pragma once

#include "BlockCipher.h"
#include "CryptMode.h"

#include <memory>

// Cipher block chaining without padding. The mode object owns the cipher.
class CryptModeCBC : public CryptMode {
public:
    CryptModeCBC(BlockCipher* cipher, bool encrypt, const uint8_t iv[16]);

    bool ProcessData(const uint8_t* in, uint8_t* out, size_t length) override;

private:
    std::unique_ptr<BlockCipher> cipher_;
    std::unique_ptr<BlockCipher::Transformer> transformer_;
    bool encrypt_;
    uint8_t chain_[16] = {};
};
