// The devices remembered between runs, against the simulator: a device that falls silent stays
// listed as offline, a damaged inventory is set aside, and the exports parse as CSV and as the
// Prometheus text format.
#include "Inventory.h"
#include "LancfgRun.h"
#include "SimFixture.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <ctime>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace simtest;

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

unsigned ModeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 0777) : 0;
}

class InventoryTest : public SimTest {
protected:
    void SetUp() override {
        char dir[] = "/tmp/inventorytestXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        folder = dir;
        environment = {{"XDG_CONFIG_HOME", "/nonexistent/lancfg-test"}, {"XDG_STATE_HOME", folder}};
        inventory = folder + "/velantrix-konfigurator/inventory.json";
    }
    void TearDown() override {
        SimTest::TearDown();
        std::system(("rm -rf '" + folder + "'").c_str());
    }
    LancfgRun Run(const std::vector<std::string>& words) { return RunTool(words, environment); }

    std::string folder, inventory;
    LancfgEnvironment environment;
};

// The time a line holds after "last seen ", within [from, to].
::testing::AssertionResult SeenBetween(const std::string& text, int64_t from, int64_t to) {
    int64_t seen = 0;
    if (!ParseIsoTime(text, &seen))
        return ::testing::AssertionFailure() << text << " is no ISO 8601 time";
    if (seen < from || seen > to)
        return ::testing::AssertionFailure() << text << " is not the time of the first search";
    return ::testing::AssertionSuccess();
}

TEST_F(InventoryTest, ADeviceThatFallsSilentIsListedOfflineWithItsLastSeenTimeUntilForgotten) {
    StartWith({PlainDevice(), PlainDevice(kCryptSerial)});
    const int64_t before = std::time(nullptr);
    ASSERT_EQ(Run({"list"}).code, 0);
    const int64_t after = std::time(nullptr);
    EXPECT_EQ(ModeOf(inventory), 0600u);
    EXPECT_EQ(ModeOf(folder + "/velantrix-konfigurator"), 0700u);

    sim.ModifyDevice(kCryptSerial, [](lanifsim::SimDevice& d) { d.silent = true; });
    // --no-inventory asks the devices and leaves the file as it is.
    const std::string kept = ReadText(inventory);
    ASSERT_EQ(Run({"list", "--no-inventory"}).code, 0);
    EXPECT_EQ(ReadText(inventory), kept);

    const std::string running =
        "KPL0000001  1.234 Run 192.168.1.50/255.255.255.0 GW=192.168.1.1 STAT PLAIN\n";
    LancfgRun r = Run({"list", "--known"});
    EXPECT_EQ(r.code, 0);
    const std::string offline = "KPL0000002  1.234 offline last seen ";
    ASSERT_EQ(r.out.substr(0, running.size() + offline.size()), running + offline) << r.out;
    EXPECT_TRUE(SeenBetween(r.out.substr(running.size() + offline.size(), 20), before, after));
    EXPECT_EQ(r.out.substr(running.size() + offline.size() + 20), " at 127.0.0.1 (lo)\n");

    r = Run({"list", "--known", "--json"});
    const nlohmann::json list = nlohmann::json::parse(r.out);
    ASSERT_EQ(list.size(), 2u) << r.out;
    EXPECT_EQ(list[0]["online"], true);
    EXPECT_EQ(list[0]["state"], "Run");
    EXPECT_EQ(list[1]["serialNumber"], kCryptSerial);
    EXPECT_EQ(list[1]["online"], false);
    EXPECT_EQ(list[1]["state"], "offline");
    EXPECT_EQ(list[1]["version"], "1.234");
    EXPECT_EQ(list[1]["address"], "127.0.0.1");
    EXPECT_TRUE(SeenBetween(list[1]["lastSeen"], before, after));
    EXPECT_EQ(list[1]["firstSeen"], list[1]["lastSeen"]);

    r = Run({"forget", kCryptSerial});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, kCryptSerial + " is no longer remembered\n");
    EXPECT_EQ(Run({"list", "--known"}).out, running);
    EXPECT_EQ(Run({"forget", kCryptSerial}).code, -1);
}

TEST_F(InventoryTest, ADamagedInventoryIsSetAsideWithAWarningAndANewOneBegun) {
    StartWith({PlainDevice()});
    mkdir((folder + "/velantrix-konfigurator").c_str(), 0700);
    std::ofstream(inventory) << "{\"devices\": [{\"serialNumber\":";
    const LancfgRun r = Run({"list"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "KPL0000001  1.234 Run 192.168.1.50/255.255.255.0 GW=192.168.1.1 STAT PLAIN\n");
    const std::string warning = "Warning: the inventory " + inventory +
                                " could not be read (it is not JSON); it was set aside as " +
                                inventory + ".damaged-";
    ASSERT_EQ(r.err.substr(0, warning.size()), warning) << r.err;
    std::vector<std::string> aside;
    for (const auto& entry : std::filesystem::directory_iterator(folder + "/velantrix-konfigurator"))
        if (entry.path().filename().string().rfind("inventory.json.damaged-", 0) == 0)
            aside.push_back(entry.path().string());
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_NE(r.err.find(aside[0] + " and a new one begun\n"), std::string::npos) << r.err;
    EXPECT_EQ(ReadText(aside[0]), "{\"devices\": [{\"serialNumber\":");
    std::string notice;
    const std::vector<InventoryEntry> entries = Inventory(inventory).Load(&notice);
    EXPECT_EQ(notice, "");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].serialNumber, kPlainSerial);
}

