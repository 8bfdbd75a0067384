// Firmware update through the bootloader, against the simulator. The tests that wait through the
// bootloader's waiting step (about 5 s each) carry "Waits" in their names.
#include "LanInterface.h"
#include "SimFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace simtest;

namespace {

const std::string kData = VK_SOURCE_DIR "/tests/data/firmware/";

struct RecordingObserver : ProgressObserver {
    std::vector<std::pair<int, std::string>> calls;
    void OnProgress(int percent, const std::string& text) override {
        calls.emplace_back(percent, text);
    }
    int Count(const std::string& text) const {
        int n = 0;
        for (const auto& c : calls)
            n += c.second == text;
        return n;
    }
};

const char* kWaiting = "Waiting for device to enter bootloader";
const char* kPerforming = "Performing update";

class FirmwareUpdate : public SimTest {
protected:
    LanResult Update(const std::string& serial, const std::string& file,
                     const std::string& key = "") {
        device = LanInterface();
        EXPECT_TRUE(device.FindBySerial(serial));
        if (!key.empty())
            device.SetCryptKey(key);
        sim.ClearRequests();
        return device.UpdateFirmware(kData + file, observer);
    }
    std::vector<std::string> Blocks(const std::string& serial) {
        return sim.ReceivedBlocks(serial);
    }

    LanInterface device;
    RecordingObserver observer;
};

TEST_F(FirmwareUpdate, BadFilesAreRefusedBeforeTheDeviceIsTouched) {
    StartWith({PlainDevice()});
    for (const char* file : {"NoSuchFile.hex", "BrokenEmpty.hex", "BrokenTruncatedRecord.hex",
                             "BrokenNonHexDigit.hex", "BrokenRecordTooLong.hex"}) {
        EXPECT_EQ(Update(kPlainSerial, file), ResultFailed) << file;
        EXPECT_EQ(Commands(), "") << file;
        EXPECT_TRUE(observer.calls.empty()) << file;
    }
    lanifsim::SimDevice after;
    ASSERT_TRUE(sim.GetDevice(kPlainSerial, &after));
    EXPECT_FALSE(after.inBootloader);
}

TEST_F(FirmwareUpdate, ADeviceInItsBootloaderTakesBlocksWithoutCounterBeforeVersion10) {
    auto d = BootloaderDevice();
    d.bootloaderVersion = 9;
    StartWith({d});
    ASSERT_EQ(Update(kBootSerial, "TwoRecords.hex"), ResultOk);
    EXPECT_EQ(Commands(), "BUWW"); // no waiting: the bootloader already runs
    auto requests = sim.Requests();
    EXPECT_EQ(requests[2].payload, std::string("\x00\x03\xA1\xB2\xC3", 5));
    EXPECT_EQ(requests[3].payload, std::string("\x00\x02\xD4\xE5", 4));
    EXPECT_EQ(device.blockCounter, 2);
    EXPECT_EQ(device.state, StateMaintenance);
    auto blocks = Blocks(kBootSerial);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0], std::string("\xA1\xB2\xC3", 3));

    // Progress: the share of the file read before each block, and 100 once the last record
    // ended exactly at the end of the file (the trailing newline does not count).
    std::vector<std::pair<int, std::string>> expected = {
        {0, kPerforming}, {55, kPerforming}, {100, kPerforming}};
    EXPECT_EQ(observer.calls, expected);
}

TEST_F(FirmwareUpdate, CountersFromVersion10AndAnEmptyRecord) {
    StartWith({BootloaderDevice()});
    ASSERT_EQ(Update(kBootSerial, "TwoRecords.hex"), ResultOk);
    auto requests = sim.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[2].payload, std::string("\x00\x00\x00\x03\xA1\xB2\xC3", 7));
    EXPECT_EQ(requests[3].payload, std::string("\x00\x01\x00\x02\xD4\xE5", 6));

    ASSERT_EQ(Update(kBootSerial, "EmptyRecord.hex"), ResultOk);
    requests = sim.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].payload, std::string(4, '\0')); // counter 0, length 0
}

