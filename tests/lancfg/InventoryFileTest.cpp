// The files the console tool replaces whole: a reader never sees a part of one, the inventory
// reads what it wrote and what a person edited, and two runs that remember devices at once keep
// each other's entries.
#include "AtomicFile.h"
#include "Inventory.h"
#include "InventoryFile.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct TempFolder {
    TempFolder() {
        char dir[] = "/tmp/inventoryfileXXXXXX";
        path = mkdtemp(dir) ? dir : "";
    }
    ~TempFolder() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string path;
};

// Version n of an exported file: its number in every line, and an end line that a reader
// checks for; each one is longer than the one before, so a mix of two shows.
std::string Version(int n) {
    std::string text;
    for (int line = 0; line < 200 + 40 * n; ++line)
        text += "lanif_device_up{serial=\"KPL" + std::to_string(line) + "\"} " +
                std::to_string(n) + "\n";
    return text + "# end " + std::to_string(n) + "\n";
}

TEST(AtomicFile, AReaderPollingDuringFiftyRewritesSeesOnlyWholeFiles) {
    const TempFolder folder;
    const std::string path = folder.path + "/lanif.prom";
    std::string error;
    ASSERT_TRUE(AtomicFile::Write(path, Version(0), AtomicFile::WithUmask, &error)) << error;
    std::atomic<bool> done{false};
    int reads = 0, partial = 0;
    std::thread reader([&] {
        while (!done) {
            std::ifstream in(path, std::ios::binary);
            std::ostringstream text;
            text << in.rdbuf();
            const std::string got = text.str();
            const size_t end = got.rfind("# end ");
            const int n = end == std::string::npos ? -1 : std::atoi(got.c_str() + end + 6);
            partial += n < 0 || got != Version(n);
            ++reads;
        }
    });
    for (int n = 1; n <= 50; ++n)
        ASSERT_TRUE(AtomicFile::Write(path, Version(n), AtomicFile::WithUmask, &error)) << error;
    done = true;
    reader.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(partial, 0);
    // Nothing is left beside it.
    EXPECT_EQ(std::system(("test $(ls -A '" + folder.path + "' | wc -l) -eq 1").c_str()), 0);
}

TEST(InventoryFile, ReadsWhatItWroteAndAFileEditedByHandButRefusesAnEntryWithoutItsTimes) {
    InventoryEntry e;
    e.serialNumber = "KPL\"0001";
    e.address = "192.168.1.52";
    e.network = "eth1";
    e.version = "1.240";
    e.state = "Run";
    e.firstSeen = 1767600000;
    e.lastSeen = 1767603723;
    std::vector<InventoryEntry> read;
    std::string why;
    ASSERT_TRUE(InventoryFile::Parse(InventoryFile::Text({e, e}), &read, &why)) << why;
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[1].serialNumber, e.serialNumber);
    EXPECT_EQ(read[1].lastSeen, e.lastSeen);
    EXPECT_EQ(IsoTime(e.lastSeen), "2026-01-05T09:02:03Z");

    read.clear();
    const std::string edited = R"({ "note": [1, {"x": 2}],
      "devices": [ { "lastSeen": "2026-01-05T09:02:03Z", "serialNumber": "KPL0000001",
                     "address": "10.0.0.5", "network": "", "version": "1.234", "state": "Run",
                     "comment": {"by": "hand"}, "firstSeen": "2024-02-29T00:00:00Z" } ] })";
    ASSERT_TRUE(InventoryFile::Parse(edited, &read, &why)) << why;
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].address, "10.0.0.5");
    EXPECT_EQ(IsoTime(read[0].firstSeen), "2024-02-29T00:00:00Z");

    EXPECT_FALSE(InventoryFile::Parse(R"({"devices": [{"serialNumber": "KPL0000001"}]})", &read,
                                      &why));
    EXPECT_EQ(why, "entry 1 is not a device");
    EXPECT_TRUE(read.empty());
}

TEST(Inventory, TwoRunsRememberingAtOnceKeepEachOthersDevices) {
    const TempFolder folder;
    const std::string path = folder.path + "/velantrix-konfigurator/inventory.json";
    constexpr int Runs = 2, Searches = 40;
    std::vector<pid_t> children;
    for (int run = 0; run < Runs; ++run) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int search = 0; search < Searches; ++search) {
                InventoryEntry e;
                e.serialNumber = "R" + std::to_string(run) + "S" + std::to_string(search);
                e.address = "127.0.0.1";
                e.version = "1.234";
                e.state = "Run";
                e.firstSeen = e.lastSeen = 1767600000 + search;
                std::string notice;
                if (!Inventory(path).Record({e}, &notice))
                    _exit(1);
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::string notice;
    EXPECT_EQ(Inventory(path).Load(&notice).size(), static_cast<size_t>(Runs * Searches));
    EXPECT_EQ(notice, "");
}

} // namespace
