// The LAN module against the simulator over real UDP, inside a private network namespace.
#include "LanInterface.h"
#include "LanSearch.h"
#include "LanProtocol.h"
#include "SimFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

using namespace simtest;
using lanproto::PadField;

namespace {

using Clock = std::chrono::steady_clock;

class LanExchange : public SimTest {
protected:
    // A record found on the network, as the programs make it.
    LanInterface Found(const std::string& serial) {
        LanInterface device;
        EXPECT_TRUE(device.FindBySerial(serial));
        sim.ClearRequests();
        return device;
    }
};

TEST_F(LanExchange, DiscoveryListsEveryAnsweringDeviceInReplyOrder) {
    StartWith({PlainDevice(), CryptDevice(), BootloaderDevice()});
    std::vector<LanInterface> list(1); // appended to, not cleared
    auto start = Clock::now();
    ASSERT_TRUE(DiscoverLanInterfaces("vK7Lan*", list));
    auto took = Clock::now() - start;
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].state, StateUnknown);
    EXPECT_EQ(list[1].SerialText(), kPlainSerial);
    EXPECT_EQ(list[1].version, "1.234");
    EXPECT_EQ(list[1].state, StateRun);
    EXPECT_EQ(list[2].SerialText(), kCryptSerial);
    EXPECT_EQ(list[3].SerialText(), kBootSerial);
    EXPECT_EQ(list[3].state, StateMaintenance);
    EXPECT_EQ(list[3].version, "0.010");
    // The search window is waited out: more devices may still answer.
    EXPECT_GE(took, std::chrono::milliseconds(1950));

    auto requests = sim.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].bytes, std::string("vK7Lan*") + '\0' + std::string(10, '*') + "I");
}

TEST_F(LanExchange, DiscoveryWithNoDeviceSucceedsAndLeavesTheList) {
    StartWith({});
    std::vector<LanInterface> list(1);
    list[0].version = "9.999";
    EXPECT_TRUE(DiscoverLanInterfaces("vK7Lan*", list));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].version, "9.999");
}

TEST_F(LanExchange, FindBySerialAndExchangesReturnAtTheFirstReply) {
    StartWith({PlainDevice(), CryptDevice()});
    LanInterface device;
    ASSERT_TRUE(device.FindBySerial(kCryptSerial));
    EXPECT_EQ(device.serialNumber, kCryptSerial);
    // An exchange returns at the reply instead of waiting out its 2 s window.
    auto start = Clock::now();
    ASSERT_TRUE(device.ReadStatus());
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_EQ(device.deviceType, "vK7LanIf");
    auto requests = sim.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].bytes, std::string(8, '*') + kCryptSerial + "I");
    EXPECT_FALSE(LanInterface().FindBySerial("NOSUCHDEV"));
}

TEST_F(LanExchange, RepliesNamingAnotherSerialAreIgnoredAndTheWaitGoesOn) {
    // A foreign host that answers every request first, with its own serial, addresses and
    // challenges (an IV of its choosing).
    auto impostor = PlainDevice("KPL0000666");
    impostor.impostor = true;
    impostor.key = std::string(16, 'x');
    impostor.challengeReads = true;
    impostor.currentIp = {6, 6, 6, 6};
    StartWith({impostor, PlainDevice()});
    LanInterface device = Found(kPlainSerial);
    EXPECT_EQ(device.SerialText(), kPlainSerial);
    device.SetCryptKey(kKeyText);
    ASSERT_TRUE(device.ReadStatus());
    EXPECT_EQ(device.currentIp, "192.168.1.50");
    device.staticIp = "192.168.1.60";
    EXPECT_EQ(device.WriteConfig(), ResultOk);
    EXPECT_EQ(Commands(), "NCc"); // no envelope for the foreign challenge
    lanifsim::SimDevice after;
    ASSERT_TRUE(sim.GetDevice(kPlainSerial, &after));
    EXPECT_EQ(after.staticIp, (lanifsim::Address{192, 168, 1, 60}));

    // The same rule for requests sent to addresses: the foreign host answers from 127.0.0.1.
    const SearchScope range{{"127.0.0.1", "127.0.0.2"}};
    EXPECT_TRUE(FindAllBySerial("LXZ0000009", range).devices.empty());
    const SearchResult found = FindAllBySerial(kPlainSerial, range);
    ASSERT_EQ(found.devices.size(), 1u);
    EXPECT_EQ(found.devices.front().SerialText(), kPlainSerial);
    EXPECT_EQ(found.devices.front().unicastAddress, "127.0.0.1");
    const SearchResult all = SearchLanInterfaces({{"127.0.0.1"}});
    EXPECT_EQ(all.devices.size(), 2u); // the host answers the search for all as itself: it is listed
}

