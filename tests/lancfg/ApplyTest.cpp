#include "LancfgRun.h"
#include "SimFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace simtest;

namespace {

class ApplyTest : public SimTest {
protected:
    void SetUp() override {
        char dir[] = "/tmp/applytestXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        folder = dir;
    }
    void TearDown() override {
        SimTest::TearDown();
        std::system(("rm -rf '" + folder + "'").c_str());
    }
    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = folder + "/" + name;
        std::ofstream(path) << text;
        return path;
    }
    // The serial numbers the configuration writes went to, in order.
    std::string Writes() const {
        std::string serials;
        for (const auto& r : sim.Requests())
            if (r.command == 'C')
                serials += r.serialField + ";";
        return serials;
    }
    std::string folder;
};

TEST_F(ApplyTest, BackUpChangeDryRunApplyAndApplyAgain) {
    StartWith({PlainDevice("KPL0000001"), PlainDevice("KPL0000005"), PlainDevice("KPL0000006")});
    LancfgRun backup = RunTool({"show", "--all", "--json"});
    ASSERT_EQ(backup.code, 0) << backup.err;
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(backup.out)).array().size(), 3);
    const std::string site = Write("site.json", backup.out);

    ASSERT_EQ(RunTool({"set", "KPL0000005", "-i", "192.168.1.61", "-y", "on"}).code, 0);
    sim.ClearRequests();

    LancfgRun dry = RunTool({"apply", site, "--dry-run"});
    EXPECT_EQ(dry.code, 0);
    EXPECT_EQ(dry.out, "KPL0000001 unchanged\n"
                       "KPL0000005 would change: ip 192.168.1.61 -> 192.168.1.50, encryption on "
                       "-> off\n"
                       "KPL0000006 unchanged\n");
    EXPECT_EQ(Writes(), "");

    LancfgRun apply = RunTool({"apply", site, "-j", "2"});
    EXPECT_EQ(apply.code, 0);
    EXPECT_EQ(apply.out, "KPL0000001 unchanged\n"
                         "KPL0000005 changed: ip 192.168.1.61 -> 192.168.1.50, encryption on -> "
                         "off\n"
                         "KPL0000006 unchanged\n");
    EXPECT_EQ(Writes(), "KPL0000005;");
    EXPECT_EQ(RunTool({"show", "--all", "--json"}).out, backup.out);

    sim.ClearRequests();
    LancfgRun again = RunTool({"apply", site, "--json"});
    EXPECT_EQ(again.code, 0);
    const QJsonArray results = QJsonDocument::fromJson(QByteArray::fromStdString(again.out)).array();
    ASSERT_EQ(results.size(), 3);
    for (const auto& r : results)
        EXPECT_EQ(r.toObject().value("result").toString(), "unchanged");
    EXPECT_EQ(Writes(), "");
}

TEST_F(ApplyTest, AChangeOnADeviceThatIsMissingOrRestartsIsReportedPerDevice) {
    auto crypt = CryptDevice(); // restarts to apply, wants its key
    StartWith({PlainDevice(), crypt});
    // Where a device was found is for the reader of the file only.
    const std::string plan = Write(
        "plan.json", R"([{"serialNumber":"KPL0000002","dhcp":true,"network":"lo"},
                         {"serialNumber":"KPL0000009","dhcp":true,"address":null},
                         {"serialNumber":"KPL0000001","gateway":"192.168.1.254",
                          "address":"127.0.0.1"}])");
    LancfgEnvironment environment = kNoKeys;
    environment["LANCFG_KEY"] = kKeyText;
    LancfgRun r = RunTool({"apply", plan, "--json"}, environment);
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.out, "[\n"
                     R"({"serialNumber":"KPL0000002","result":"changed","changes":{"dhcp":[false,true]}},)"
                     "\n"
                     R"({"serialNumber":"KPL0000009","result":"notFound","changes":{}},)"
                     "\n"
                     R"({"serialNumber":"KPL0000001","result":"changed","changes":{"gateway":["192.168.1.1","192.168.1.254"]}})"
                     "\n]\n");
}

