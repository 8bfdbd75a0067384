// The rules of one exchange with a device, fed with replies by hand: no socket, no simulator.
#include "LanProtocol.h"
#include "Transaction.h"

#include <gtest/gtest.h>

#include <ctime>

using namespace lanproto;

namespace {

const std::string kSerial = PadField("KPL0000001", 10);

MulticastSender::Reply Answer(char command, const std::string& payload) {
    return {PadField("vK7LanIf", 8) + kSerial + '>' + command + payload, 0, "", ""};
}

// A challenge with bytes after its IV, as long as the answer to N.
MulticastSender::Reply LongChallenge(char fill) {
    return Answer('N', "\x03" + std::string(16, fill) + std::string(3, '\0'));
}

TEST(Transaction, AnAnswerLikeAChallengeIsAskedForAgainAndAChallengeGetsTheEnvelope) {
    LanInterface device;
    device.serialNumber = kSerial;
    // The status of a device at 3.1.2.3 has a 3 where a challenge has its code: asked twice, the
    // same bytes come back, so it is the answer.
    const MulticastSender::Reply status = Answer('N', "\x03\x01\x02\x03" + std::string(16, '\x01'));
    Transaction plain(device, CmdReadStatus, "");
    const std::string request = plain.Request();
    plain.Take(&status);
    ASSERT_FALSE(plain.Over());
    EXPECT_EQ(plain.Request(), request);
    plain.Take(&status);
    ASSERT_TRUE(plain.Over());
    EXPECT_FALSE(plain.Challenge());
    EXPECT_EQ(plain.Payload().size(), 20u);

    // A challenge brings a fresh IV each time: with the key, the envelope goes out with the
    // second one; a refusal like the challenge answered gives the caller that challenge.
    device.SetCryptKey("000102030405060708090A0B0C0D0E0F");
    Transaction locked(device, CmdReadStatus, "");
    const MulticastSender::Reply first = LongChallenge('a'), second = LongChallenge('b');
    locked.Take(&first);
    locked.Take(&second);
    ASSERT_FALSE(locked.Over());
    EXPECT_EQ(locked.Request()[18], CmdEnvelope);
    EXPECT_EQ(locked.Request(),
              BuildDeviceRequest(kSerial, CmdEnvelope,
                                 EncryptEnvelope(BuildEnvelopePlaintext(CmdReadStatus, ""),
                                                 device.cryptKey, std::string(16, 'b'))));
    const MulticastSender::Reply refused = LongChallenge('c');
    locked.Take(&refused);
    ASSERT_TRUE(locked.Over());
    EXPECT_TRUE(locked.Challenge());
    EXPECT_EQ(locked.Payload(), second.bytes.substr(20));
}

TEST(Transaction, SilenceDisconnectsUnlessTheDeviceIsRestarting) {
    LanInterface device;
    device.serialNumber = kSerial;
    device.state = StateBooting;
    device.stateTime = std::time(nullptr) - 10;
    Transaction waiting(device, CmdIdentify, "");
    waiting.Take(nullptr);
    EXPECT_TRUE(waiting.Over());
    EXPECT_TRUE(waiting.Payload().empty());
    EXPECT_EQ(device.state, StateBooting);
    device.stateTime = std::time(nullptr) - 31;
    Transaction lost(device, CmdIdentify, "");
    lost.Take(nullptr);
    EXPECT_EQ(device.state, StateDisconnected);
    // A serial number with the wildcard would reach every device: nothing is sent.
    device.serialNumber = PadField("KPL*", 10);
    EXPECT_TRUE(Transaction(device, CmdIdentify, "").Over());
}

} // namespace