TEST_F(LanExchange, ShortIdentificationRepliesAreNotAccepted) {
    auto d = PlainDevice();
    d.identPayloadLength = 5; // 25-byte reply: no room for the version
    StartWith({d});
    LanInterface device;
    EXPECT_FALSE(device.FindBySerial(kPlainSerial));
    std::vector<LanInterface> list;
    EXPECT_TRUE(DiscoverLanInterfaces("vK7Lan*", list));
    EXPECT_TRUE(list.empty());
}

TEST_F(LanExchange, ReadStatusAndConfigFillTheRecord) {
    auto d = PlainDevice();
    d.dhcp = true;
    d.extraReplyBytes = 40; // longer replies than needed are fine
    StartWith({d});
    LanInterface device = Found(kPlainSerial);
    ASSERT_TRUE(device.ReadStatus());
    ASSERT_TRUE(device.ReadConfig());
    EXPECT_EQ(device.currentIp, "192.168.1.50");
    EXPECT_EQ(device.currentNetmask, "255.255.255.0");
    EXPECT_EQ(device.currentGateway, "192.168.1.1");
    EXPECT_EQ(device.staticAddress4, "10.0.0.4");
    EXPECT_EQ(device.staticAddress5, "10.0.0.5");
    EXPECT_TRUE(device.dhcp);
    EXPECT_FALSE(device.crypt);
    auto requests = sim.Requests();
    ASSERT_EQ(requests.size(), 2u);
    std::string header = std::string("*") + std::string(7, '\0') + kPlainSerial;
    EXPECT_EQ(requests[0].bytes, header + "N");
    EXPECT_EQ(requests[1].bytes, header + "c");
}

TEST_F(LanExchange, LoopbackAddressInEffectReadsAsNotAvailable) {
    StartWith({LoopbackDevice()});
    LanInterface device = Found(kLoopbackSerial);
    ASSERT_TRUE(device.ReadStatus());
    EXPECT_EQ(device.currentIp, "n/a");
    EXPECT_EQ(device.currentNetmask, "n/a");
    EXPECT_EQ(device.currentGateway, "n/a");
    EXPECT_EQ(device.currentAddress4, "1.2.3.4");
    EXPECT_EQ(device.currentAddress5, "5.6.7.8");
}

TEST_F(LanExchange, WriteConfigSendsTheWholeConfigurationAndReadsItBack) {
    StartWith({PlainDevice()});
    LanInterface device = Found(kPlainSerial);
    ASSERT_TRUE(device.ReadConfig());
    device.staticIp = "10.1.2.3";
    device.staticNetmask = "255.0.0.0";
    device.dhcp = true;
    sim.ClearRequests();
    EXPECT_EQ(device.WriteConfig(), ResultOk);
    EXPECT_EQ(Commands(), "Cc");
    auto requests = sim.Requests();
    std::string payload = std::string("\x0A\x01\x02\x03", 4) + std::string("\xC0\xA8\x01\x01", 4) +
                          std::string("\xFF\x00\x00\x00", 4) + std::string("\x0A\x00\x00\x04", 4) +
                          std::string("\x0A\x00\x00\x05", 4) + std::string("\x01\x00", 2);
    EXPECT_EQ(requests[0].payload, payload);
    lanifsim::SimDevice after;
    ASSERT_TRUE(sim.GetDevice(kPlainSerial, &after));
    EXPECT_TRUE(after.dhcp);
    EXPECT_EQ(after.staticIp, (lanifsim::Address{10, 1, 2, 3}));
}