TEST_F(ApplyTest, ABadPlanIsRefusedWholeBeforeAnyDeviceIsAsked) {
    StartWith({PlainDevice()});
    const std::string good = R"({"serialNumber":"KPL0000001","dhcp":true})";
    const std::pair<std::string, std::string> plans[] = {
        {"[" + good + ",{\"serialNumber\":", "not JSON"},
        {"[" + good + R"(,{"serialNumber":"KPL0000002","colour":"red"}])",
         R"(entry 2 (KPL0000002): "colour" is not a field)"},
        {"[" + good + R"(,{"serialNumber":"KPL0000002","dhcp":"on"}])",
         R"(entry 2 (KPL0000002): "dhcp" is not true or false)"},
        {"[" + good + R"(,{"serialNumber":"KPL0000002","ip":"192.168.01.2"}])",
         R"(entry 2 (KPL0000002): "ip" is not an IPv4 address)"},
        {"[" + good + R"(,{"serialNumber":"KPL0000002","netmask":"255.255.255"}])",
         R"(entry 2 (KPL0000002): "netmask" is not an IPv4 address)"},
        {"[" + good + R"(,{"serialNumber":"KPL*"}])", R"(entry 2: "serialNumber" is not)"},
        {"[" + good + R"(,{"serialNumber":"KPL\u001b[2J"}])", R"(entry 2: "serialNumber" is not)"},
        {"[" + good + R"(,{"serialNumber":"KPL00000011"}])", R"(entry 2: "serialNumber" is not)"},
        {"[" + good + "," + good + "]",
         R"(entry 2 (KPL0000001): "serialNumber" names a device that an earlier entry names)"},
        // The last of two members would win silently, and target another device.
        {"[" + good + R"(,{"serialNumber":"KPL0000002","serialNumber":"KPL0000001"}])",
         R"(entry 2: "serialNumber" is given twice)"},
        {R"({"serialNumber":"KPL0000001","ip":"192.168.1.9","ip":null})",
         R"(entry 1 (KPL0000001): "ip" is given twice)"},
        {"[" + good + R"(,{"serialNumber":"KPL0000002","address":5}])",
         R"(entry 2 (KPL0000002): "address" is neither a text nor null)"},
        // Deep enough to exhaust the stack of a recursive reader.
        {R"({"serialNumber":"KPL0000001","ip":)" + std::string(100000, '[') +
             std::string(100000, ']') + "}",
         "nested deeper than 8 levels"},
    };
    for (const auto& [text, message] : plans) {
        const std::string path = Write("bad.json", text);
        LancfgRun r = RunTool({"apply", path});
        EXPECT_EQ(r.code, 2) << text;
        EXPECT_EQ(r.out, "") << text;
        EXPECT_NE(r.err.find("Error: " + path + ": " + message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
    EXPECT_EQ(Commands(), "");
}

TEST_F(ApplyTest, ShowAllLeavesOutADeviceItCannotReadAndFails) {
    auto silent = PlainDevice("KPL0000007");
    silent.challengeReads = true; // wants its key even for reading
    silent.key = kKeyBytes;
    auto mute = PlainDevice("KPL0000008");
    mute.answersOnlySearch = true;
    StartWith({PlainDevice(), silent, mute});
    LancfgRun r = RunTool({"show", "--all"});
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.out, "KPL0000001 configuration parameters:\n"
                     "  Static IP:       192.168.1.50\n"
                     "  Static Netmask:  255.255.255.0\n"
                     "  Static Gateway:  192.168.1.1\n"
                     "  DHCP:            Off\n"
                     "  Lan Encryption:  Off\n");
    EXPECT_EQ(r.err, "You need to specify KPL0000007s crypt key with \"-k\"\n"
                     "Error reading configuration from Lan Interface KPL0000008.\n");
    // With its key every device is read, and a backup is complete.
    r = RunTool({"show", "--all", "--json", "-k", kKeyText});
    EXPECT_EQ(r.code, -1);
    EXPECT_NE(r.out.find("\"serialNumber\":\"KPL0000007\""), std::string::npos) << r.out;
}

} // namespace
