// Addressing and identification: who answers which request, and with what bytes.

#include "SimTestSupport.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>

namespace simtest {
namespace {

const std::string kSearchAll = Frame("vK7Lan*", std::string(10, '*'), 'I');

std::set<std::string> SerialsOf(const std::vector<std::string>& replies) {
    std::set<std::string> serials;
    for (const auto& r : replies)
        serials.insert(r.substr(8, 10));
    return serials;
}

using LanifsimDiscoveryTest = SimClientTest;

TEST(LanifsimIsolation, TestsRunInTheirOwnNamespace) {
    // ctest starts each case through scripts/netns-run.sh, which marks the namespace.
    const char* mark = std::getenv("VK_IN_NETNS");
    EXPECT_STREQ(mark, "1");
    EXPECT_TRUE(Simulator::InIsolatedNetwork());
}

TEST_F(LanifsimDiscoveryTest, SearchForAllFindsEveryLanDeviceWithItsIdentification) {
    StartWith({Device("KPL0000001", [](SimDevice& d) { d.version = 1234; }),
               Device("KPL0000002",
                      [](SimDevice& d) {
                          d.inBootloader = true;
                          d.bootloaderVersion = 10;
                      }),
               Device("RAD0000001", [](SimDevice& d) { d.type = "vK7Radio"; })});

    auto replies = client.Exchange(kSearchAll, 10, 300ms);
    ASSERT_EQ(replies.size(), 2u);
    std::sort(replies.begin(), replies.end(),
              [](const std::string& a, const std::string& b) { return a.substr(8) < b.substr(8); });
    EXPECT_EQ(replies[0],
              std::string("vK7LanIfKPL0000001>I") + Bytes({0, 0, 0, 0, 0x04, 0xD2, 0, 0}));
    // In its bootloader a device names itself so and reports the bootloader's version.
    EXPECT_EQ(replies[1],
              std::string("vK7LanBlKPL0000002>I") + Bytes({0, 0, 0, 0, 0x00, 0x0A, 0, 0}));

    auto requests = sim.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].bytes, kSearchAll);
    EXPECT_EQ(requests[0].command, 'I');
    EXPECT_EQ(requests[0].typeField, std::string("vK7Lan*") + '\0');
    std::set<std::string> answered(requests[0].answeredBy.begin(), requests[0].answeredBy.end());
    EXPECT_EQ(answered, (std::set<std::string>{"KPL0000001", "KPL0000002"}));
}

TEST_F(LanifsimDiscoveryTest, WildcardsMatchToTheEndOfTheFieldAndEverythingElseExactly) {
    StartWith({Device("KPL0000001"), Device("KPL0000002"), Device("KPL1"), Device("KPL10"),
               Device("ABC0000001", [](SimDevice& d) { d.type = "vK7LanXY"; })});

    // One serial: eight '*' in the type field.
    EXPECT_EQ(SerialsOf(client.Exchange(Frame("********", "KPL0000002", 'I'), 10, 200ms)),
              std::set<std::string>{"KPL0000002"});
    // A prefix of the serial.
    EXPECT_EQ(SerialsOf(client.Exchange(Frame("********", "KPL000*", 'I'), 10, 200ms)),
              (std::set<std::string>{"KPL0000001", "KPL0000002"}));
    // A short serial is padded with NUL bytes and does not match a longer one.
    EXPECT_EQ(SerialsOf(client.Exchange(Frame("********", "KPL1", 'I'), 10, 200ms)),
              std::set<std::string>{Padded("KPL1", 10)});
    // The form of every other request: "*" and seven NUL bytes matches any type.
    EXPECT_EQ(SerialsOf(client.Exchange(To("ABC0000001", 'I'), 10, 200ms)),
              std::set<std::string>{"ABC0000001"});
    // A full type compares exactly.
    EXPECT_EQ(client.Exchange(Frame("vK7LanIf", "ABC0000001", 'I'), 10, 150ms).size(), 0u);
    EXPECT_EQ(client.Exchange(Frame("vK7LanIf", "**********", 'I'), 10, 200ms).size(), 4u);
    EXPECT_TRUE(client.Unanswered(Frame("********", "NOSUCH", 'I')));
}

