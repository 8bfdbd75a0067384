// The service's configuration file, the start-up log scan, the reading of the interface list and
// the stand-in's command line: all without a process or a socket.

#include "InterfaceAnswer.h"
#include "PropertyMap.h"
#include "RpcClient.h"
#include "ServiceConfigFile.h"
#include "ServiceLogScan.h"
#include "StandInOptions.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

using XmlRpc::XmlRpcValue;

namespace {

std::string TempPath() {
    char name[] = "/tmp/svcfileXXXXXX";
    int fd = ::mkstemp(name);
    ::close(fd);
    return name;
}

class ConfigFileTest : public ::testing::Test {
protected:
    void TearDown() override {
        ::unlink(config.c_str());
        ::unlink(log.c_str());
    }
    PropertyMap Written(const ConnectionSettings& s) {
        EXPECT_TRUE(WriteServiceConfig(s, config, log));
        PropertyMap map;
        EXPECT_TRUE(map.ReadFromFile(config));
        return map;
    }
    static std::vector<std::string> Keys(const PropertyMap::Section& section) {
        std::vector<std::string> keys;
        for (const auto& kv : section.entries)
            keys.push_back(kv.first);
        return keys;
    }
    std::string config = TempPath();
    std::string log = TempPath();
};

const std::vector<std::string> kTopKeys = {
    "Listen Port",      "Log Level", "Persist Keys", "Virtual RC",      "Device Description Dir",
    "Device Files Dir", "Key File",  "Address File", "Log Destination", "Log Filename"};

} // namespace

TEST_F(ConfigFileTest, LanWritesTopLevelThenInterfaceSectionInOrder) {
    ConnectionSettings s;
    s.connection = ConnectionType::Lan;
    s.lanSerial = "LEQ0123456";
    s.lanKey = "00112233445566778899AABBCCDDEEFF";
    s.lanHost = "192.168.1.50";
    PropertyMap map = Written(s);
    ASSERT_EQ(map.Sections().size(), 2u);
    EXPECT_EQ(map.Sections()[0].name, "");
    EXPECT_EQ(Keys(map.Sections()[0]), kTopKeys);
    EXPECT_EQ(map.GetIntValue("", "Listen Port", -1), 0);
    EXPECT_EQ(map.GetIntValue("", "Log Level"), 2);
    EXPECT_EQ(map.GetIntValue("", "Persist Keys"), 1);
    EXPECT_EQ(map.GetIntValue("", "Virtual RC", -1), 0);
    EXPECT_EQ(map.GetStringValue("", "Device Description Dir"), "${Bindir}/devicetypes");
    EXPECT_EQ(map.GetStringValue("", "Device Files Dir"),
              "${CommonAppData}/Radlex-Service/devices");
    EXPECT_EQ(map.GetStringValue("", "Key File"), "${CommonAppData}/Radlex-Service/keys");
    EXPECT_EQ(map.GetStringValue("", "Address File"), "${CommonAppData}/Radlex-Service/ids");
    EXPECT_EQ(map.GetStringValue("", "Log Destination"), "File");
    EXPECT_EQ(map.GetStringValue("", "Log Filename"), log);

    EXPECT_EQ(map.Sections()[1].name, "Interface 0");
    EXPECT_EQ(Keys(map.Sections()[1]),
              (std::vector<std::string>{"Type", "Serial Number", "Encryption Key", "IP Address"}));
    EXPECT_EQ(map.GetStringValue("Interface 0", "Type"), "Lan Interface");
    EXPECT_EQ(map.GetStringValue("Interface 0", "Serial Number"), s.lanSerial);
    EXPECT_EQ(map.GetStringValue("Interface 0", "Encryption Key"), s.lanKey);
    EXPECT_EQ(map.GetStringValue("Interface 0", "IP Address"), s.lanHost);
}

TEST_F(ConfigFileTest, LanWithoutHostHasNoAddressKey) {
    ConnectionSettings s;
    s.connection = ConnectionType::Lan;
    s.lanSerial = "LEQ0123456";
    PropertyMap map = Written(s);
    EXPECT_FALSE(map.HasValue("Interface 0", "IP Address"));
    EXPECT_EQ(Keys(map.Sections()[1]),
              (std::vector<std::string>{"Type", "Serial Number", "Encryption Key"}));
}

