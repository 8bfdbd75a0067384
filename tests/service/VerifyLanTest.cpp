// The LAN check of a connection choice against simulated LAN interfaces. Every test runs in a
// private network namespace of its own.

#include "CServiceController.h"
#include "ServiceTestSupport.h"
#include "SimFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

using namespace simtest;

namespace {

ConnectionSettings Lan(const std::string& serial, const std::string& key) {
    ConnectionSettings s;
    s.connection = ConnectionType::Lan;
    s.lanSerial = serial;
    s.lanKey = key;
    return s;
}

lanifsim::SimDevice Dhcp(lanifsim::SimDevice d, lanifsim::Address current) {
    d.dhcp = true;
    d.currentIp = current;
    return d;
}

class VerifyLan : public SimTest {
protected:
    int Verify(const std::string& serial, const std::string& key) {
        ConnectionSettings s = Lan(serial, key);
        const ConnectionSettings before = s;
        const int result = controller.VerifySettings(s);
        EXPECT_EQ(s, before); // the LAN check changes nothing of the choice
        return result;
    }

    CServiceController controller{servicetest::StandIn()};
};

} // namespace

// ---- plain devices: the result follows DHCP and the address in effect ----

TEST_F(VerifyLan, NoDeviceIsNotFound) {
    StartWith({PlainDevice()});
    EXPECT_EQ(Verify("KPL0999999", ""), VerifyNotFound);
    EXPECT_EQ(Commands().find_first_not_of('I'), std::string::npos) << Commands();
}

TEST_F(VerifyLan, PlainDeviceTakesAnyKeyAndKeepsItsConfiguration) {
    StartWith({PlainDevice()});
    for (const std::string& key : {std::string(), kKeyText, kWrongKeyText, std::string("xyz")})
        EXPECT_EQ(Verify(kPlainSerial, key), VerifyStaticConfig) << "key '" << key << "'";
    // Search, addresses, configuration, the configuration written back and read again.
    EXPECT_EQ(Commands().substr(0, 5), "INcCc");

    lanifsim::SimDevice after;
    ASSERT_TRUE(sim.GetDevice(kPlainSerial, &after));
    const lanifsim::SimDevice original = PlainDevice();
    EXPECT_EQ(after.staticIp, original.staticIp);
    EXPECT_EQ(after.staticGateway, original.staticGateway);
    EXPECT_EQ(after.staticNetmask, original.staticNetmask);
    EXPECT_EQ(after.staticAddress4, original.staticAddress4);
    EXPECT_EQ(after.staticAddress5, original.staticAddress5);
    EXPECT_FALSE(after.dhcp);
    EXPECT_FALSE(after.crypt);
}

TEST_F(VerifyLan, DhcpWithAGoodAddressIsOk) {
    StartWith({Dhcp(PlainDevice(), {10, 1, 2, 3})});
    EXPECT_EQ(Verify(kPlainSerial, ""), VerifyOk);
    lanifsim::SimDevice after;
    ASSERT_TRUE(sim.GetDevice(kPlainSerial, &after));
    EXPECT_TRUE(after.dhcp);
}

TEST_F(VerifyLan, DhcpWithAZeroOrLoopbackAddressHasNoAddress) {
    StartWith({Dhcp(PlainDevice(), {0, 0, 0, 0}), Dhcp(LoopbackDevice(), {127, 0, 0, 1})});
    EXPECT_EQ(Verify(kPlainSerial, ""), VerifyNoDhcpAddress);
    EXPECT_EQ(Verify(kLoopbackSerial, ""), VerifyNoDhcpAddress);
}

TEST_F(VerifyLan, StaticConfigurationWithALoopbackAddressIsStillStatic) {
    StartWith({LoopbackDevice()});
    EXPECT_EQ(Verify(kLoopbackSerial, ""), VerifyStaticConfig);
}

// ---- an encrypted device: the write-back checks the access code ----

TEST_F(VerifyLan, EncryptedDeviceWithTheRightKey) {
    lanifsim::SimDevice d = Dhcp(CryptDevice(), {10, 1, 2, 3});
    d.writeConfigCode = 1; // takes the configuration without a restart
    StartWith({d});
    EXPECT_EQ(Verify(kCryptSerial, kKeyText), VerifyOk);
    bool wrappedWrite = false;
    for (const auto& r : sim.Requests())
        wrappedWrite |= r.command == '*' && r.decrypted && r.innerCommand == 'C';
    EXPECT_TRUE(wrappedWrite);
}

TEST_F(VerifyLan, EncryptedDeviceThatRestartsAfterTheWrite) {
    StartWith({CryptDevice()});
    EXPECT_EQ(Verify(kCryptSerial, kKeyText), VerifyStaticConfig);
}

TEST_F(VerifyLan, EncryptedDeviceWithAWrongOrNoKey) {
    lanifsim::SimDevice readsToo = CryptDevice();
    readsToo.serial = "KPL0000012";
    readsToo.challengeReads = true; // wants its key for reads as well
    StartWith({CryptDevice(), readsToo});
    EXPECT_EQ(Verify(kCryptSerial, kWrongKeyText), VerifyWrongAccessCode);
    EXPECT_EQ(Verify(kCryptSerial, ""), VerifyWrongAccessCode);
    EXPECT_EQ(Verify("KPL0000012", kWrongKeyText), VerifyWrongAccessCode);
    EXPECT_EQ(Verify("KPL0000012", ""), VerifyWrongAccessCode);
    for (const auto& r : sim.Requests())
        EXPECT_FALSE(r.decrypted) << "nothing was carried out with a wrong key";
}

// ---- nothing sent, or the device lost half-way ----

TEST_F(VerifyLan, AddressGivenIsNotCheckedAndNothingIsSent) {
    StartWith({PlainDevice()});
    ConnectionSettings s = Lan(kPlainSerial, kKeyText);
    s.lanHost = "192.168.1.50";
    EXPECT_EQ(controller.VerifySettings(s), VerifyNotChecked);
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // time for a stray datagram
    EXPECT_TRUE(sim.Requests().empty());
}

class VerifyLanLostAfterSearch : public VerifyLan,
                                 public ::testing::WithParamInterface<const char*> {};

// The device answers the search, then loses one exchange: the chain stops there.
TEST_P(VerifyLanLostAfterSearch, IsNotFound) {
    lanifsim::SimDevice d = PlainDevice();
    d.dropFirstReplyTo = GetParam();
    StartWith({d});
    EXPECT_EQ(Verify(kPlainSerial, ""), VerifyNotFound);
    const std::string sent = Commands();
    const std::string expected =
        std::string("INcC").substr(0, std::string("INcC").find(GetParam()) + 1);
    EXPECT_EQ(sent, expected);
}

INSTANTIATE_TEST_SUITE_P(Exchanges, VerifyLanLostAfterSearch, ::testing::Values("N", "c", "C"));

TEST_F(VerifyLan, DeviceSilentAfterTheSearchIsNotFound) {
    sim.SetRequestObserver([this](const lanifsim::RecordedRequest& r) {
        if (r.command == 'I')
            sim.ModifyDevice(kPlainSerial, [](lanifsim::SimDevice& d) { d.silent = true; });
    });
    StartWith({PlainDevice()});
    EXPECT_EQ(Verify(kPlainSerial, ""), VerifyNotFound);
    EXPECT_EQ(Commands(), "IN");
}
