#include "AesCipher.h"
#include "CryptModeCBC.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string FromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

uint8_t* Bytes(std::string& s) {
    return reinterpret_cast<uint8_t*>(s.data());
}

// NIST SP 800-38A, appendix F.2.1 (CBC-AES128.Encrypt) and F.2.2 (Decrypt).
const std::string kKey = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
const std::string kIv = FromHex("000102030405060708090a0b0c0d0e0f");
const std::string kPlain = FromHex("6bc1bee22e409f96e93d7e117393172a"
                                   "ae2d8a571e03ac9c9eb76fac45af8e51"
                                   "30c81c46a35ce411e5fbc1191a0a52ef"
                                   "f69f2445df4f9b17ad2b417be66c3710");
const std::string kCipher = FromHex("7649abac8119b246cee98e9b12e9197d"
                                    "5086cb9b507219ee95db113a917678b2"
                                    "73bed6b8e3c1743b7116e69e22229516"
                                    "3ff1caa1681fac09120eca307586e1a7");

CryptModeCBC MakeMode(bool encrypt) {
    return CryptModeCBC(new AesCipher(reinterpret_cast<const uint8_t*>(kKey.data()), 16), encrypt,
                        reinterpret_cast<const uint8_t*>(kIv.data()));
}

TEST(CryptModeCBC, EncryptsTheNistVectorIntoASeparateBuffer) {
    std::string in = kPlain;
    std::string out(in.size(), '\0');
    auto mode = MakeMode(true);
    ASSERT_TRUE(mode.ProcessData(Bytes(in), Bytes(out), in.size()));
    EXPECT_EQ(out, kCipher);
    EXPECT_EQ(in, kPlain);
}

TEST(CryptModeCBC, EncryptsInPlaceAndChainsAcrossCalls) {
    std::string buf = kPlain;
    auto mode = MakeMode(true);
    // Two calls over halves must give the same as one call over the whole.
    ASSERT_TRUE(mode.ProcessData(Bytes(buf), Bytes(buf), 32));
    ASSERT_TRUE(mode.ProcessData(Bytes(buf) + 32, Bytes(buf) + 32, 32));
    EXPECT_EQ(buf, kCipher);
}

TEST(CryptModeCBC, DecryptsTheNistVectorInPlace) {
    std::string buf = kCipher;
    auto mode = MakeMode(false);
    ASSERT_TRUE(mode.ProcessData(Bytes(buf), Bytes(buf), buf.size()));
    EXPECT_EQ(buf, kPlain);
}

TEST(CryptModeCBC, RefusesLengthsThatAreNoMultipleOfTheBlock) {
    std::string buf(17, 'x');
    auto mode = MakeMode(true);
    EXPECT_FALSE(mode.ProcessData(Bytes(buf), Bytes(buf), buf.size()));
    EXPECT_EQ(buf, std::string(17, 'x'));
}

TEST(AesCipher, ReportsItsBlockSize) {
    AesCipher cipher(reinterpret_cast<const uint8_t*>(kKey.data()), 16);
    EXPECT_EQ(cipher.GetBlockSize(), 16u);
}

} // namespace
