#include "AesCipher.h"

#include <openssl/evp.h>

#include <cstring>

namespace {

// One AES-128 block in ECB mode without padding; the chaining is the mode object's business.
class AesTransformer : public BlockCipher::Transformer {
public:
    AesTransformer(const uint8_t* key, bool encrypt) : ctx_(EVP_CIPHER_CTX_new()) {
        if (ctx_ &&
            EVP_CipherInit_ex(ctx_, EVP_aes_128_ecb(), nullptr, key, nullptr, encrypt ? 1 : 0) == 1)
            EVP_CIPHER_CTX_set_padding(ctx_, 0);
    }
    ~AesTransformer() override { EVP_CIPHER_CTX_free(ctx_); }
    AesTransformer(const AesTransformer&) = delete;
    AesTransformer& operator=(const AesTransformer&) = delete;

    void ProcessBlock(const uint8_t* in, uint8_t* out) override {
        uint8_t result[16] = {};
        int len = 0;
        if (!ctx_ || EVP_CipherUpdate(ctx_, result, &len, in, 16) != 1 || len != 16)
            std::memset(result, 0, sizeof result);
        std::memcpy(out, result, 16);
    }

private:
    EVP_CIPHER_CTX* ctx_;
};

} // namespace

AesCipher::AesCipher(const uint8_t* key, unsigned length) {
    if (key)
        std::memcpy(key_, key, length < 16 ? length : 16);
}

std::unique_ptr<BlockCipher::Transformer> AesCipher::CreateEncryptor() const {
    return std::make_unique<AesTransformer>(key_, true);
}

std::unique_ptr<BlockCipher::Transformer> AesCipher::CreateDecryptor() const {
    return std::make_unique<AesTransformer>(key_, false);
}