TEST_F(LanifsimDiscoveryTest, ShortDatagramsAndUnknownCommandsAreRecordedButUnanswered) {
    StartWith({Device("KPL0000001")});

    std::string tooShort = To("KPL0000001", 'I').substr(0, 18);
    EXPECT_TRUE(client.Unanswered(tooShort));
    EXPECT_TRUE(client.Unanswered(To("KPL0000001", 'x')));

    auto requests = sim.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].bytes, tooShort);
    EXPECT_EQ(requests[0].command, 0);
    EXPECT_TRUE(requests[0].answeredBy.empty());
    EXPECT_EQ(requests[1].command, 'x');
    EXPECT_TRUE(requests[1].answeredBy.empty());

    sim.ClearRequests();
    EXPECT_TRUE(sim.Requests().empty());
}

TEST_F(LanifsimDiscoveryTest, IdentificationPayloadLengthIsAdjustable) {
    StartWith({Device("KPL0000001", [](SimDevice& d) { d.identPayloadLength = 2; }),
               Device("KPL0000002", [](SimDevice& d) { d.identPayloadLength = 12; }),
               Device("KPL0000003", [](SimDevice& d) {
                   d.identPayloadLength = 0;
                   d.extraReplyBytes = 7; // never added to identification replies
               })});

    EXPECT_EQ(client.Ask(To("KPL0000001", 'I')).size(), 22u);
    std::string longer = client.Ask(To("KPL0000002", 'I'));
    ASSERT_EQ(longer.size(), 32u);
    EXPECT_EQ(longer.substr(24, 2), Bytes({0x04, 0xD2}));
    EXPECT_EQ(client.Ask(To("KPL0000003", 'I')), std::string("vK7LanIfKPL0000003>I"));
}

TEST_F(LanifsimDiscoveryTest, HundredsOfDevicesAnswerOneSearch) {
    const std::string path = ::testing::TempDir() + "lanif_sim_bench.ini";
    {
        std::ofstream file(path);
        file << "[bench]\nserial = BEN\ncount = 600\nversion = 1300\n";
    }
    ASSERT_TRUE(sim.LoadConfig(path)) << sim.LastError();
    std::remove(path.c_str());
    Start();

    // A client with an ordinary receive buffer, reading as replies come.
    auto replies = client.Exchange(kSearchAll, 600, 2000ms);
    auto serials = SerialsOf(replies);
    EXPECT_EQ(serials.size(), 600u);
    EXPECT_EQ(*serials.begin(), "BEN0000001");
    EXPECT_EQ(*serials.rbegin(), "BEN0000600");
}

TEST_F(LanifsimDiscoveryTest, StopIsPromptIdempotentAndStartWorksAgain) {
    StartWith({Device("KPL0000001")});
    EXPECT_TRUE(sim.Running());

    auto before = std::chrono::steady_clock::now();
    sim.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 200ms);
    sim.Stop();
    EXPECT_FALSE(sim.Running());
    EXPECT_TRUE(client.Unanswered(To("KPL0000001", 'I')));

    Start();
    EXPECT_FALSE(client.Ask(To("KPL0000001", 'I')).empty());
}

TEST_F(LanifsimDiscoveryTest, TwoSimulatorsShareThePort) {
    Simulator other;
    other.AddDevice(Device("OTH0000001"));
    StartWith({Device("KPL0000001")});
    ASSERT_TRUE(other.Start()) << other.LastError();

    EXPECT_EQ(SerialsOf(client.Exchange(kSearchAll, 10, 300ms)),
              (std::set<std::string>{"KPL0000001", "OTH0000001"}));
}

} // namespace
} // namespace simtest
