// Firmware updates of many devices with one command, run in-process against the simulator's
// fleet scenarios inside a private network namespace.
#include "FleetProgress.h"
#include "FleetScenarios.h"
#include "LancfgRun.h"
#include "SimFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

using namespace simtest;
using lanifsim::FleetSerial;

namespace {

const std::string kFirmware = VK_SOURCE_DIR "/tests/data/firmware/TwoRecords.hex";
constexpr int kRecords = 2;

using Outcome = LancfgRun;

Outcome Lancfg(std::vector<std::string> words) { return RunTool(std::move(words)); }

// The datagrams addressed to one serial number, in order, with that serial number put in place
// of a reference device's, so that two devices' exchanges compare byte for byte.
std::vector<std::string> DatagramsTo(const lanifsim::Simulator& sim, const std::string& serial,
                                     const std::string& as = std::string()) {
    const std::string field = (serial + std::string(10, '\0')).substr(0, 10);
    std::vector<std::string> bytes;
    for (const auto& r : sim.Requests()) {
        if (r.serialField != field)
            continue;
        bytes.push_back(r.bytes);
        if (!as.empty())
            bytes.back().replace(8, 10, (as + std::string(10, '\0')).substr(0, 10));
    }
    return bytes;
}

std::string Letters(const std::vector<std::string>& datagrams) {
    std::string letters;
    for (const auto& d : datagrams)
        letters += d[18];
    return letters;
}

// The reference: the exchanges of one device updated alone, up to its last block.
std::vector<std::string> SingleUpdate(const lanifsim::SimDevice& device) {
    lanifsim::Simulator alone;
    alone.AddDevice(device);
    EXPECT_TRUE(alone.Start());
    EXPECT_EQ(Lancfg({"fwupdate", device.serial, "-f", kFirmware}).code, 0);
    alone.Stop();
    return DatagramsTo(alone, device.serial);
}

class FleetUpdateTest : public SimTest {};

TEST_F(FleetUpdateTest, SevenDevicesAtOnceOneRefusesABlock) {
    const std::vector<std::string> reference = SingleUpdate(lanifsim::FleetDevice(1, kRecords));
    ASSERT_EQ(Letters(reference), "IBINUWW");

    std::vector<lanifsim::SimDevice> devices;
    std::vector<std::string> words = {"fwupdate"};
    for (int n = 1; n <= 7; ++n) {
        devices.push_back(n == 7 ? lanifsim::FleetDeviceRefusingBlock(n, kRecords, 1)
                                 : lanifsim::FleetDevice(n, kRecords));
        words.push_back(FleetSerial(n));
    }
    words.insert(words.end(), {"-f", kFirmware});
    StartWith(devices);
    // Several devices are updated only when a person says yes, or the command line does.
    Outcome r = Lancfg(words);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("give --yes"), std::string::npos) << r.err;
    EXPECT_EQ(Commands(), "");
    words.push_back("--yes");
    r = Lancfg(words);

    EXPECT_EQ(r.code, -1);
    for (int n = 1; n <= 6; ++n) {
        const std::string s = FleetSerial(n);
        EXPECT_NE(r.out.find(s + " was updated successfully and runs version 1.240\n"),
                  std::string::npos)
            << r.out;
        // The update's exchanges are those of a device updated alone; then only identification.
        std::vector<std::string> got = DatagramsTo(sim, s, FleetSerial(1));
        ASSERT_GT(got.size(), reference.size());
        EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + reference.size()), reference);
        EXPECT_EQ(Letters(got).substr(reference.size()),
                  std::string(got.size() - reference.size(), 'I'));
    }
    // One line per device stating its outcome, the reason once; then the summary and the hint.
    EXPECT_NE(r.out.find("Updating KPL0000007 failed: refused block 2\n"), std::string::npos);
    EXPECT_EQ(Letters(DatagramsTo(sim, FleetSerial(7))), "IBINUWW"); // one B, no block again
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("7 devices: 6 updated, 1 failed\nNeeds attention:\n  KPL0000007: "
                         "power-cycle it when it does not answer, then run: lancfg fwupdate "
                         "KPL0000007 -f " +
                         kFirmware + "\n"),
              std::string::npos)
        << r.out;
    // Not a terminal: result lines only.
    EXPECT_EQ(r.out.find_first_of("\r\x1b"), std::string::npos);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 10);
}

