#include "LancfgRun.h"
#include "SimFixture.h"
#include "SimNetwork.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

using namespace simtest;
using lanifsim::SimNetwork;

namespace {

std::vector<std::string> SortedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

class AddressTest : public SimTest {
protected:
    void Link(SimNetwork& network, const std::vector<lanifsim::SimDevice>& devices) {
        ASSERT_TRUE(network.Start(devices)) << network.LastError();
    }
    SimNetwork first{1};
    SimNetwork second{2};
};

const std::string kLine = " 1.234 Run 192.168.1.50/255.255.255.0 GW=192.168.1.1 STAT PLAIN";

TEST_F(AddressTest, ARangeAndASecondAddressReachDevicesOnTwoNetworks) {
    Link(first, {PlainDevice("KPN1000001")});
    Link(second, {PlainDevice("KPN2000001")});
    LancfgRun r = RunTool({"list", "-a", "10.77.1.0/24", "-a", second.DeviceAddress()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(SortedLines(r.out),
              (std::vector<std::string>{"KPN1000001 " + kLine, "KPN2000001 " + kLine}));
    r = RunTool({"-a", "10.77.1.0/24", "show", "KPN1000001", "-a", "10.77.2.0/30", "--json"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, R"({"serialNumber":"KPN1000001","ip":"192.168.1.50","netmask":)"
                     R"("255.255.255.0","gateway":"192.168.1.1","dhcp":false,"encryption":false,)"
                     R"("address":"10.77.1.2","network":"vklan1"})"
                     "\n");
    // A subnet's broadcast address is sent to, and the device answers by it.
    r = RunTool({"list", "-a", "10.77.2.255"});
    EXPECT_EQ(r.out, "KPN2000001 " + kLine + "\n");
}

// -a stands anywhere among the options of every command, fwupdate's included.
TEST_F(AddressTest, FwupdateTakesARangeAmongItsOptions) {
    Link(first, {BootloaderDevice()});
    const std::string file = VK_SOURCE_DIR "/tests/data/firmware/TwoRecords.hex";
    LancfgRun r = RunTool({"fwupdate", kBootSerial, "-f", file, "-a", "10.77.1.0/30"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("100% done\nKPL0000003 was updated successfully\n"), std::string::npos)
        << r.out;
}

TEST_F(AddressTest, RangesTooLargeAndOtherGroupsAreRefused) {
    const std::pair<std::string, std::string> refused[] = {
        {"10.0.0.0/21", "Error: -a 10.0.0.0/21 holds more than 1024 addresses; give ranges "
                        "from /22 to /32, several -a if need be\n"},
        {"239.1.2.3", "Error: -a 239.1.2.3 is a multicast address; the devices answer only "
                      "224.0.0.1 and their own addresses\n"},
    };
    for (const auto& [value, message] : refused) {
        LancfgRun r = RunTool({"list", "-a", "10.77.1.2", "-a", value});
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, message);
    }
    EXPECT_EQ(RunTool({"list", "-a", "10.0.0.0/33"}).code, 2); // misuse: the usage text
}

} // namespace