// RFC 4180: records end with CR LF; a quoted field may hold commas, CR LF and doubled quotes.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text, std::string* error) {
    std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
    size_t i = 0;
    while (i < text.size()) {
        std::string& field = records.back().back();
        if (text[i] == '"' && field.empty()) {
            for (++i;; ++i) {
                if (i >= text.size()) {
                    *error = "a quoted field does not end";
                    return {};
                }
                if (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else if (text[i] == '"') {
                    ++i;
                    break;
                } else {
                    field += text[i];
                }
            }
            if (i < text.size() && text[i] != ',' && text[i] != '\r') {
                *error = "text after a quoted field";
                return {};
            }
            continue;
        }
        if (text[i] == ',') {
            records.back().emplace_back();
            ++i;
        } else if (text.compare(i, 2, "\r\n") == 0) {
            i += 2;
            if (i < text.size())
                records.emplace_back(1);
        } else if (text[i] == '"' || text[i] == '\r' || text[i] == '\n') {
            *error = "a quote or a line break in an unquoted field at byte " + std::to_string(i);
            return {};
        } else {
            field += text[i++];
        }
    }
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)
        *error = "the last record does not end with CR LF";
    return records;
}

// The Prometheus text format: HELP and TYPE once per family and before its samples, a
// family's samples together, label values with only \\, \" and \n escaped, no series twice.
// Returns the samples as "name{labels}" -> value.
std::map<std::string, double> ParsePrometheus(const std::string& text, std::string* error) {
    const std::regex help(R"(# HELP ([a-zA-Z_:][a-zA-Z0-9_:]*) .+)");
    const std::regex type(R"(# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (gauge|counter|untyped))");
    const std::regex sample(
        R"re(([a-zA-Z_:][a-zA-Z0-9_:]*)\{((?:[a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\\n]|\\[\\"n])*",?)*)\} (-?[0-9.e+]+))re");
    std::map<std::string, double> samples;
    std::set<std::string> typed, helped, closed;
    std::string current;
    std::istringstream lines(text);
    std::smatch m;
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_match(line, m, help)) {
            if (!helped.insert(m[1]).second)
                *error = "HELP twice for " + m[1].str();
        } else if (std::regex_match(line, m, type)) {
            if (!typed.insert(m[1]).second)
                *error = "TYPE twice for " + m[1].str();
        } else if (std::regex_match(line, m, sample)) {
            const std::string name = m[1];
            if (!typed.count(name))
                *error = "a sample of " + name + " before its TYPE";
            if (name != current) {
                if (closed.count(name))
                    *error = "the samples of " + name + " are not together";
                closed.insert(current);
                current = name;
            }
            if (!samples.emplace(name + "{" + m[2].str() + "}", std::stod(m[3])).second)
                *error = "the series " + line + " is given twice";
        } else {
            *error = "not a line of the text format: " + line;
        }
    }
    if (!text.empty() && text.back() != '\n')
        *error = "the last line does not end";
    return samples;
}

TEST_F(InventoryTest, ExportsParseAsCsvAndAsPrometheusTextWithTheRememberedDevicesOffline) {
    lanifsim::SimDevice odd = PlainDevice("KP,\"Q1");
    odd.dhcp = true;
    StartWith({PlainDevice(), odd, BootloaderDevice()});
    ASSERT_EQ(Run({"list"}).code, 0);
    sim.ModifyDevice(kBootSerial, [](lanifsim::SimDevice& d) { d.silent = true; });

    LancfgRun r = Run({"export", "--format", "csv"});
    EXPECT_EQ(r.code, 0) << r.err;
    std::string error;
    auto records = ParseCsv(r.out, &error);
    ASSERT_EQ(error, "") << r.out;
    ASSERT_EQ(records.size(), 4u) << r.out;
    EXPECT_EQ(records[0],
              (std::vector<std::string>{"serialNumber", "version", "state", "ip", "netmask",
                                        "gateway", "dhcp", "encryption", "network", "address",
                                        "lastSeen"}));
    std::map<std::string, std::vector<std::string>> bySerial;
    for (size_t i = 1; i < records.size(); ++i) {
        ASSERT_EQ(records[i].size(), 11u) << r.out;
        int64_t seen = 0;
        EXPECT_TRUE(ParseIsoTime(records[i][10], &seen)) << records[i][10];
        records[i].pop_back();
        bySerial[records[i][0]] = records[i];
    }
    EXPECT_EQ(bySerial[kPlainSerial],
              (std::vector<std::string>{kPlainSerial, "1.234", "Run", "192.168.1.50",
                                        "255.255.255.0", "192.168.1.1", "false", "false", "lo",
                                        "127.0.0.1"}));
    EXPECT_EQ(bySerial["KP,\"Q1"][6], "true");
    EXPECT_EQ(bySerial[kBootSerial], (std::vector<std::string>{kBootSerial, "0.010", "offline",
                                                               "", "", "", "", "", "lo",
                                                               "127.0.0.1"}));

    const std::string prom = folder + "/lanif.prom";
    r = Run({"export", "--format", "prometheus", "-o", prom});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const std::map<std::string, double> samples = ParsePrometheus(ReadText(prom), &error);
    ASSERT_EQ(error, "") << ReadText(prom);
    EXPECT_EQ(samples.at("lanif_device_info{serial=\"KPL0000001\",version=\"1.234\",network="
                         "\"lo\",address=\"127.0.0.1\"}"),
              1);
    EXPECT_EQ(samples.at("lanif_device_up{serial=\"KP,\\\"Q1\"}"), 1);
    EXPECT_EQ(samples.at("lanif_device_up{serial=\"KPL0000003\"}"), 0);
    const double lastSeen = samples.at("lanif_device_last_seen_timestamp_seconds{serial=\"KPL0000003\"}");
    EXPECT_NEAR(lastSeen, static_cast<double>(std::time(nullptr)), 60);
    EXPECT_EQ(samples.size(), 9u);
}

} // namespace
