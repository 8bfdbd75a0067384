// The USB check of a connection choice, and the stand-in service holding a USB interface, on a
// fake HID tree of plain files (never the machine's own /sys or /dev). The tests run as root,
// which may open any node and look into any process; the check as a desktop user sees it runs
// in a child process that has become the user nobody.

#include "CServiceController.h"
#include "FakeHidTree.h"
#include "RpcClient.h"
#include "ServiceTestSupport.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

using namespace servicetest;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

// The check as the user nobody runs it, in a child process; its result, -1 when the child
// could not become nobody. The serial number the check wrote goes to *serial.
int VerifyAsNobody(const ServiceControllerOptions& options, std::string* serial) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNogroup) != 0 || ::setuid(kNobody) != 0)
            ::_exit(1);
        int result;
        std::string text;
        {
            CServiceController controller(options);
            ConnectionSettings settings = Usb();
            result = controller.VerifySettings(settings);
            text = std::to_string(result) + " " + settings.usbSerial;
        }
        const bool written =
            ::write(pipeFds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::_exit(written ? 0 : 1);
    }
    ::close(pipeFds[1]);
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0 || text.empty())
        return -1;
    const size_t space = text.find(' ');
    *serial = text.substr(space + 1);
    return std::stoi(text.substr(0, space));
}

class UsbTree : public ::testing::Test, public FakeHidTree {
protected:
    void SetUp() override { ASSERT_TRUE(Create("verifyusb")); }
    void TearDown() override { ASSERT_TRUE(Remove()); }

    void Hold(int n) { ASSERT_GE(FakeHidTree::Hold(n), 0); }

    // Controller options whose check and whose stand-in service both look at this tree.
    ServiceControllerOptions Options(std::vector<std::string> behaviours = {}) const {
        behaviours.push_back("sysroot=" + sys);
        behaviours.push_back("devroot=" + dev);
        ServiceControllerOptions o = StandIn(behaviours);
        o.hidSysRoot = sys;
        o.hidDevRoot = dev;
        return o;
    }
};

} // namespace

// ---- the check alone, no service running ----

TEST_F(UsbTree, NoInterfaceIsNotFoundAndKeepsTheSerial) {
    AddKeyboard(0);
    CServiceController c(Options());
    ConnectionSettings s = Usb("OLD0001");
    EXPECT_EQ(c.VerifySettings(s), VerifyNotFound);
    EXPECT_EQ(s.usbSerial, "OLD0001");
}

TEST_F(UsbTree, FreeInterfaceIsOkFillsTheSerialAndIsLeftFree) {
    AddKeyboard(0);
    AddInterface(1, "KPU0000042");
    CServiceController c(Options());
    ConnectionSettings s = Usb("OLD0001");
    EXPECT_EQ(c.VerifySettings(s), VerifyOk);
    EXPECT_EQ(s.usbSerial, "KPU0000042");
    EXPECT_TRUE(Free(1)); // the check closed what it opened
}

TEST_F(UsbTree, UnreadableSerialStillCountsAndKeepsTheOldOne) {
    AddInterface(0, "");
    CServiceController c(Options());
    ConnectionSettings s = Usb("OLD0001");
    EXPECT_EQ(c.VerifySettings(s), VerifyOk);
    EXPECT_EQ(s.usbSerial, "OLD0001");
}

// ---- as a desktop user without root rights ----

TEST_F(UsbTree, NormalUserTellsFreeHeldAndForbiddenInterfacesApart) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to become another user";
    AddKeyboard(0);
    AddInterface(1, "KPU0000042");
    std::string serial;
    EXPECT_EQ(VerifyAsNobody(Options(), &serial), VerifyOk);
    EXPECT_EQ(serial, "KPU0000042");

    const int locked = FakeHidTree::Hold(1);
    ASSERT_GE(locked, 0);
    EXPECT_EQ(VerifyAsNobody(Options(), &serial), VerifyInUse);
    Release(locked);

    // Another program of the same user keeps the node open without a lock.
    const pid_t holder = HoldWithoutLock(1, kNobody, kNogroup);
    ASSERT_GT(holder, 0);
    EXPECT_EQ(VerifyAsNobody(Options(), &serial), VerifyInUse);
    ReleaseHolder(holder);
    EXPECT_EQ(VerifyAsNobody(Options(), &serial), VerifyOk);

    // Without the udev rule the user may not open the node: that is no "in use".
    ASSERT_TRUE(DenyAccess(1));
    EXPECT_EQ(VerifyAsNobody(Options(), &serial), VerifyNoPermission);
    EXPECT_EQ(serial, "KPU0000042"); // sysfs still tells who is attached
}

