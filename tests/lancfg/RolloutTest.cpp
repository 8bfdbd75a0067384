// Firmware rollouts a site can trust: expected versions, stops, canaries, retries, signals, a
// reader that went away, kill -9 and resume, the history. Against the simulator's fleet devices
// inside a private network namespace.
#include "FleetScenarios.h"
#include "LancfgProcess.h"
#include "LancfgRun.h"
#include "SimFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

using namespace simtest;
using lanifsim::FleetDevice;
using lanifsim::FleetSerial;

namespace {

const std::string kFirmware = VK_SOURCE_DIR "/tests/data/firmware/TwoRecords.hex";
constexpr int kRecords = 2;

// A state folder of the test's own, so that its history holds this test's runs alone.
std::string StateFolder() {
    char path[] = "/tmp/lancfg-rollout-state-XXXXXX";
    return mkdtemp(path);
}

// The results of a --json run by serial number.
std::map<std::string, QJsonObject> Results(const std::string& json) {
    std::map<std::string, QJsonObject> results;
    for (const QJsonValue& v : QJsonDocument::fromJson(QByteArray::fromStdString(json)).array())
        results[v.toObject()["serialNumber"].toString().toStdString()] = v.toObject();
    return results;
}

std::string Text(const QJsonObject& o, const char* name) {
    return o[name].toString().toStdString();
}

// How many B requests each device got.
std::map<std::string, int> Bootloaders(const lanifsim::Simulator& sim) {
    std::map<std::string, int> count;
    for (const auto& r : sim.Requests())
        if (r.command == 'B')
            ++count[r.serialField.substr(0, r.serialField.find('\0'))];
    return count;
}

class RolloutTest : public SimTest {
protected:
    LancfgEnvironment Environment() const {
        LancfgEnvironment e = kNoKeys;
        e["XDG_STATE_HOME"] = state_;
        return e;
    }
    LancfgRun Run(const std::vector<std::string>& words) {
        return RunTool(words, Environment());
    }
    std::string state_ = StateFolder();
};

TEST_F(RolloutTest, ExpectedVersionSkipsWhatIsCurrentAndTwoFailuresStopTheRest) {
    auto current = FleetDevice(1, kRecords);
    current.version = lanifsim::kFleetVersionAfter;
    auto refuses3 = FleetDevice(3, kRecords);
    refuses3.bootloaderCode = 0;
    auto refuses4 = FleetDevice(4, kRecords);
    refuses4.bootloaderCode = 0;
    StartWith({current, FleetDevice(2, kRecords), refuses3, refuses4, FleetDevice(5, kRecords)});
    LancfgRun r = Run({"fwupdate", "--all", "-f", kFirmware, "--yes", "--json", "-j", "1",
                       "--expect-version", "1.240", "--skip-current", "--max-failures", "2"});
    EXPECT_EQ(r.code, -3) << r.err; // 253: stopped by its own rule
    auto results = Results(r.out);
    ASSERT_EQ(results.size(), 5u) << r.out;
    EXPECT_EQ(Text(results[FleetSerial(1)], "result"), "current");
    EXPECT_EQ(Text(results[FleetSerial(2)], "result"), "updated");
    EXPECT_EQ(Text(results[FleetSerial(2)], "previousVersion"), "1.234");
    EXPECT_EQ(Text(results[FleetSerial(2)], "version"), "1.240");
    EXPECT_EQ(Text(results[FleetSerial(3)], "reason"), "refused to enter its bootloader");
    EXPECT_EQ(Text(results[FleetSerial(4)], "result"), "failed");
    EXPECT_EQ(Text(results[FleetSerial(5)], "result"), "skipped");
    EXPECT_EQ(Text(results[FleetSerial(5)], "reason"), "stopped after 2 failures");
    const auto b = Bootloaders(sim);
    EXPECT_EQ(b.count(FleetSerial(1)) + b.count(FleetSerial(5)), 0u); // current, skipped
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')),
              "5 devices: 1 updated, 1 current, 2 failed, 1 not started");

    // Every run is kept: the history tells what became of each device.
    r = Run({"history", FleetSerial(2)});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("KPL0000002  1.234 -> 1.240    updated, 1 attempt"), std::string::npos)
        << r.out;
    r = Run({"history", "--json"});
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).array().size(), 5);
}

