// The protocol pieces that need no socket: framing, addressing, identification, address texts,
// key texts, the envelope and the firmware file check.
#include "LanProtocol.h"
#include "LanInterface.h"

#include "AesCipher.h"
#include "CryptModeCBC.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace lanproto;

namespace {

std::string Reply(const std::string& type, const std::string& serial, const std::string& marker,
                  const std::string& payload) {
    return PadField(type, 8) + PadField(serial, 10) + marker + payload;
}

TEST(Framing, DiscoverRequestIsPatternNulTenStarsAndI) {
    std::string expected = std::string("vK7Lan*") + '\0' + std::string(10, '*') + "I";
    EXPECT_EQ(BuildDiscoverRequest("vK7Lan*"), expected);
    EXPECT_EQ(BuildDiscoverRequest("vK7Lan*").size(), 19u);
}

TEST(Framing, FindRequestPadsOrCutsTheSerialToTenBytes) {
    EXPECT_EQ(BuildFindRequest("ABCDEFGH"),
              std::string(8, '*') + "ABCDEFGH" + std::string(2, '\0') + "I");
    EXPECT_EQ(BuildFindRequest("ABCDEFGHIJKL"), std::string(8, '*') + "ABCDEFGHIJ" + "I");
}

TEST(Framing, DeviceRequestCarriesStarAndSevenNulsThenSerialCommandPayload) {
    std::string serial("KPL01\0\0\0\0\0", 10);
    std::string payload("\x01\x00\x02", 3);
    EXPECT_EQ(BuildDeviceRequest(serial, 'C', payload),
              std::string("*") + std::string(7, '\0') + serial + "C" + payload);
    EXPECT_EQ(BuildRequest("verylongtype", "", 'N').substr(0, 8), "verylong");
}

TEST(Identification, AcceptsTwentySixBytesWithMarkerAndFillsTheRecord) {
    LanInterface device;
    std::string payload("\0\0\0\0\x04\xD2", 6); // 1234
    ASSERT_TRUE(device.ParseIdentification(Reply("vK7LanIf", "KPL01", ">I", payload)));
    EXPECT_EQ(device.serialNumber, PadField("KPL01", 10));
    EXPECT_EQ(device.SerialText(), "KPL01");
    EXPECT_EQ(device.deviceType, "vK7LanIf");
    EXPECT_EQ(device.version, "1.234");
    EXPECT_EQ(device.state, StateRun);
}

TEST(Identification, BootloaderTypeGivesMaintenance) {
    LanInterface device;
    device.stateTime = 0;
    std::string payload("\0\0\0\0\0\x0A\0\0", 8);
    ASSERT_TRUE(device.ParseIdentification(Reply("vK7LanBl", "KPL01", ">I", payload)));
    EXPECT_EQ(device.state, StateMaintenance);
    EXPECT_EQ(device.version, "0.010");
    EXPECT_GT(device.stateTime, 0);
}

TEST(Identification, RejectsShortRepliesWrongMarkersAndLeavesTheRecord) {
    LanInterface device;
    const auto before = device.stateTime;
    // 20 bytes, and 21 to 25 bytes: too short for the version bytes.
    for (size_t payloadLength = 0; payloadLength <= 5; ++payloadLength)
        EXPECT_FALSE(device.ParseIdentification(
            Reply("vK7LanIf", "KPL01", ">I", std::string(payloadLength, '\x07'))))
            << payloadLength;
    EXPECT_FALSE(device.ParseIdentification(Reply("vK7LanIf", "KPL01", ">N", std::string(6, 0))));
    EXPECT_TRUE(device.serialNumber.empty());
    EXPECT_EQ(device.state, StateUnknown);
    EXPECT_EQ(device.stateTime, before);
}

TEST(Identification, VersionExtremes) {
    LanInterface device;
    ASSERT_TRUE(device.ParseIdentification(Reply("t", "s", ">I", std::string(6, '\0'))));
    EXPECT_EQ(device.version, "0.000");
    ASSERT_TRUE(
        device.ParseIdentification(Reply("t", "s", ">I", std::string("\0\0\0\0\xFF\xFF", 6))));
    EXPECT_EQ(device.version, "65.535");
}

TEST(AddressTexts, FormatNeedsExactlyFourBytes) {
    EXPECT_EQ(FormatIpAddress(std::string("\xC0\xA8\x01\xFF", 4)), "192.168.1.255");
    EXPECT_EQ(FormatIpAddress(std::string(4, '\0')), "0.0.0.0");
    EXPECT_EQ(FormatIpAddress("abc"), "");
    EXPECT_EQ(FormatIpAddress("abcde"), "");
}

TEST(AddressTexts, ParseReadsLikeScanfAndAlwaysGivesFourBytes) {
    EXPECT_EQ(ParseIpAddress("10.1.2.3"), std::string("\x0A\x01\x02\x03", 4));
    EXPECT_EQ(ParseIpAddress("192.168.1"), std::string("\xC0\xA8\x01\x00", 4));
    EXPECT_EQ(ParseIpAddress("300.1.1.1"), std::string("\x2C\x01\x01\x01", 4));
    EXPECT_EQ(ParseIpAddress("no digits"), std::string(4, '\0'));
    EXPECT_EQ(ParseIpAddress(""), std::string(4, '\0'));
}

TEST(KeyTexts, TwoDigitsPerByteAnyCaseOddEndAndNonDigits) {
    EXPECT_EQ(ParseKeyText("000102030405060708090a0B0c0D0e0F"),
              std::string("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F", 16));
    std::string odd = ParseKeyText(std::string(30, 'f') + "7"); // 31 digits
    ASSERT_EQ(odd.size(), 16u);
    EXPECT_EQ(odd[15], '\x07');
    EXPECT_EQ(ParseKeyText(std::string(30, 'a')).size(), 15u);
    EXPECT_EQ(ParseKeyText("zz1z"), std::string("\x00\x01", 2)); // no digit gives 0
    EXPECT_EQ(ParseKeyText(std::string(34, '1')).size(), 17u);
}

TEST(Envelope, LengthsAndLayout) {
    EXPECT_EQ(EnvelopeLength(0), 32u);
    EXPECT_EQ(EnvelopeLength(15), 32u);
    EXPECT_EQ(EnvelopeLength(16), 48u);
    EXPECT_EQ(EnvelopeLength(22), 48u);
    std::string plain = BuildEnvelopePlaintext('C', std::string(22, '\x11'));
    ASSERT_EQ(plain.size(), 48u);
    EXPECT_EQ(plain.substr(0, 16), std::string("Velantrix-Crypt") + '\0');
    EXPECT_EQ(plain[16], 'C');
    EXPECT_EQ(plain.substr(17, 22), std::string(22, '\x11'));
    EXPECT_EQ(plain.substr(39), std::string(9, '\0'));
}

TEST(Envelope, EncryptsWithAes128CbcKeyedByTheFirstSixteenBytes) {
    // NIST SP 800-38A F.2.1: the first block of CBC-AES128 with this key and IV.
    std::string key = ParseKeyText("2b7e151628aed2a6abf7158809cf4f3c"
                                   "ffff"); // 18 bytes: cut
    std::string iv = ParseKeyText("000102030405060708090a0b0c0d0e0f");
    std::string plain = ParseKeyText("6bc1bee22e409f96e93d7e117393172a");
    EXPECT_EQ(EncryptEnvelope(plain, key, iv), ParseKeyText("7649abac8119b246cee98e9b12e9197d"));
    EXPECT_EQ(EncryptEnvelope(plain, key.substr(0, 15), iv), "");

    // And the whole envelope decrypts back to its plaintext.
    std::string envelope = BuildEnvelopePlaintext('B', "");
    std::string cipher = EncryptEnvelope(envelope, key, iv);
    ASSERT_EQ(cipher.size(), 32u);
    CryptModeCBC decrypt(new AesCipher(reinterpret_cast<const uint8_t*>(key.data()), 16), false,
                         reinterpret_cast<const uint8_t*>(iv.data()));
    auto* bytes = reinterpret_cast<uint8_t*>(cipher.data());
    ASSERT_TRUE(decrypt.ProcessData(bytes, bytes, cipher.size()));
    EXPECT_EQ(cipher, envelope);
}

TEST(Envelope, ChallengeNeedsThirtySevenBytesAndCodeThree) {
    std::string header = Reply("vK7LanIf", "KPL01", ">C", "");
    EXPECT_TRUE(IsChallenge(header + "\x03" + std::string(16, 'v')));
    EXPECT_FALSE(IsChallenge(header + "\x03" + std::string(15, 'v'))); // 36 bytes
    EXPECT_FALSE(IsChallenge(header + "\x01" + std::string(16, 'v')));
}

TEST(Acceptance, EveryBitFlippedInTheAddressedFieldsIsRefused) {
    const std::string find = BuildFindRequest("KPL0000001");
    const std::string device = BuildDeviceRequest("KPL0000001", 'N', "");
    const std::string search = BuildDiscoverRequest(SearchPattern);
    const std::string ident = Reply("vK7LanIf", "KPL0000001", ">I", std::string(8, '\x01'));
    ASSERT_TRUE(AcceptsReply(find, ident));
    ASSERT_TRUE(AcceptsReply(search, ident));
    ASSERT_TRUE(AcceptsReply(device, Reply("vK7LanIf", "KPL0000001", ">N", "x")));
    // Serial field and identification marker for the find; the pattern's "vK7Lan" for the
    // search for all; any serial for the search; any type for the find and device requests.
    for (size_t bit = 0; bit < 20 * 8; ++bit) {
        std::string tampered = ident;
        tampered[bit / 8] = static_cast<char>(tampered[bit / 8] ^ (1 << (bit % 8)));
        const size_t byte = bit / 8;
        EXPECT_EQ(AcceptsReply(find, tampered), byte < 8) << "bit " << bit;
        EXPECT_EQ(AcceptsReply(search, tampered), (byte >= 6 && byte < 18)) << "bit " << bit;
        EXPECT_EQ(AcceptsReply(device, tampered), byte < 8 || byte >= 18) << "bit " << bit;
    }
    EXPECT_FALSE(AcceptsReply(find, ident.substr(0, 19)));
    EXPECT_FALSE(AcceptsReply(device, ident.substr(0, 17)));
}

TEST(Payloads, DecodeWhatEncodeWroteAndRefuseWhatIsCutShort) {
    StoredConfig config;
    config.addresses = {"10.1.2.3", "10.1.2.1", "255.255.0.0", "0.0.0.4", "1.2.3.255"};
    config.dhcp = true;
    const std::string payload = EncodeConfig(config);
    ASSERT_EQ(payload.size(), 22u);
    StoredConfig back;
    ASSERT_TRUE(DecodeConfig(payload, &back));
    EXPECT_EQ(back, config);
    AddressSet status;
    ASSERT_TRUE(DecodeAddresses(payload, &status));
    EXPECT_EQ(status, config.addresses);
    for (size_t cut = 0; cut < 21; ++cut) {
        StoredConfig untouched;
        EXPECT_FALSE(DecodeConfig(payload.substr(0, cut), &untouched)) << cut;
        EXPECT_EQ(untouched, StoredConfig()) << cut;
        EXPECT_EQ(DecodeAddresses(payload.substr(0, cut), &status), cut >= 20) << cut;
    }
    Identity identity;
    const std::string ident = Reply("vK7LanBl", "KPL01", ">I", std::string("\0\0\0\0\x04\xD2", 6));
    ASSERT_TRUE(DecodeIdentification(ident, &identity));
    EXPECT_EQ(identity.version, 1234u);
    EXPECT_EQ(identity.serial, PadField("KPL01", 10));
    EXPECT_FALSE(DecodeIdentification(ident.substr(0, 25), &identity));
    std::string iv;
    EXPECT_TRUE(DecodeChallenge(Reply("t", "s", ">N", "\x03" + std::string(16, 'v')), &iv));
    EXPECT_EQ(iv, std::string(16, 'v'));
}

TEST(Versions, ReadAsDecimalThousandths) {
    EXPECT_EQ(VersionThousandths("0.009"), 9u);
    EXPECT_EQ(VersionThousandths("0.010"), 10u);
    EXPECT_EQ(VersionThousandths("1.2"), 1200u);
    EXPECT_EQ(VersionThousandths(""), 0u);
    EXPECT_EQ(FormatVersion(10), "0.010");
}

TEST(FirmwareCheck, AcceptsCompleteRecordsAndTrailingWhiteSpace) {
    std::string digits;
    EXPECT_TRUE(CheckFirmwareText("0000", &digits));
    EXPECT_EQ(digits, "0000");
    EXPECT_TRUE(CheckFirmwareText("0002abCD0001ff\r\n \t", &digits));
    EXPECT_EQ(digits, "0002abCD0001ff");
    EXPECT_TRUE(CheckFirmwareText("0400" + std::string(2048, 'a'), &digits));
}

TEST(FirmwareCheck, RefusesFilesKnownBadBeforeAnythingIsSent) {
    EXPECT_FALSE(CheckFirmwareText("", nullptr));                              // empty
    EXPECT_FALSE(CheckFirmwareText(" \n", nullptr));                           // only white space
    EXPECT_FALSE(CheckFirmwareText("0001ag", nullptr));                        // not a digit
    EXPECT_FALSE(CheckFirmwareText("0001 ff", nullptr));                       // space inside
    EXPECT_FALSE(CheckFirmwareText("0002ff", nullptr));                        // truncated record
    EXPECT_FALSE(CheckFirmwareText("00", nullptr));                            // truncated length
    EXPECT_FALSE(CheckFirmwareText("0401" + std::string(2050, 'a'), nullptr)); // 1025 bytes
}

TEST(FirmwareBlock, EndOfFileInsideTheLengthOrRecordSendsNothing) {
    // No socket is touched: each case ends before the exchange.
    LanInterface device;
    device.version = "0.010";
    std::istringstream empty("");
    EXPECT_TRUE(device.SendFirmwareBlock(empty));
    std::istringstream shortLength("00");
    EXPECT_TRUE(device.SendFirmwareBlock(shortLength));
    std::istringstream shortRecord("0003aabb");
    EXPECT_TRUE(device.SendFirmwareBlock(shortRecord));
    std::istringstream tooLong("0401");
    EXPECT_FALSE(device.SendFirmwareBlock(tooLong));
    EXPECT_EQ(device.blockCounter, 0);
    EXPECT_EQ(device.state, StateUnknown);
}

TEST(Record, NewRecordDefaults) {
    LanInterface device;
    EXPECT_FALSE(device.dhcp);
    EXPECT_FALSE(device.crypt);
    EXPECT_TRUE(device.staticIp.empty());
    EXPECT_TRUE(device.cryptKey.empty());
    EXPECT_EQ(device.state, StateUnknown);
    EXPECT_EQ(device.blockCounter, 0);
    EXPECT_GT(device.stateTime, 1700000000);
    device.SetCryptKey(std::string(30, '0'));
    EXPECT_EQ(device.cryptKey.size(), 15u);
}

} // namespace