TEST_F(ConfigFileTest, UsbWritesTypeAloneAndUnknownTypeAnEmptySection) {
    ConnectionSettings s;
    s.usbSerial = "USB0001";
    PropertyMap usb = Written(s);
    ASSERT_EQ(usb.Sections().size(), 2u);
    EXPECT_EQ(Keys(usb.Sections()[1]), std::vector<std::string>{"Type"});
    EXPECT_EQ(usb.GetStringValue("Interface 0", "Type"), "USB Interface");

    s.connection = static_cast<ConnectionType>(7);
    PropertyMap odd = Written(s);
    ASSERT_EQ(odd.Sections().size(), 2u);
    EXPECT_EQ(odd.Sections()[1].name, "Interface 0");
    EXPECT_TRUE(odd.Sections()[1].entries.empty());
    EXPECT_EQ(Keys(odd.Sections()[0]), kTopKeys);
}

TEST_F(ConfigFileTest, FileWithKeyStaysOwnerOnlyEvenWhenRecreated) {
    ::unlink(config.c_str());
    ::umask(022);
    ConnectionSettings s;
    s.connection = ConnectionType::Lan;
    s.lanKey = "secret";
    ASSERT_TRUE(WriteServiceConfig(s, config, log));
    struct stat st {};
    ASSERT_EQ(::stat(config.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A link planted at the file's name would carry the key to wherever it points.
TEST_F(ConfigFileTest, KeyIsNotWrittenThroughALink) {
    const std::string target = TempPath();
    { std::ofstream(target) << "someone else's\n"; }
    ::unlink(config.c_str());
    ASSERT_EQ(::symlink(target.c_str(), config.c_str()), 0);
    ConnectionSettings s;
    s.connection = ConnectionType::Lan;
    s.lanKey = "secret";
    EXPECT_FALSE(WriteServiceConfig(s, config, log));
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "someone else's\n");
    ::unlink(target.c_str());
}

TEST_F(ConfigFileTest, EmptyServiceLogTruncates) {
    { std::ofstream(log) << "old line\n"; }
    EmptyServiceLog(log);
    struct stat st {};
    ASSERT_EQ(::stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EmptyServiceLog("/nonexistent-dir/x.log"); // nothing happens
}

// ---- the start-up log scan ----

namespace {
ServiceLogScan Scan(const std::string& text) {
    std::istringstream in(text);
    return ScanServiceLog(in);
}
const std::string kReady = "XmlRpc Server is listening on TCP port ";
} // namespace

TEST(ServiceLogScanTest, ReadyLineAfterOtherLinesGivesItsPort) {
    auto scan = Scan("2024-01-01 starting\nloading keys\n12:00 " + kReady + "2001\nmore\n");
    EXPECT_EQ(scan.result, ServiceLogScan::ScanReady);
    EXPECT_EQ(scan.port, "2001");
}

TEST(ServiceLogScanTest, PortIsFirstDigitRunAfterReadyTextNotBefore) {
    auto scan = Scan("12:34:56 " + kReady + "  40123 (fd 7)\n");
    EXPECT_EQ(scan.port, "40123");
}

TEST(ServiceLogScanTest, NoInterfaceBeforeReadyFails) {
    auto scan = Scan("x No Radlex-Interface available\n" + kReady + "2001\n");
    EXPECT_EQ(scan.result, ServiceLogScan::ScanNoInterface);
}

TEST(ServiceLogScanTest, ReadyLineWithoutDigitsIsSkipped) {
    auto scan = Scan(kReady + "\n" + kReady + "none\n" + kReady + "5555\n");
    EXPECT_EQ(scan.result, ServiceLogScan::ScanReady);
    EXPECT_EQ(scan.port, "5555");
}

TEST(ServiceLogScanTest, EndWithoutEitherLineIsNotFound) {
    EXPECT_EQ(Scan("").result, ServiceLogScan::ScanNotFound);
    EXPECT_EQ(Scan("a\nb\nXmlRpc Server is listening on TCP 2001\n").result,
              ServiceLogScan::ScanNotFound);
}

// A healthy service may log long lines before it is ready: texts far beyond the first 127
// characters are still found. Of a line longer than the limit only its start counts; the rest
// is skipped, and the next line is read as usual.
TEST(ServiceLogScanTest, LongLinesAreReadUpToTheLimit) {
    std::string longLine(5000, 'x');
    auto scan = Scan(longLine + "\n" + kReady + "3456\n");
    EXPECT_EQ(scan.result, ServiceLogScan::ScanReady);
    EXPECT_EQ(scan.port, "3456");

    auto far = Scan(std::string(300, '-') + kReady + "4567\n");
    EXPECT_EQ(far.result, ServiceLogScan::ScanReady);
    EXPECT_EQ(far.port, "4567");

    auto split = Scan(std::string(126, '-') + kReady + "4568");
    EXPECT_EQ(split.port, "4568");

    auto noIf = Scan(std::string(200, '-') + "No Radlex-Interface available\n" + kReady + "1\n");
    EXPECT_EQ(noIf.result, ServiceLogScan::ScanNoInterface);

    auto huge = Scan(std::string(MaxServiceLogLine, '-') + "No Radlex-Interface available\n" +
                     kReady + "5678\n");
    EXPECT_EQ(huge.result, ServiceLogScan::ScanReady);
    EXPECT_EQ(huge.port, "5678");

    auto atLimit = Scan(std::string(MaxServiceLogLine - 4, '-') + kReady.substr(0, 4) + "\n" +
                        kReady + "6789");
    EXPECT_EQ(atLimit.port, "6789");
}

// ---- the first element of the interface list ----

namespace {
XmlRpcValue Entry(XmlRpcValue connected, XmlRpcValue address) {
    XmlRpcValue e;
    e["CONNECTED"] = connected;
    e["ADDRESS"] = address;
    return e;
}
XmlRpcValue ListOf(const XmlRpcValue& first) {
    XmlRpcValue list;
    list.setSize(1);
    list[0] = first;
    return list;
}
} // namespace

TEST(InterfaceAnswerTest, ConnectedAndAddressOfFirstElement) {
    XmlRpcValue list;
    list.setSize(2);
    list[0] = Entry(true, "LEQ1");
    list[1] = Entry(false, "LEQ2");
    auto a = ReadInterfaceAnswer(list);
    EXPECT_TRUE(a.stateKnown);
    EXPECT_TRUE(a.connected);
    EXPECT_EQ(a.address, "LEQ1");
    auto down = ReadInterfaceAnswer(ListOf(Entry(false, "LEQ3")));
    EXPECT_TRUE(down.stateKnown);
    EXPECT_FALSE(down.connected);
}

TEST(InterfaceAnswerTest, EmptyListOrMissingMembersCountAsNotConnected) {
    XmlRpcValue empty;
    empty.setSize(0);
    auto a = ReadInterfaceAnswer(empty);
    EXPECT_TRUE(a.stateKnown);
    EXPECT_FALSE(a.connected);

    XmlRpcValue noConnected;
    noConnected["ADDRESS"] = "LEQ9";
    auto b = ReadInterfaceAnswer(ListOf(noConnected));
    EXPECT_TRUE(b.stateKnown);
    EXPECT_FALSE(b.connected);
    EXPECT_EQ(b.address, "LEQ9");

    XmlRpcValue noAddress;
    noAddress["CONNECTED"] = true;
    auto c = ReadInterfaceAnswer(ListOf(noAddress));
    EXPECT_TRUE(c.connected);
    EXPECT_EQ(c.address, "");
}

TEST(InterfaceAnswerTest, UnexpectedShapesLeaveStateUnknown) {
    EXPECT_FALSE(ReadInterfaceAnswer(XmlRpcValue("text")).stateKnown);
    EXPECT_FALSE(ReadInterfaceAnswer(XmlRpcValue()).stateKnown);
    EXPECT_FALSE(ReadInterfaceAnswer(ListOf(XmlRpcValue(3))).stateKnown);
    EXPECT_FALSE(ReadInterfaceAnswer(ListOf(Entry(1, "LEQ1"))).stateKnown);
    // The state is read before the address: a bad address leaves the state known.
    auto a = ReadInterfaceAnswer(ListOf(Entry(true, 42)));
    EXPECT_TRUE(a.stateKnown);
    EXPECT_TRUE(a.connected);
    EXPECT_EQ(a.address, "");
}

// ---- the stand-in's command line ----

TEST(StandInOptionsTest, ReadsContractOptionsAndBehaviours) {
    StandInOptions o;
    std::string error;
    ASSERT_TRUE(ParseStandInOptions(
        {"-t", "slow=1500", "-t", "no-event", "-f", "/tmp/c", "-e", "/ev", "-t", "present=down"}, o,
        error))
        << error;
    EXPECT_EQ(o.configPath, "/tmp/c");
    EXPECT_EQ(o.eventName, "/ev");
    EXPECT_EQ(o.answerDelayMs, 1500);
    EXPECT_FALSE(o.postEvent);
    EXPECT_EQ(o.present, "down");
}

TEST(StandInOptionsTest, RejectsUnknownOrIncompleteLines) {
    StandInOptions o;
    std::string error;
    EXPECT_FALSE(ParseStandInOptions({"-f", "/tmp/c"}, o, error));
    EXPECT_FALSE(ParseStandInOptions({"-f", "/tmp/c", "-e"}, o, error));
    EXPECT_FALSE(ParseStandInOptions({"-f", "c", "-e", "e", "-t", "slow=abc"}, o, error));
    EXPECT_FALSE(ParseStandInOptions({"-f", "c", "-e", "e", "-t", "dance"}, o, error));
    EXPECT_FALSE(ParseStandInOptions({"-f", "c", "-e", "e", "-x", "1"}, o, error));
}

TEST(StandInOptionsTest, HidTreeDefaultsToTheSystemAndCanBeMoved) {
    StandInOptions o;
    std::string error;
    ASSERT_TRUE(ParseStandInOptions({"-f", "c", "-e", "e"}, o, error)) << error;
    EXPECT_EQ(o.hidSysRoot, "/sys");
    EXPECT_EQ(o.hidDevRoot, "/dev");
    ASSERT_TRUE(ParseStandInOptions(
        {"-f", "c", "-e", "e", "-t", "sysroot=/t/sys", "-t", "devroot=/t/dev"}, o, error))
        << error;
    EXPECT_EQ(o.hidSysRoot, "/t/sys");
    EXPECT_EQ(o.hidDevRoot, "/t/dev");
    EXPECT_FALSE(ParseStandInOptions({"-f", "c", "-e", "e", "-t", "sysroot="}, o, error));
}

// ---- the answer's XML ----

// Answers as other servers write them read the same as the compact form; anything that is not
// a plain methodResponse is refused.
TEST(RpcAnswerTest, ReadsEveryWellFormedShapeAndRefusesTheRest) {
    const std::string pretty = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<methodResponse>\n"
                               " <params>\n  <param>\n   <value>\n    <array><data>\n"
                               "     <value><struct>\n"
                               "      <member><name>ADDRESS</name>\n"
                               "       <value><![CDATA[K\xC3\xBC<che>&1]]></value></member>\n"
                               "      <member><name>CONNECTED</name>"
                               "<value><boolean> 1 </boolean></value></member>\n"
                               "      <member><name>INFO</name><value><struct><member><name>n"
                               "</name><value><i4>-7</i4></value></member></struct></value>"
                               "</member>\n"
                               "     </struct></value>\n"
                               "    </data></array>\n   </value>\n  </param>\n </params>\n"
                               "</methodResponse>\n";
    XmlRpcValue result;
    bool fault = true;
    ASSERT_TRUE(RpcClient::ReadAnswer(pretty, result, fault));
    EXPECT_FALSE(fault);
    auto a = ReadInterfaceAnswer(result);
    EXPECT_TRUE(a.connected);
    EXPECT_EQ(a.address, "K\xC3\xBC<che>&1");
    EXPECT_EQ(static_cast<int>(result[0]["INFO"]["n"]), -7);

    ASSERT_TRUE(RpcClient::ReadAnswer(
        "<methodResponse><fault><value><struct><member><name>faultCode</name><value><int>4"
        "</int></value></member></struct></value></fault></methodResponse>",
        result, fault));
    EXPECT_TRUE(fault);

    auto nested = [](int levels) {
        std::string xml = "<methodResponse><params><param>";
        for (int i = 0; i < levels; ++i)
            xml += "<value><array><data>";
        for (int i = 0; i < levels; ++i)
            xml += "</data></array></value>";
        return xml + "</param></params></methodResponse>";
    };
    EXPECT_TRUE(RpcClient::ReadAnswer(nested(RpcClient::MaxAnswerDepth), result, fault));
    const std::string deep = nested(RpcClient::MaxAnswerDepth + 1);
    const char* refused[] = {
        "<!DOCTYPE m [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">]>"
        "<methodResponse><params><param><value>&b;</value></param></params></methodResponse>",
        "<methodResponse><params><param><value><i4>99999999999</i4></value></param></params>"
        "</methodResponse>",
        "<methodResponse><params><param><value><script/></value></param></params>"
        "</methodResponse>",
        "<methodResponse><params><param><value>&#x110000;</value></param></params>"
        "</methodResponse>",
        "<methodResponse><params><param><value>1</value></param>",
        deep.c_str(),
    };
    for (const char* xml : refused)
        EXPECT_FALSE(RpcClient::ReadAnswer(xml, result, fault)) << xml;
}