TEST_F(FleetUpdateTest, AllInListOrderWithADeviceThatNeverComesBack) {
    // Added out of order: the search's order is the simulator's, whatever the numbers say.
    StartWith({lanifsim::FleetDevice(3, kRecords), lanifsim::FleetDeviceNeverBack(4, kRecords),
               lanifsim::FleetDeviceInBootloader(1, kRecords), lanifsim::FleetDevice(2, kRecords)});
    std::vector<std::string> listed;
    std::istringstream list(Lancfg({"list"}).out);
    for (std::string line; std::getline(list, line);)
        listed.push_back(line.substr(0, 10));
    ASSERT_EQ(listed.size(), 4u);

    using Clock = std::chrono::steady_clock;
    std::mutex mutex;
    Clock::time_point lastBlock;
    sim.SetRequestObserver([&](const lanifsim::RecordedRequest& request) {
        if (request.command == 'W' && request.serialField.substr(0, 10) == FleetSerial(4)) {
            std::lock_guard lock(mutex);
            lastBlock = Clock::now();
        }
    });
    Outcome r = Lancfg({"fwupdate", "--all", "-f", kFirmware, "--json", "--yes"});
    const double waited = std::chrono::duration<double>(Clock::now() - lastBlock).count();

    EXPECT_EQ(r.code, -1);
    EXPECT_GE(waited, 30.0);
    EXPECT_LE(waited, 45.0);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), "4 devices: 3 updated, 1 failed\n");
    const QJsonArray array = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).array();
    ASSERT_EQ(array.size(), 4);
    for (int i = 0; i < 4; ++i) {
        const QJsonObject o = array[i].toObject();
        EXPECT_EQ(o["serialNumber"].toString().toStdString(), listed[i]);
        EXPECT_EQ(o["attempts"].toInt(), 1);
        if (listed[i] == FleetSerial(4)) {
            EXPECT_EQ(o["result"].toString(), "failed");
            EXPECT_EQ(o["reason"].toString(), "did not come back after the update");
            EXPECT_FALSE(o.contains("version"));
            EXPECT_GE(o["durationS"].toDouble(), 30.0);
        } else {
            EXPECT_EQ(o["result"].toString(), "updated");
            EXPECT_EQ(o["version"].toString(), "1.240");
            EXPECT_FALSE(o.contains("reason"));
        }
    }
}

TEST_F(FleetUpdateTest, OneDeviceWithAndWithoutConfirm) {
    StartWith({lanifsim::FleetDevice(1, kRecords)});
    std::string waiting;
    for (int i = 0; i < 50; ++i)
        waiting += "\r[Waiting for device to enter bootloader          ]:   0% done";
    const std::string bar = "\r[Performing update                               ]: ";
    const std::string update = waiting + bar + "  0% done" + bar + " 55% done" + bar + "100% done";

    // With --confirm first: it ends once the device is back, ready for the next update.
    Outcome r = Lancfg({"fwupdate", FleetSerial(1), "-f", kFirmware, "--confirm"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, update + "\r[Waiting for device to restart                   ]: 100% done" +
                         "\nKPL0000001 was updated successfully\nKPL0000001 runs version 1.240\n");
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> confirmed = DatagramsTo(sim, FleetSerial(1));

    sim.ClearRequests();
    r = Lancfg({"fwupdate", FleetSerial(1), "-f", kFirmware});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, update + "\nKPL0000001 was updated successfully\n");
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> plain = DatagramsTo(sim, FleetSerial(1));
    EXPECT_EQ(Letters(plain), "IBINUWW");

    // The confirmation only adds identification requests after the update's own.
    ASSERT_GT(confirmed.size(), plain.size());
    EXPECT_EQ(std::vector<std::string>(confirmed.begin(), confirmed.begin() + plain.size()), plain);
    EXPECT_EQ(Letters(confirmed).substr(plain.size()),
              std::string(confirmed.size() - plain.size(), 'I'));
}

TEST_F(FleetUpdateTest, ABadFileEndsTheRunBeforeAnyDeviceHearsOfIt) {
    StartWith({lanifsim::FleetDevice(1, kRecords), lanifsim::FleetDevice(2, kRecords)});
    const std::string file = VK_SOURCE_DIR "/tests/data/firmware/BrokenTruncatedRecord.hex";
    Outcome r = Lancfg({"fwupdate", FleetSerial(1), FleetSerial(2), "-f", file, "--yes"});
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Firmware file " + file + ": record at byte 11 cut short\n");
    EXPECT_EQ(Commands(), "");
}

// On a terminal: a row per running device and a total line, redrawn in place below the result
// lines, and erased at the end.
TEST(FleetProgress, RedrawsTheRunningDevicesBelowTheResults) {
    std::ostringstream out, err;
    {
        FleetProgress progress(out, err, true, {"KPL0000001", "KPL0000002"});
        progress.Begin(0, "Starting");
        progress.Observer(0).OnProgress(55, "Performing update");
        progress.End(0, "KPL0000001 was updated successfully\n", "", false);
        progress.Close();
    }
    EXPECT_EQ(out.str(), "KPL0000001  Starting                                   0%\n"
                         "0 of 2 devices done, 0 failed, 1 running\n"
                         "\x1b[2A\x1b[J"
                         "KPL0000001  Performing update                         55%\n"
                         "0 of 2 devices done, 0 failed, 1 running\n"
                         "\x1b[2A\x1b[J"
                         "KPL0000001 was updated successfully\n"
                         "1 of 2 devices done, 0 failed, 0 running\n"
                         "\x1b[1A\x1b[J");
}

} // namespace