// ---- with the stand-in service driving the interface ----

TEST_F(UsbTree, ServiceHoldsTheInterfaceAndReportsIt) {
    AddKeyboard(0);
    AddInterface(1, "KPU0000042");
    CServiceController c(Options());
    ASSERT_TRUE(c.Start(Usb()));
    EXPECT_FALSE(Free(1)); // held for as long as it runs
    EXPECT_TRUE(Free(0));

    RpcClient client(c.GetServiceUrl());
    XmlRpc::XmlRpcValue params, result;
    ASSERT_TRUE(client.Execute(ListInterfacesMethod, params, result));
    ASSERT_EQ(result.getType(), XmlRpc::XmlRpcValue::TypeArray);
    ASSERT_EQ(result.size(), 1);
    EXPECT_EQ(std::string(result[0]["ADDRESS"]), "KPU0000042");
    EXPECT_TRUE(bool(result[0]["CONNECTED"]));
    EXPECT_EQ(std::string(result[0]["TYPE"]), "USB Interface");
    EXPECT_TRUE(WaitForState(c, ServiceState::Connected, 3000));
    EXPECT_EQ(c.GetDescription(), "KPU0000042@USB");

    c.Stop();
    EXPECT_TRUE(Free(1)); // released when the service ends
}

TEST_F(UsbTree, CheckWhileTheServiceRunsOnTheInterfaceIsOkWithoutOpening) {
    AddInterface(0, "KPU0000042");
    CServiceController c(Options());
    ASSERT_TRUE(c.Start(Usb("OLD0001")));
    ASSERT_NE(c.GetState(), ServiceState::Stopped);
    ASSERT_FALSE(Free(0)); // an open would fail: only the shortcut gives Ok

    ConnectionSettings s = Usb("OLD0001");
    EXPECT_EQ(c.VerifySettings(s), VerifyOk);
    EXPECT_EQ(s.usbSerial, "KPU0000042"); // refreshed from the device
    EXPECT_FALSE(Free(0));                // the service still holds it

    // Once the service is stopped the same interface is checked by opening it.
    c.Stop();
    s = Usb();
    EXPECT_EQ(c.VerifySettings(s), VerifyOk);
    Hold(0);
    EXPECT_EQ(c.VerifySettings(s), VerifyInUse);
}

TEST_F(UsbTree, ServiceRunningOnAnotherConnectionGivesNoShortcut) {
    AddInterface(0, "KPU0000042");
    Hold(0);
    ConnectionSettings lan;
    lan.connection = ConnectionType::Lan;
    lan.lanSerial = "LEQ0100001";
    CServiceController c(Options({"present=up"})); // no LAN lookup, nothing sent
    ASSERT_TRUE(c.Start(lan));
    ASSERT_NE(c.GetState(), ServiceState::Stopped);
    ConnectionSettings s = Usb();
    EXPECT_EQ(c.VerifySettings(s), VerifyInUse);
}

TEST_F(UsbTree, ServiceWithoutAnInterfaceSaysSoAndEnds) {
    AddKeyboard(0);
    {
        CServiceController c(Options());
        EXPECT_FALSE(c.Start(Usb()));
        EXPECT_NE(ReadFile(c.LogPath()).find("No Radlex-Interface available"), std::string::npos);
        EXPECT_EQ(c.GetState(), ServiceState::Stopped);
    }
    // An interface that another program holds, with or without a lock, cannot be had either.
    AddInterface(1, "KPU0000042");
    const pid_t holder = HoldWithoutLock(1);
    ASSERT_GT(holder, 0);
    {
        CServiceController c(Options());
        EXPECT_FALSE(c.Start(Usb()));
        EXPECT_NE(ReadFile(c.LogPath()).find("No Radlex-Interface available"), std::string::npos);
    }
    ReleaseHolder(holder);
    Hold(1);
    CServiceController c(Options());
    EXPECT_FALSE(c.Start(Usb()));
    EXPECT_NE(ReadFile(c.LogPath()).find("No Radlex-Interface available"), std::string::npos);
}