TEST_F(LanExchange, WriteConfigResultCodes) {
    auto refused = PlainDevice("KPLREFUSED");
    refused.writeConfigCode = 0;
    auto restart = PlainDevice("KPLRESTART");
    restart.writeConfigCode = 2;
    auto other = PlainDevice("KPLOTHER");
    other.writeConfigCode = 9;
    StartWith({refused, restart, other});

    LanInterface a = Found("KPLREFUSED");
    EXPECT_EQ(a.WriteConfig(), ResultFailed);
    EXPECT_EQ(Commands(), "Cc"); // refused: the configuration is read back all the same
    EXPECT_EQ(a.staticIp, "192.168.1.50");

    LanInterface b = Found("KPLRESTART");
    EXPECT_EQ(b.WriteConfig(), ResultOk);
    EXPECT_EQ(Commands(), "C");
    EXPECT_EQ(b.state, StateBooting);

    LanInterface c = Found("KPLOTHER");
    EXPECT_EQ(c.WriteConfig(), ResultOk);
    EXPECT_EQ(Commands(), "C");
    EXPECT_EQ(c.state, StateRun);

    // Taken with 1, then read back: what the device holds must be what was written.
    WriteFailure why = WriteKept;
    sim.ModifyDevice("KPLOTHER", [](lanifsim::SimDevice& s) {
        s.writeConfigCode = 1;
        s.keepsOldConfig = true;
    });
    c.staticIp = "10.9.9.9";
    EXPECT_EQ(c.WriteConfig(&why), ResultFailed);
    EXPECT_EQ(why, WriteNotKept);
    EXPECT_NE(c.staticIp, "10.9.9.9"); // the record shows what the device kept
    sim.ModifyDevice("KPLOTHER", [](lanifsim::SimDevice& s) { s.dropFirstReplyTo = "c"; });
    EXPECT_EQ(c.WriteConfig(&why), ResultFailed);
    EXPECT_EQ(why, WriteReadBackFailed);
}

TEST_F(LanExchange, TheRightKeyCarriesTheWriteInAnEnvelope) {
    StartWith({CryptDevice()});
    LanInterface device = Found(kCryptSerial);
    ASSERT_TRUE(device.ReadStatus());
    ASSERT_TRUE(device.ReadConfig());
    device.SetCryptKey(kKeyText);
    device.staticGateway = "192.168.1.254";
    sim.ClearRequests();
    EXPECT_EQ(device.WriteConfig(), ResultOk);
    EXPECT_EQ(device.state, StateBooting);

    auto requests = sim.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].command, 'C'); // first in plain, answered with a challenge
    EXPECT_EQ(requests[1].command, '*');
    EXPECT_EQ(requests[1].bytes.substr(0, 19),
              std::string("*") + std::string(7, '\0') + kCryptSerial + "*");
    EXPECT_EQ(requests[1].payload.size(), 48u);
    ASSERT_TRUE(requests[1].decrypted);
    EXPECT_EQ(requests[1].innerCommand, 'C');
    EXPECT_EQ(requests[1].plaintext.substr(0, 17), std::string("Velantrix-Crypt") + '\0' + "C");
    EXPECT_EQ(requests[1].plaintext.substr(17, 22), requests[0].payload);
    EXPECT_EQ(requests[1].plaintext.substr(39), std::string(9, '\0'));
}

