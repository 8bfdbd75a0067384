// Never the wrong device, never a failure called success: the console tool against simulated
// sites inside a private network namespace.
#include "LancfgProcess.h"
#include "LancfgRun.h"
#include "SimFixture.h"
#include "SimNetwork.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace simtest;

namespace {

std::string WritePlan(const std::string& text) {
    char path[] = "/tmp/lancfg-trust-plan-XXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    std::ofstream(path) << text;
    return path;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

bool Sent(const lanifsim::Simulator& sim, char command) {
    for (const auto& r : sim.Requests())
        if (r.command == command)
            return true;
    return false;
}

class TrustTest : public SimTest {};

class TwoNetworks : public SimTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(first.Start({PlainDevice()})) << first.LastError();
        ASSERT_TRUE(second.Start({PlainDevice()})) << second.LastError();
    }
    lanifsim::SimNetwork first{1};
    lanifsim::SimNetwork second{2};
};

TEST_F(TwoNetworks, OneSerialAnsweringFromTwoAddressesIsRefusedUntilAddressPicksOne) {
    // Named in the order of their addresses.
    const std::string places = first.DeviceAddress() + " (" + first.LinkName() + ") and " +
                               second.DeviceAddress() + " (" + second.LinkName() + ")";
    const std::string refusal = "Error: KPL0000001 answered from " + places +
                                ": more than one device has this serial number, and nothing was "
                                "sent to any; give -a ADDRESS to pick one.\n";
    LancfgRun r = RunTool({"show", kPlainSerial});
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.err, refusal);
    r = RunTool({"set", kPlainSerial, "-i", "10.9.9.9"});
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.err, refusal);
    const std::string plan = WritePlan(R"([{"serialNumber":"KPL0000001","ip":"10.9.9.9"}])");
    r = RunTool({"apply", plan, "--dry-run"});
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.err, refusal);
    std::remove(plan.c_str());
    EXPECT_FALSE(Sent(first.Sim(), 'C') || Sent(second.Sim(), 'C'));
    EXPECT_FALSE(Sent(first.Sim(), 'N') || Sent(second.Sim(), 'N'));

    // -a picks one; the list keeps both, and its JSON says which device each line is.
    r = RunTool({"set", kPlainSerial, "-i", "10.9.9.9", "-a", second.DeviceAddress()});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_FALSE(Sent(first.Sim(), 'C'));
    r = RunTool({"list", "--json"});
    EXPECT_EQ(Count(r.out, "\"address\":\"" + first.DeviceAddress() + "\",\"network\":\"" +
                               first.LinkName() + "\""),
              1u)
        << r.out;
    EXPECT_EQ(Count(r.out, "\"address\":\"" + second.DeviceAddress() + "\""), 1u) << r.out;
}

TEST_F(TrustTest, ARangeReachesOnlyTheDeviceNamed) {
    // A host that answers every request as itself, whatever serial number it names.
    auto impostor = PlainDevice("LXZ0000001");
    impostor.impostor = true;
    StartWith({impostor});
    LancfgRun r = RunTool({"show", "LXZ0000009", "-a", "127.0.0.0/30"});
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.out.rfind("Error: Lan Interface LXZ0000009 not found on LAN.\n", 0), 0u);
    r = RunTool({"set", "LXZ0000009", "-a", "127.0.0.0/30", "-i", "10.9.9.9"});
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(Commands().find_first_of("NcC"), std::string::npos) << Commands();
}

TEST_F(TrustTest, AWriteTheDeviceDidNotKeepIsAFailure) {
    auto stubborn = PlainDevice();
    stubborn.keepsOldConfig = true; // answers C with 1, keeps its old values
    auto locked = CryptDevice();
    locked.challengeReads = true;
    StartWith({stubborn, locked});
    LancfgRun r = RunTool({"set", kPlainSerial, "-i", "10.9.9.9"});
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.out, "KPL0000001 did not keep the new configuration\n");
    const std::string plan = WritePlan(R"([{"serialNumber":"KPL0000001","ip":"10.9.9.9"}])");
    r = RunTool({"apply", plan, "--json"});
    EXPECT_EQ(r.code, -1);
    EXPECT_NE(r.out.find(R"("result":"failed")"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(R"("reason":"did not keep the new configuration")"), std::string::npos);
    std::remove(plan.c_str());
    // The reads of a device that wants its key take LANCFG_KEY too.
    LancfgEnvironment withKey = kNoKeys;
    withKey["LANCFG_KEY"] = kKeyText;
    r = RunTool({"show", kCryptSerial}, withKey);
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out.substr(0, 37), "KPL0000002 configuration parameters:\n");
}

TEST_F(TrustTest, TheReplyLimitIsSaidAndTheCommandsForAWholeSiteReadPastIt) {
    std::vector<lanifsim::SimDevice> site;
    for (int i = 0; i < 1100; ++i) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "SITE%06d", i);
        site.push_back(PlainDevice(serial));
    }
    StartWith(site);
    LancfgRun r = RunTool({"list"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(Count(r.out, "\n"), 1000u);
    EXPECT_EQ(r.err.rfind("The search stopped at 1000 answers;", 0), 0u) << r.err;
    r = RunTool({"show", "--all", "--json"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Count(r.out, "\"serialNumber\""), 1100u);
    EXPECT_EQ(r.err, "");
}

TEST_F(TrustTest, OutputThatCannotBeWrittenFailsTheCommand) {
    StartWith({PlainDevice()});
    const std::string plan = WritePlan(R"([{"serialNumber":"KPL0000001"}])");
    for (const std::vector<std::string>& words : std::vector<std::vector<std::string>>{
             {"list"}, {"show", kPlainSerial, "--json"}, {"apply", plan}}) {
        LancfgProcess full(words, {}, "/dev/full");
        ASSERT_TRUE(full.Started());
        const LancfgProcess::Ended ended = full.Finish(std::chrono::seconds(10));
        EXPECT_EQ(ended.code, 255) << words[0];
        EXPECT_NE(ended.err.find("the output could not be written"), std::string::npos)
            << ended.err;
    }
    std::remove(plan.c_str());
}

} // namespace