TEST_F(FirmwareUpdate, ARefusedBlockEndsTheUpdateAndIsNotSentAgain) {
    auto d = BootloaderDevice();
    d.refuseBlock = 0;
    StartWith({d});
    EXPECT_EQ(Update(kBootSerial, "TwoRecords.hex"), ResultFailed);
    EXPECT_EQ(Commands(), "BUW");
}

TEST_F(FirmwareUpdate, AnUnansweredBlockIsSentOnceMore) {
    auto d = BootloaderDevice();
    d.dropFirstReplyTo = "W";
    StartWith({d});
    ASSERT_EQ(Update(kBootSerial, "TwoRecords.hex"), ResultOk);
    EXPECT_EQ(Commands(), "BUWWW");
    auto requests = sim.Requests();
    EXPECT_EQ(requests[2].bytes, requests[3].bytes); // the same block, same counter
    EXPECT_EQ(device.blockCounter, 2);
}

TEST_F(FirmwareUpdate, TheLastBlockAnsweredWithRestartLeavesTheDeviceBooting) {
    auto d = BootloaderDevice();
    d.restartAfterBlock = 1;
    auto early = BootloaderDevice();
    early.serial = "KPL0000033";
    early.restartAfterBlock = 0; // 2 before the end: the next record is sent all the same
    auto mute = BootloaderDevice();
    mute.serial = "KPL0000034";
    mute.dropFirstReplyTo = "U";
    StartWith({d, early, mute});
    ASSERT_EQ(Update(kBootSerial, "TwoRecords.hex"), ResultOk);
    EXPECT_EQ(device.state, StateBooting);

    Update("KPL0000033", "TwoRecords.hex");
    EXPECT_EQ(Commands().substr(0, 4), "BUWW");

    std::string failure;
    device = LanInterface();
    ASSERT_TRUE(device.FindBySerial("KPL0000034"));
    sim.ClearRequests();
    EXPECT_EQ(device.UpdateFirmwareDigits("0000", observer, &failure), ResultFailed);
    EXPECT_EQ(failure, "no answer to U");
    EXPECT_EQ(Commands(), "BU");
}

TEST_F(FirmwareUpdate, KeyErrorFromTheBootloaderRequest) {
    StartWith({CryptDevice()});
    EXPECT_EQ(Update(kCryptSerial, "TwoRecords.hex"), ResultKeyError);
    EXPECT_EQ(Commands(), "B");
    EXPECT_EQ(Update(kCryptSerial, "TwoRecords.hex", kWrongKeyText), ResultKeyError);
    EXPECT_EQ(Commands(), "B*");
}

TEST_F(FirmwareUpdate, WaitsForTheRestartIntoTheBootloaderThenUpdates) {
    auto d = CryptDevice();
    d.restartSilenceMs = 1000;
    StartWith({d});
    ASSERT_EQ(Update(kCryptSerial, "TwoRecords.hex", kKeyText), ResultOk);
    EXPECT_EQ(Commands(), "B*INUWW");
    auto requests = sim.Requests();
    ASSERT_TRUE(requests[1].decrypted);
    EXPECT_EQ(requests[1].innerCommand, 'B');
    EXPECT_EQ(requests[1].payload.size(), 32u);
    EXPECT_EQ(observer.Count(kWaiting), 50);
    EXPECT_EQ(observer.calls.front(), std::make_pair(0, std::string(kWaiting)));
    EXPECT_EQ(observer.calls.back(), std::make_pair(100, std::string(kPerforming)));
    EXPECT_EQ(device.version, "0.010");
    EXPECT_EQ(Blocks(kCryptSerial).size(), 2u);
}

TEST_F(FirmwareUpdate, WaitsAndFailsWhenTheDeviceRestartsIntoItsApplication) {
    auto d = PlainDevice();
    d.restartIntoApplication = true;
    StartWith({d});
    EXPECT_EQ(Update(kPlainSerial, "TwoRecords.hex"), ResultFailed);
    EXPECT_EQ(Commands(), "BIN");
    EXPECT_EQ(device.state, StateRun);
}

} // namespace