TEST_F(RolloutTest, ACanaryThatPassesOnASecondTryOpensTheRestAndOneThatFailsStopsIt) {
    auto canary = FleetDevice(1, kRecords);
    canary.dropFirstReplyTo = "B"; // the first B is lost: no answer, which may pass again
    StartWith({canary, FleetDevice(2, kRecords), FleetDevice(3, kRecords)});
    LancfgRun r = Run({"fwupdate", "--all", "-f", kFirmware, "--yes", "--json", "--canary", "1",
                       "--retries", "1"});
    EXPECT_EQ(r.code, 0) << r.err;
    auto results = Results(r.out);
    EXPECT_EQ(results[FleetSerial(1)]["attempts"].toInt(), 2);
    for (int n = 1; n <= 3; ++n)
        EXPECT_EQ(Text(results[FleetSerial(n)], "result"), "updated") << n;

    sim.ClearRequests();
    sim.ModifyDevice(FleetSerial(1), [](lanifsim::SimDevice& d) { d.bootloaderCode = 0; });
    r = Run({"fwupdate", "--all", "-f", kFirmware, "--yes", "--json", "--canary", "1"});
    EXPECT_EQ(r.code, -3);
    results = Results(r.out);
    EXPECT_EQ(Text(results[FleetSerial(1)], "result"), "failed");
    EXPECT_EQ(Text(results[FleetSerial(2)], "reason"), "stopped: canary KPL0000001 was not updated");
    EXPECT_EQ(Bootloaders(sim).count(FleetSerial(2)), 0u);
}