TEST_F(LanExchange, AMissingOrWrongKeyIsAKeyError) {
    StartWith({CryptDevice()});
    LanInterface noKey = Found(kCryptSerial);
    EXPECT_EQ(noKey.WriteConfig(), ResultKeyError);
    EXPECT_EQ(Commands(), "C"); // no envelope without a key

    LanInterface shortKey = Found(kCryptSerial);
    shortKey.SetCryptKey(kKeyText.substr(0, 30)); // 15 bytes: encryption stays off
    EXPECT_EQ(shortKey.WriteConfig(), ResultKeyError);
    EXPECT_EQ(Commands(), "C");

    LanInterface wrong = Found(kCryptSerial);
    wrong.SetCryptKey(kWrongKeyText);
    EXPECT_EQ(wrong.WriteConfig(), ResultKeyError);
    EXPECT_EQ(Commands(), "C*"); // the envelope is never wrapped again
    lanifsim::SimDevice after;
    ASSERT_TRUE(sim.GetDevice(kCryptSerial, &after));
    EXPECT_EQ(after.staticIp, (lanifsim::Address{192, 168, 1, 50}));
}

TEST_F(LanExchange, ReadsOfADeviceThatChallengesThemNeedTheKey) {
    auto d = CryptDevice();
    d.challengeReads = true;
    // A challenge as long as a status reply, with a 3 at byte 20 like an address 3.x.x.x.
    auto longer = d;
    longer.serial = "KPL0000022";
    longer.extraReplyBytes = 8;
    StartWith({d, longer});
    for (const std::string& serial : {kCryptSerial, std::string("KPL0000022")}) {
        LanInterface device = Found(serial);
        EXPECT_FALSE(device.ReadStatus()) << serial;
        EXPECT_EQ(device.Read(), ResultKeyError) << serial;
        EXPECT_TRUE(device.currentIp.empty()) << serial << ": a challenge is not an address";
        device.SetCryptKey(kWrongKeyText);
        EXPECT_EQ(device.Read(), ResultKeyError) << serial;
        device.SetCryptKey(kKeyText);
        EXPECT_EQ(device.Read(), ResultOk) << serial;
        EXPECT_EQ(device.currentIp, "192.168.1.50") << serial;
        EXPECT_TRUE(device.crypt) << serial;
    }
}

TEST_F(LanExchange, SilenceDisconnectsExceptDuringTheBootGrace) {
    auto d = PlainDevice();
    StartWith({d});
    LanInterface device = Found(kPlainSerial);
    sim.ModifyDevice(kPlainSerial, [](lanifsim::SimDevice& s) { s.silent = true; });

    device.state = StateBooting;
    device.stateTime = std::time(nullptr) - 25; // inside the 30 seconds
    const auto enteredBooting = device.stateTime;
    EXPECT_TRUE(device.Transact('N', "").empty());
    EXPECT_EQ(device.state, StateBooting);
    EXPECT_EQ(device.stateTime, enteredBooting);

    device.stateTime = std::time(nullptr) - 31; // grace over
    EXPECT_TRUE(device.Transact('N', "").empty());
    EXPECT_EQ(device.state, StateDisconnected);

    // A reply brings it back.
    sim.ModifyDevice(kPlainSerial, [](lanifsim::SimDevice& s) { s.silent = false; });
    EXPECT_TRUE(device.Identify());
    EXPECT_EQ(device.state, StateRun);
}

TEST_F(LanExchange, IdentifyAfterARestartIntoTheBootloaderGivesMaintenance) {
    StartWith({BootloaderDevice()});
    LanInterface device = Found(kBootSerial);
    device.deviceType = "vK7LanIf"; // as held before the restart
    device.state = StateBooting;
    EXPECT_TRUE(device.Identify());
    EXPECT_EQ(device.state, StateMaintenance);
    EXPECT_EQ(device.deviceType, "vK7LanBl");
    EXPECT_EQ(Commands(), "IN");
}

} // namespace
