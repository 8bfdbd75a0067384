// The stand-in service drives a simulated LAN interface: the supervised state follows the device
// as it goes silent and comes back. Runs inside a private network namespace.

#include "CServiceController.h"
#include "LanIfSimulator.h"
#include "ServiceTestSupport.h"

#include <gtest/gtest.h>

using namespace servicetest;

namespace {

ConnectionSettings Lan(const std::string& serial) {
    ConnectionSettings s;
    s.connection = ConnectionType::Lan;
    s.lanSerial = serial;
    s.lanKey = "00112233445566778899AABBCCDDEEFF";
    return s;
}

} // namespace

TEST(ServiceLan, StateFollowsTheInterface) {
    lanifsim::Simulator sim;
    lanifsim::SimDevice dev;
    dev.serial = "LEQ0100001";
    sim.AddDevice(dev);
    ASSERT_TRUE(sim.Start());

    CServiceController c(StandIn());
    ASSERT_TRUE(c.Start(Lan(dev.serial)));
    EXPECT_EQ(c.GetState(), ServiceState::Unreachable);
    EXPECT_TRUE(WaitForState(c, ServiceState::Connected, 3000));
    EXPECT_EQ(c.GetDescription(), "LEQ0100001@LAN");

    sim.ModifyDevice(dev.serial, [](lanifsim::SimDevice& d) { d.silent = true; });
    EXPECT_TRUE(WaitForState(c, ServiceState::InterfaceDown, 10000));

    sim.ModifyDevice(dev.serial, [](lanifsim::SimDevice& d) { d.silent = false; });
    EXPECT_TRUE(WaitForState(c, ServiceState::Connected, 10000));
    c.Stop();
    sim.Stop();
}

TEST(ServiceLan, MissingInterfaceFailsTheStart) {
    lanifsim::Simulator sim;
    ASSERT_TRUE(sim.Start());
    CServiceController c(StandIn());
    EXPECT_FALSE(c.Start(Lan("LEQ0999999")));
    EXPECT_EQ(c.GetState(), ServiceState::Stopped);
    sim.Stop();
}