TEST_F(RolloutTest, BackWithTheOldVersionIsAWarningAndBackInTheBootloaderAFailure) {
    auto same = FleetDevice(1, kRecords);
    same.versionAfterUpdate = 0; // comes back with the version it had
    auto stuck = FleetDevice(2, kRecords);
    stuck.bootloaderAfterUpdate = true;
    StartWith({same, stuck});
    LancfgRun r = Run({"fwupdate", FleetSerial(1), FleetSerial(2), "-f", kFirmware, "--yes"});
    EXPECT_EQ(r.code, -1);
    EXPECT_NE(r.out.find("KPL0000001 still runs version 1.234, as before the update\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Updating KPL0000002 failed: back in its bootloader (version 0.010)\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("was updated successfully"), std::string::npos) << r.out;
}

TEST_F(RolloutTest, AFirstSignalLetsStartedDevicesFinishASecondEndsAtOnceNamingThem) {
    std::vector<lanifsim::SimDevice> devices;
    for (int n = 1; n <= 8; ++n)
        devices.push_back(FleetDevice(n, kRecords));
    std::mutex mutex;
    std::set<std::string> entered;
    sim.SetRequestObserver([&](const lanifsim::RecordedRequest& r) {
        if (r.command == 'B') {
            std::lock_guard lock(mutex);
            entered.insert(r.serialField.substr(0, 10));
        }
    });
    StartWith(devices);
    auto waitFor = [&](size_t count) {
        for (int i = 0; i < 500; ++i) {
            {
                std::lock_guard lock(mutex);
                if (entered.size() >= count)
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    const std::vector<std::string> env = {"XDG_STATE_HOME=" + state_};
    {
        LancfgProcess run({"fwupdate", FleetSerial(1), FleetSerial(2), FleetSerial(3),
                           FleetSerial(4), "-f", kFirmware, "--yes", "--json", "-j", "2"},
                          env);
        ASSERT_TRUE(waitFor(2));
        run.Signal(SIGINT);
        const auto ended = run.Finish(std::chrono::seconds(30));
        EXPECT_EQ(ended.code, 255);
        EXPECT_NE(ended.err.find("Stopping: no further device starts; 2 devices already told to "
                                 "update finish first"),
                  std::string::npos)
            << ended.err;
        auto results = Results(ended.out);
        ASSERT_EQ(results.size(), 4u) << ended.out;
        EXPECT_EQ(Text(results[FleetSerial(1)], "result"), "updated");
        EXPECT_EQ(Text(results[FleetSerial(2)], "result"), "updated");
        EXPECT_EQ(Text(results[FleetSerial(4)], "reason"), "stopped by a signal");
        EXPECT_EQ(entered.count(FleetSerial(3)), 0u);
    }
    {
        LancfgProcess run({"fwupdate", FleetSerial(5), FleetSerial(6), "-f", kFirmware, "--yes"},
                          env);
        ASSERT_TRUE(waitFor(4));
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // in their bootloaders
        run.Signal(SIGTERM);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto second = std::chrono::steady_clock::now();
        run.Signal(SIGTERM);
        const auto ended = run.Finish(std::chrono::seconds(10));
        EXPECT_LT(std::chrono::steady_clock::now() - second, std::chrono::milliseconds(1500));
        EXPECT_EQ(ended.code, 255);
        for (int n : {5, 6})
            EXPECT_NE(ended.err.find(FleetSerial(n) + " is left in its bootloader; finish it "
                                                      "with: lancfg fwupdate " +
                                     FleetSerial(n) + " -f " + kFirmware),
                      std::string::npos)
                << ended.err;
    }
}

TEST_F(RolloutTest, AReaderThatWentAwayNeitherEndsNorStopsTheUpdate) {
    StartWith({FleetDevice(1, kRecords), FleetDevice(2, kRecords)});
    LancfgProcess run({"fwupdate", "--all", "-f", kFirmware, "--yes"},
                      {"XDG_STATE_HOME=" + state_});
    run.CloseOutput(); // lancfg fwupdate ... | head -n 0
    const auto ended = run.Finish(std::chrono::seconds(30));
    EXPECT_EQ(ended.code, 255); // not killed by SIGPIPE
    EXPECT_NE(ended.err.find("the output could not be written"), std::string::npos) << ended.err;
    for (int n : {1, 2}) {
        lanifsim::SimDevice d;
        ASSERT_TRUE(sim.GetDevice(FleetSerial(n), &d));
        EXPECT_EQ(d.version, lanifsim::kFleetVersionAfter) << n;
        EXPECT_FALSE(d.inBootloader) << n;
    }
}

TEST_F(RolloutTest, KilledAndResumedNoVerifiedDeviceGetsASecondB) {
    std::vector<lanifsim::SimDevice> devices;
    for (int n = 1; n <= 20; ++n)
        devices.push_back(FleetDevice(n, kRecords));
    StartWith(devices);
    const std::string journal = state_ + "/rollout.journal";
    auto verified = [&] {
        std::set<std::string> serials;
        std::ifstream in(journal);
        for (std::string line; std::getline(in, line);)
            // A device updated but not yet seen back when the run was killed comes back with
            // the version it already had when it is updated again: that ended well too.
            if (line.find("\"event\":\"ended\"") != std::string::npos &&
                (line.find("\"result\":\"updated\"") != std::string::npos ||
                 line.find("\"result\":\"sameVersion\"") != std::string::npos))
                serials.insert(line.substr(line.find("KPL"), 10));
        return serials;
    };
    {
        LancfgProcess run({"fwupdate", "--all", "-f", kFirmware, "--yes", "-j", "5", "--journal",
                           journal},
                          {"XDG_STATE_HOME=" + state_});
        for (int i = 0; i < 6000 && verified().size() < 6; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        run.Signal(SIGKILL);
        run.Finish(std::chrono::seconds(5));
    }
    const std::set<std::string> before = verified();
    ASSERT_GE(before.size(), 6u);
    ASSERT_LT(before.size(), 20u);
    const auto bBefore = Bootloaders(sim);

    LancfgRun r = Run({"fwupdate", "--resume", journal, "-f", kFirmware, "--yes", "--json"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Results(r.out).size(), 20 - before.size());
    const auto bAfter = Bootloaders(sim);
    for (int n = 1; n <= 20; ++n) {
        const std::string s = FleetSerial(n);
        if (before.count(s))
            EXPECT_EQ(bAfter.at(s), bBefore.at(s)) << s << " was verified before the kill";
        else
            EXPECT_GT(bAfter.at(s), bBefore.count(s) ? bBefore.at(s) : 0) << s;
    }
    EXPECT_EQ(verified().size(), 20u);
}

} // namespace
