// Entering the bootloader and taking firmware blocks, and the misbehaviour tests rely on.

#include "SimTestSupport.h"

namespace simtest {
namespace {

std::string Be16(unsigned value) {
    return Bytes({static_cast<int>(value >> 8), static_cast<int>(value & 0xFF)});
}

// A W payload: [counter] length data.
std::string Block(const std::string& data, int counter = -1) {
    std::string p = counter >= 0 ? Be16(static_cast<unsigned>(counter)) : std::string();
    return p + Be16(static_cast<unsigned>(data.size())) + data;
}

SimDevice InBootloader(const std::string& serial, uint16_t bootloaderVersion) {
    return Device(serial, [=](SimDevice& d) {
        d.inBootloader = true;
        d.bootloaderVersion = bootloaderVersion;
    });
}

using LanifsimBootloaderTest = SimClientTest;

TEST_F(LanifsimBootloaderTest, EnterBootloaderRestartsIntoItAfterTheSilence) {
    StartWith({Device("KPL0000001", [](SimDevice& d) { d.bootloaderVersion = 12; })});

    EXPECT_EQ(client.Ask(To("KPL0000001", 'B')).substr(18), std::string(">B\x02"));
    EXPECT_TRUE(client.Unanswered(To("KPL0000001", 'I'), 50ms));
    std::this_thread::sleep_for(150ms);

    std::string ident = client.Ask(To("KPL0000001", 'I'));
    EXPECT_EQ(TypeOf(ident), "vK7LanBl");
    EXPECT_EQ(ident.substr(24, 2), Bytes({0, 12}));
    EXPECT_TRUE(Stored("KPL0000001").inBootloader);
    // Already there: the bootloader's own answer, and no restart.
    EXPECT_EQ(Code(client.Ask(To("KPL0000001", 'B'))), 1);
    EXPECT_EQ(TypeOf(client.Ask(To("KPL0000001", 'I'), 100ms)), "vK7LanBl");
}

TEST_F(LanifsimBootloaderTest, RefusedOrKeyDemandedOrRestartIntoApplicationStaysInApplication) {
    StartWith({Device("KPL0000000", [](SimDevice& d) { d.bootloaderCode = 0; }),
               Device("KPL0000003", [](SimDevice& d) { d.bootloaderCode = 3; }),
               Device("KPL0000002", [](SimDevice& d) { d.restartIntoApplication = true; })});

    EXPECT_EQ(Code(client.Ask(To("KPL0000000", 'B'))), 0);
    EXPECT_EQ(Code(client.Ask(To("KPL0000003", 'B'))), 3);
    EXPECT_EQ(TypeOf(client.Ask(To("KPL0000000", 'I'), 100ms)), "vK7LanIf");
    EXPECT_EQ(TypeOf(client.Ask(To("KPL0000003", 'I'), 100ms)), "vK7LanIf");

    EXPECT_EQ(Code(client.Ask(To("KPL0000002", 'B'))), 2);
    EXPECT_TRUE(client.Unanswered(To("KPL0000002", 'I'), 50ms));
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(TypeOf(client.Ask(To("KPL0000002", 'I'))), "vK7LanIf");
}

TEST_F(LanifsimBootloaderTest, BootloaderNeedsTheKeyWhenTheDeviceHasOne) {
    StartWith({Device("KPL0000001", [](SimDevice& d) { d.key = Key(); })});
    std::string challenge = client.Ask(To("KPL0000001", 'B'));
    ASSERT_TRUE(IsChallenge(challenge));
    EXPECT_EQ(TypeOf(client.Ask(To("KPL0000001", 'I'))), "vK7LanIf");

    std::string reply =
        client.Ask(To("KPL0000001", '*', Envelope(Key(), ChallengeIv(challenge), 'B', "")));
    EXPECT_EQ(reply.substr(18), std::string(">B\x02"));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(TypeOf(client.Ask(To("KPL0000001", 'I'))), "vK7LanBl");
}

TEST_F(LanifsimBootloaderTest, BlocksWithCountersAreCheckedAndKept) {
    StartWith({InBootloader("KPL0000001", 10)});
    const std::string serial = "KPL0000001";

    EXPECT_EQ(client.Ask(To(serial, 'U')).substr(18), std::string(">U\x01"));
    EXPECT_EQ(Code(client.Ask(To(serial, 'W', Block("abc", 0)))), 1);
    EXPECT_EQ(Code(client.Ask(To(serial, 'W', Block("", 1)))), 1);
    // Wrong counter, length beyond the data, data beyond the length, over 1024, no counter.
    EXPECT_EQ(Code(client.Ask(To(serial, 'W', Block("x", 5)))), 0);
    EXPECT_EQ(Code(client.Ask(To(serial, 'W', Be16(2) + Be16(9) + "short"))), 0);
    EXPECT_EQ(Code(client.Ask(To(serial, 'W', Block("x", 2) + "y"))), 0);
    EXPECT_EQ(Code(client.Ask(To(serial, 'W', Block(std::string(1025, 'x'), 2)))), 0);
    EXPECT_EQ(Code(client.Ask(To(serial, 'W', Be16(1)))), 0);
    EXPECT_EQ(Code(client.Ask(To(serial, 'W', Block(std::string(1024, 'x'), 2)))), 1);
    EXPECT_EQ(sim.ReceivedBlocks(serial),
              (std::vector<std::string>{"abc", "", std::string(1024, 'x')}));

    // A new update starts from block 0 with an empty list.
    EXPECT_EQ(Code(client.Ask(To(serial, 'U'))), 1);
    EXPECT_TRUE(sim.ReceivedBlocks(serial).empty());
    EXPECT_EQ(Code(client.Ask(To(serial, 'W', Block("new", 0)))), 1);
    EXPECT_EQ(sim.ReceivedBlocks(serial), std::vector<std::string>{"new"});
}

TEST_F(LanifsimBootloaderTest, OlderBootloadersTakeBlocksWithoutCounter) {
    StartWith({InBootloader("KPL0000001", 9)});
    EXPECT_EQ(Code(client.Ask(To("KPL0000001", 'U'))), 1);
    EXPECT_EQ(Code(client.Ask(To("KPL0000001", 'W', Block("first")))), 1);
    EXPECT_EQ(Code(client.Ask(To("KPL0000001", 'W', Block("second")))), 1);
    // A counter in front reads as a length that does not fit.
    EXPECT_EQ(Code(client.Ask(To("KPL0000001", 'W', Block("third", 2)))), 0);
    EXPECT_EQ(sim.ReceivedBlocks("KPL0000001"), (std::vector<std::string>{"first", "second"}));
}

TEST_F(LanifsimBootloaderTest, BlocksInsideAnEnvelopeLoseTheirPadding) {
    StartWith({Device("KPL0000001", [](SimDevice& d) {
        d.key = Key();
        d.inBootloader = true;
    })});
    std::string challenge = client.Ask(To("KPL0000001", 'B'));
    ASSERT_TRUE(IsChallenge(challenge));
    std::string reply = client.Ask(
        To("KPL0000001", '*', Envelope(Key(), ChallengeIv(challenge), 'W', Block("abc", 0))));
    EXPECT_EQ(reply.substr(18), std::string(">W\x01"));
    EXPECT_EQ(sim.ReceivedBlocks("KPL0000001"), std::vector<std::string>{"abc"});
}

TEST_F(LanifsimBootloaderTest, RefusedBlockIsNotKeptAndRestartBlockEndsTheUpdate) {
    StartWith({Device("KPLREFUSE1",
                      [](SimDevice& d) {
                          d.inBootloader = true;
                          d.refuseBlock = 1;
                      }),
               Device("KPLRESTART", [](SimDevice& d) {
                   d.inBootloader = true;
                   d.restartAfterBlock = 1;
               })});

    EXPECT_EQ(Code(client.Ask(To("KPLREFUSE1", 'W', Block("a", 0)))), 1);
    EXPECT_EQ(Code(client.Ask(To("KPLREFUSE1", 'W', Block("b", 1)))), 0);
    EXPECT_EQ(Code(client.Ask(To("KPLREFUSE1", 'W', Block("b", 1)))), 0);
    EXPECT_EQ(sim.ReceivedBlocks("KPLREFUSE1"), std::vector<std::string>{"a"});

    EXPECT_EQ(Code(client.Ask(To("KPLRESTART", 'W', Block("a", 0)))), 1);
    EXPECT_EQ(Code(client.Ask(To("KPLRESTART", 'W', Block("b", 1)))), 2);
    EXPECT_TRUE(client.Unanswered(To("KPLRESTART", 'W', Block("c", 2)), 50ms));
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(TypeOf(client.Ask(To("KPLRESTART", 'I'))), "vK7LanIf");
    EXPECT_EQ(sim.ReceivedBlocks("KPLRESTART"), (std::vector<std::string>{"a", "b"}));
}

TEST_F(LanifsimBootloaderTest, TheApplicationTakesNoFirmware) {
    StartWith({Device("KPL0000001")});
    EXPECT_EQ(client.Ask(To("KPL0000001", 'U')).substr(18), std::string(">U\x00", 3));
    EXPECT_EQ(Code(client.Ask(To("KPL0000001", 'W', Block("abc", 0)))), 0);
    EXPECT_TRUE(sim.ReceivedBlocks("KPL0000001").empty());
}

using LanifsimMisbehaviourTest = SimClientTest;

TEST_F(LanifsimMisbehaviourTest, FirstRequestOfTheListedCommandsIsLost) {
    StartWith({Device("KPL0000001", [](SimDevice& d) {
        d.staticIp = {172, 16, 0, 2};
        d.dropFirstReplyTo = "NC";
    })});
    const std::string config =
        Bytes({10, 0, 0, 7, 10, 0, 0, 1, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});

    EXPECT_TRUE(client.Unanswered(To("KPL0000001", 'N')));
    EXPECT_EQ(Payload(client.Ask(To("KPL0000001", 'N'))).size(), 20u);
    EXPECT_EQ(Payload(client.Ask(To("KPL0000001", 'c'))).size(), 22u);

    // A lost write changes nothing, so that its repetition is the one that counts.
    EXPECT_TRUE(client.Unanswered(To("KPL0000001", 'C', config)));
    EXPECT_EQ(Stored("KPL0000001").staticIp, (lanifsim::Address{172, 16, 0, 2}));
    EXPECT_EQ(Code(client.Ask(To("KPL0000001", 'C', config))), 1);
    EXPECT_EQ(Stored("KPL0000001").staticIp, (lanifsim::Address{10, 0, 0, 7}));

    auto requests = sim.Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_TRUE(requests[0].answeredBy.empty());
    EXPECT_EQ(requests[1].answeredBy, std::vector<std::string>{"KPL0000001"});
}

TEST_F(LanifsimMisbehaviourTest, SilentDeviceRecordsButNeverAnswers) {
    StartWith({Device("KPL0000001", [](SimDevice& d) { d.silent = true; }), Device("KPL0000002")});
    EXPECT_EQ(client.Exchange(Frame("vK7Lan*", "**********", 'I'), 10, 200ms).size(), 1u);
    EXPECT_TRUE(client.Unanswered(To("KPL0000001", 'N')));
    EXPECT_EQ(sim.Requests().size(), 2u);

    // Changed while running: it speaks again.
    ASSERT_TRUE(sim.ModifyDevice("KPL0000001", [](SimDevice& d) { d.silent = false; }));
    EXPECT_FALSE(client.Ask(To("KPL0000001", 'N')).empty());
    EXPECT_FALSE(sim.ModifyDevice("NOSUCH", [](SimDevice&) {}));
    EXPECT_FALSE(sim.GetDevice("NOSUCH", nullptr));
}

} // namespace
} // namespace simtest
