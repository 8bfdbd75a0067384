#include "CryptModeCBC.h"

#include <cstring>

CryptModeCBC::CryptModeCBC(BlockCipher* cipher, bool encrypt, const uint8_t iv[16])
    : cipher_(cipher), encrypt_(encrypt) {
    if (cipher_)
        transformer_ = encrypt ? cipher_->CreateEncryptor() : cipher_->CreateDecryptor();
    if (iv)
        std::memcpy(chain_, iv, sizeof chain_);
}

bool CryptModeCBC::ProcessData(const uint8_t* in, uint8_t* out, size_t length) {
    if (!transformer_ || cipher_->GetBlockSize() != 16 || length % 16 != 0)
        return false;
    uint8_t block[16];
    for (size_t offset = 0; offset < length; offset += 16) {
        // Copy the input first: in and out may share the buffer.
        std::memcpy(block, in + offset, 16);
        if (encrypt_) {
            for (int i = 0; i < 16; ++i)
                block[i] ^= chain_[i];
            transformer_->ProcessBlock(block, out + offset);
            std::memcpy(chain_, out + offset, 16);
        } else {
            uint8_t plain[16];
            transformer_->ProcessBlock(block, plain);
            for (int i = 0; i < 16; ++i)
                out[offset + i] = plain[i] ^ chain_[i];
            std::memcpy(chain_, block, 16);
        }
    }
    return true;
}
