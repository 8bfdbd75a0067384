// Plans read from text and applied to device records, without a device or a network.
#include "ConfigPlan.h"
#include "ConfigApply.h"
#include "LanInterface.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

TEST(ConfigPlan, TakesTheObjectsOfShowAndWhereTheDeviceWasFound) {
    ConfigPlan plan;
    std::string error;
    ASSERT_TRUE(plan.Parse(R"([{"serialNumber":"KPL0000001","ip":"10.0.0.9","netmask":null,
                                "dhcp":false,"address":"10.77.1.51","network":"eth1"},
                               {"serialNumber":"KPL0000002","encryption":true,"address":null}])",
                           "site.json", &error))
        << error;
    ASSERT_EQ(plan.entries.size(), 2u);
    const PlanEntry& first = plan.entries[0];
    EXPECT_TRUE(first.hasIp && first.hasDhcp && !first.hasNetmask && !first.hasEncryption);
    EXPECT_EQ(first.ip, "10.0.0.9");
    EXPECT_EQ(first.address, "10.77.1.51");
    EXPECT_EQ(first.network, "eth1");
    EXPECT_TRUE(plan.entries[1].hasEncryption && plan.entries[1].encryption);
    EXPECT_EQ(plan.entries[1].address, "");
}

// Hostile files: nesting that would exhaust a recursive reader's stack, and members given twice,
// of which the last would win silently.
TEST(ConfigPlan, RefusesDeepNestingAndMembersGivenTwice) {
    const std::string deepObject =
        std::string(100000, '[').replace(0, 1, "{\"a\":") + std::string(99999, ']') + "}";
    const std::string deepArray = std::string(50000, '[') + std::string(50000, ']');
    const std::pair<std::string, std::string> refused[] = {
        {deepObject, "f: nested deeper than 8 levels; a plan is an array of flat device objects"},
        {deepArray, "f: nested deeper than 8 levels; a plan is an array of flat device objects"},
        {"[" + deepArray + "]", "f: nested deeper than 8 levels; a plan is an array of flat "
                                "device objects"},
        {R"([{"serialNumber":"KPL0000001"},{"serialNumber":"KPL0000002","serialNumber":"KPL1"}])",
         R"(f: entry 2: "serialNumber" is given twice)"},
        {R"({"serialNumber":"KPL0000001","ip":"10.0.0.9","ip":null})",
         R"(f: entry 1 (KPL0000001): "ip" is given twice)"},
    };
    for (const auto& [text, message] : refused) {
        ConfigPlan plan;
        std::string error;
        EXPECT_FALSE(plan.Parse(text, "f", &error));
        EXPECT_EQ(error, message);
        EXPECT_TRUE(plan.entries.empty());
    }
    // A name used again in a nested object is not an entry's member twice.
    ConfigPlan plan;
    std::string error;
    EXPECT_FALSE(
        plan.Parse(R"({"serialNumber":"KPL0000001","ip":{"a":1,"b":{"a":2}}})", "f", &error));
    EXPECT_EQ(error, R"(f: entry 1 (KPL0000001): "ip" is neither an address text nor null)");
}

LanInterface Device() {
    LanInterface device;
    device.staticIp = "192.168.1.61";
    device.staticNetmask = "255.255.255.0";
    device.staticGateway = "192.168.1.1";
    device.crypt = true;
    return device;
}

TEST(ConfigApply, ChangesAreWrittenToTheRecordAndToldInTextAndJson) {
    PlanEntry entry;
    entry.serialNumber = "KPL0000005";
    entry.hasIp = entry.hasNetmask = entry.hasEncryption = true;
    entry.ip = "192.168.1.50";
    entry.netmask = "255.255.255.0";
    LanInterface device = Device();
    const std::vector<ConfigChange> changes = ConfigApply::Changes(entry, device);
    EXPECT_EQ(ConfigApply::ChangesText(changes), "ip 192.168.1.61 -> 192.168.1.50, encryption on "
                                                 "-> off");
    ConfigApply::Write(changes, device);
    EXPECT_EQ(device.staticIp, "192.168.1.50");
    EXPECT_FALSE(device.crypt);
    EXPECT_TRUE(ConfigApply::Changes(entry, device).empty());

    ApplyOutcome outcome;
    outcome.result = ApplyResult::Changed;
    outcome.changes = changes;
    outcome.rebooting = true;
    std::ostringstream text;
    ConfigApply::PrintText(entry.serialNumber, outcome, text);
    EXPECT_EQ(text.str(), "KPL0000005 changed: ip 192.168.1.61 -> 192.168.1.50, encryption on -> "
                          "off\nKPL0000005 is rebooting for the changes to become active...\n");
    EXPECT_EQ(JsonLine(ConfigApply::OutcomeJson(entry.serialNumber, outcome)),
              R"({"serialNumber":"KPL0000005","result":"changed","changes":)"
              R"({"ip":["192.168.1.61","192.168.1.50"],"encryption":[true,false]}})");
    outcome = ApplyOutcome();
    outcome.reason = "the device did not take the configuration";
    EXPECT_EQ(JsonLine(ConfigApply::OutcomeJson("KPL\x1b", outcome)),
              R"({"serialNumber":"KPL\u001b","result":"failed","changes":{},)"
              R"("reason":"the device did not take the configuration"})");
}

// With DHCP on the addresses are the DHCP server's: neither compared nor written.
TEST(ConfigApply, WithDhcpOnlyTheFlagsCount) {
    PlanEntry entry;
    entry.hasIp = entry.hasDhcp = true;
    entry.ip = "10.0.0.1";
    entry.dhcp = true;
    LanInterface device = Device();
    const std::vector<ConfigChange> changes = ConfigApply::Changes(entry, device);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(ConfigApply::FieldName(changes[0].field), std::string("dhcp"));
    ConfigApply::Write(changes, device);
    EXPECT_TRUE(device.dhcp);
    EXPECT_EQ(device.staticIp, "192.168.1.61");
}

} // namespace
