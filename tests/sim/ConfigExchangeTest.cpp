// Reading and writing the network configuration, in plain and inside the encrypted envelope.

#include "SimTestSupport.h"

namespace simtest {
namespace {

// ip 10.0.0.7, gateway 10.0.0.1, netmask 255.255.0.0, 4th 1.2.3.4, 5th 5.6.7.8, then the flags.
std::string ConfigPayload(bool dhcp, bool crypt) {
    return Bytes({10, 0, 0, 7, 10, 0, 0, 1, 255, 255,          0,
                  0,  1, 2, 3, 4,  5, 6, 7, 8,   dhcp ? 1 : 0, crypt ? 1 : 0});
}

SimDevice Addressed(const std::string& serial) {
    return Device(serial, [](SimDevice& d) {
        d.currentIp = {192, 168, 7, 9};
        d.currentGateway = {192, 168, 7, 1};
        d.currentNetmask = {255, 255, 255, 0};
        d.currentAddress4 = {9, 9, 9, 4};
        d.currentAddress5 = {9, 9, 9, 5};
        d.staticIp = {172, 16, 0, 2};
        d.staticGateway = {172, 16, 0, 1};
        d.staticNetmask = {255, 240, 0, 0};
        d.staticAddress4 = {8, 8, 8, 4};
        d.staticAddress5 = {8, 8, 8, 5};
        d.dhcp = true;
        d.crypt = false;
    });
}

using LanifsimConfigExchangeTest = SimClientTest;

TEST_F(LanifsimConfigExchangeTest, ReadsGiveTheAddressesInEffectAndTheStoredConfiguration) {
    StartWith({Addressed("KPL0000001"), Device("KPL0000002", [](SimDevice& d) {
                   d.extraReplyBytes = 5;
                   d.crypt = true;
               })});

    std::string status = client.Ask(To("KPL0000001", 'N'));
    EXPECT_EQ(status.substr(0, 20), std::string("vK7LanIfKPL0000001>N"));
    EXPECT_EQ(Payload(status),
              Bytes({192, 168, 7, 9, 192, 168, 7, 1, 255, 255, 255, 0, 9, 9, 9, 4, 9, 9, 9, 5}));
    EXPECT_EQ(Payload(client.Ask(To("KPL0000001", 'c'))),
              Bytes({172, 16, 0, 2, 172, 16, 0, 1, 255, 240, 0, 0, 8, 8, 8, 4, 8, 8, 8, 5, 1, 0}));

    // Extra zero bytes lengthen every reply but the identification.
    std::string padded = Payload(client.Ask(To("KPL0000002", 'c')));
    ASSERT_EQ(padded.size(), 27u);
    EXPECT_EQ(padded.substr(20, 2), Bytes({0, 1}));
    EXPECT_EQ(padded.substr(22), std::string(5, '\0'));
    EXPECT_EQ(Payload(client.Ask(To("KPL0000002", 'N'))).size(), 25u);
}

TEST_F(LanifsimConfigExchangeTest, WriteStoresUnlessRefusedOrKeyMissing) {
    for (int code : {0, 1, 3, 7}) {
        const std::string serial = "KPLCODE00" + std::to_string(code);
        sim.AddDevice(Addressed(serial));
        sim.ModifyDevice(serial,
                         [code](SimDevice& d) { d.writeConfigCode = static_cast<uint8_t>(code); });
    }
    Start();

    for (int code : {0, 1, 3, 7}) {
        SCOPED_TRACE(code);
        const std::string serial = "KPLCODE00" + std::to_string(code);
        std::string reply = client.Ask(To(serial, 'C', ConfigPayload(false, true)));
        EXPECT_EQ(reply.substr(18), std::string(">C") + static_cast<char>(code));
        SimDevice d = Stored(serial);
        const bool stored = code != 0 && code != 3;
        EXPECT_EQ(d.staticIp,
                  (stored ? lanifsim::Address{10, 0, 0, 7} : lanifsim::Address{172, 16, 0, 2}));
        EXPECT_EQ(d.staticAddress5,
                  (stored ? lanifsim::Address{5, 6, 7, 8} : lanifsim::Address{8, 8, 8, 5}));
        EXPECT_EQ(d.dhcp, !stored);
        EXPECT_EQ(d.crypt, stored);
        // Taking a configuration does not change the addresses in effect before a restart.
        EXPECT_EQ(d.currentIp, (lanifsim::Address{192, 168, 7, 9}));
    }
}

TEST_F(LanifsimConfigExchangeTest, MalformedWriteIsRefused) {
    StartWith({Addressed("KPL0000001")});
    EXPECT_EQ(Code(client.Ask(To("KPL0000001", 'C', ConfigPayload(false, false).substr(0, 21)))),
              0);
    EXPECT_EQ(Code(client.Ask(To("KPL0000001", 'C', ConfigPayload(false, false) + '\0'))), 0);
    EXPECT_EQ(Stored("KPL0000001").staticIp, (lanifsim::Address{172, 16, 0, 2}));
}

TEST_F(LanifsimConfigExchangeTest, WriteWithRestartGoesSilentThenUsesTheNewAddress) {
    StartWith({Addressed("KPL0000001"), Addressed("KPL0000002")});
    for (const char* serial : {"KPL0000001", "KPL0000002"})
        sim.ModifyDevice(serial, [](SimDevice& d) { d.writeConfigCode = 2; });

    EXPECT_EQ(Code(client.Ask(To("KPL0000001", 'C', ConfigPayload(false, false)))), 2);
    EXPECT_EQ(Code(client.Ask(To("KPL0000002", 'C', ConfigPayload(true, false)))), 2);
    EXPECT_TRUE(client.Unanswered(To("KPL0000001", 'N'), 50ms));
    std::this_thread::sleep_for(200ms);

    // Fixed address: the stored one is in effect now. DHCP: the address in effect stays.
    EXPECT_EQ(Payload(client.Ask(To("KPL0000001", 'N'))),
              Bytes({10, 0, 0, 7, 10, 0, 0, 1, 255, 255, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(Payload(client.Ask(To("KPL0000002", 'N'))).substr(0, 4), Bytes({192, 168, 7, 9}));
    EXPECT_EQ(client.Ask(To("KPL0000001", 'I')).substr(0, 8), "vK7LanIf");
}

class LanifsimEncryptedTest : public SimClientTest {
protected:
    void SetUp() override {
        SimClientTest::SetUp();
        StartWith({Addressed("KPL0000002")});
        sim.ModifyDevice("KPL0000002", [](SimDevice& d) { d.key = Key(); });
    }

    std::string Challenge(char command, const std::string& payload = "") {
        std::string reply = client.Ask(To("KPL0000002", command, payload));
        EXPECT_TRUE(IsChallenge(reply)) << "no challenge to " << command;
        EXPECT_EQ(reply.size(), 37u);
        return reply.size() >= 37 ? ChallengeIv(reply) : std::string(16, '\0');
    }
};

TEST_F(LanifsimEncryptedTest, EnvelopeWithTheRightKeyCarriesOutTheWrite) {
    const std::string iv = Challenge('C', ConfigPayload(false, true));
    EXPECT_EQ(Stored("KPL0000002").staticIp, (lanifsim::Address{172, 16, 0, 2}));

    std::string reply =
        client.Ask(To("KPL0000002", '*', Envelope(Key(), iv, 'C', ConfigPayload(false, true))));
    // The answer is plain and names the wrapped command.
    EXPECT_EQ(reply, std::string("vK7LanIfKPL0000002>C") + '\x01');
    EXPECT_EQ(Stored("KPL0000002").staticIp, (lanifsim::Address{10, 0, 0, 7}));
    EXPECT_TRUE(Stored("KPL0000002").crypt);

    auto requests = sim.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].decrypted);
    const auto& envelope = requests[1];
    EXPECT_EQ(envelope.command, '*');
    EXPECT_EQ(envelope.payload.size(), 48u);
    EXPECT_TRUE(envelope.decrypted);
    EXPECT_EQ(envelope.innerCommand, 'C');
    EXPECT_EQ(envelope.innerPayload, ConfigPayload(false, true) + std::string(9, '\0'));
    EXPECT_EQ(envelope.plaintext.substr(0, 17), std::string("Velantrix-Crypt\0C", 17));
    EXPECT_EQ(envelope.answeredBy, std::vector<std::string>{"KPL0000002"});
}

TEST_F(LanifsimEncryptedTest, WrongKeyOrForgedEnvelopeGetsAFreshChallenge) {
    const std::string iv = Challenge('C', ConfigPayload(false, true));

    std::string reply =
        client.Ask(To("KPL0000002", '*', Envelope(Key(1), iv, 'C', ConfigPayload(false, true))));
    ASSERT_TRUE(IsChallenge(reply));
    EXPECT_NE(ChallengeIv(reply), iv);
    EXPECT_FALSE(sim.Requests().back().decrypted);
    // The old IV is gone: the right key with it fails too.
    EXPECT_TRUE(IsChallenge(
        client.Ask(To("KPL0000002", '*', Envelope(Key(), iv, 'C', ConfigPayload(false, true))))));

    // Lengths no envelope can have.
    EXPECT_TRUE(IsChallenge(client.Ask(To("KPL0000002", '*'))));
    EXPECT_TRUE(IsChallenge(client.Ask(To("KPL0000002", '*', std::string(33, 'x')))));
    EXPECT_EQ(Stored("KPL0000002").staticIp, (lanifsim::Address{172, 16, 0, 2}));
}

TEST_F(LanifsimEncryptedTest, AnEnvelopeAnswersOneChallengeOnly) {
    const std::string iv = Challenge('C', ConfigPayload(false, true));
    const std::string envelope =
        To("KPL0000002", '*', Envelope(Key(), iv, 'C', ConfigPayload(false, true)));
    EXPECT_EQ(Code(client.Ask(envelope)), 1);
    sim.ModifyDevice("KPL0000002", [](SimDevice& d) { d.staticIp = {1, 1, 1, 1}; });
    EXPECT_TRUE(IsChallenge(client.Ask(envelope)));
    EXPECT_EQ(Stored("KPL0000002").staticIp, (lanifsim::Address{1, 1, 1, 1}));
}

TEST_F(LanifsimEncryptedTest, EnvelopeInsideAnEnvelopeIsRefused) {
    const std::string iv = Challenge('C', ConfigPayload(false, true));
    std::string reply =
        client.Ask(To("KPL0000002", '*', Envelope(Key(), iv, '*', std::string(48, 'z'))));
    EXPECT_TRUE(IsChallenge(reply));
    EXPECT_TRUE(sim.Requests().back().decrypted);
    EXPECT_EQ(sim.Requests().back().innerCommand, '*');
}

TEST_F(LanifsimEncryptedTest, ReadsNeedTheKeyOnlyWhenTheDeviceSaysSo) {
    EXPECT_EQ(Payload(client.Ask(To("KPL0000002", 'N'))).size(), 20u);
    EXPECT_EQ(Payload(client.Ask(To("KPL0000002", 'c'))).size(), 22u);
    EXPECT_EQ(Payload(client.Ask(To("KPL0000002", 'I'))).size(), 8u);

    sim.ModifyDevice("KPL0000002", [](SimDevice& d) { d.challengeReads = true; });
    Challenge('c');
    const std::string iv = Challenge('N');
    std::string reply = client.Ask(To("KPL0000002", '*', Envelope(Key(), iv, 'N', "")));
    EXPECT_EQ(reply.substr(18, 2), ">N");
    EXPECT_EQ(Payload(reply).substr(0, 4), Bytes({192, 168, 7, 9}));
    EXPECT_EQ(sim.Requests().back().innerPayload, std::string(15, '\0'));
}

TEST_F(LanifsimConfigExchangeTest, EnvelopeToADeviceWithoutKeyIsRefused) {
    StartWith({Device("KPL0000001")});
    std::string reply =
        client.Ask(To("KPL0000001", '*', Envelope(Key(), Key(), 'C', ConfigPayload(0, 0))));
    EXPECT_EQ(Code(reply), 0);
    EXPECT_FALSE(sim.Requests().back().decrypted);
}

} // namespace
} // namespace simtest
