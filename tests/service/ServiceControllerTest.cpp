// CServiceController with the stand-in radio service over loopback TCP. The stand-in is told to
// pretend its interface is there ("present"), so no datagram is sent by these tests.

#include "CServiceController.h"
#include "PropertyMap.h"
#include "RpcClient.h"
#include "ServiceTestSupport.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <fstream>

using namespace servicetest;
using Clock = std::chrono::steady_clock;

namespace {

// A loopback listener that takes connections but never answers.
struct SilentListener {
    SilentListener() {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 8);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~SilentListener() { ::close(fd); }
    int fd = -1;
    int port = 0;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

// ---- Start and its failures ----

TEST(ServiceControllerStart, LocalStartReadsPortAndSupervisionConnects) {
    CServiceController c(StandIn({"present=up"}));
    EXPECT_EQ(c.GetState(), ServiceState::Stopped);
    ASSERT_TRUE(c.Start(Usb()));
    std::string url = c.GetServiceUrl();
    EXPECT_EQ(url.rfind("bin://127.0.0.1:", 0), 0u) << url;
    EXPECT_GT(PortOf(url), 0);
    EXPECT_TRUE(WaitForState(c, ServiceState::Connected, 3000));
    // An empty USB serial is filled from the address the service reports.
    EXPECT_EQ(c.GetDescription(), "TEST000001@USB");
    c.Stop();
    EXPECT_EQ(c.GetState(), ServiceState::Stopped);
    EXPECT_EQ(c.GetServiceUrl(), "");
}

TEST(ServiceControllerStart, KnownSerialIsNeverReplaced) {
    CServiceController c(StandIn({"present=down"}));
    ASSERT_TRUE(c.Start(Usb("USB4711")));
    EXPECT_EQ(c.GetDescription(), "USB4711@USB");
    EXPECT_TRUE(WaitForState(c, ServiceState::InterfaceDown, 3000));
    EXPECT_EQ(c.GetInterfaceSerial(), "USB4711");
}

TEST(ServiceControllerStart, TwoStartsUseTheSamePathsAndEmptyTheLogAgain) {
    CServiceController c(StandIn({"present=up"}));
    const std::string config = c.ConfigPath(), log = c.LogPath();
    ASSERT_TRUE(c.Start(Usb()));
    PropertyMap map;
    ASSERT_TRUE(map.ReadFromFile(config));
    EXPECT_EQ(map.GetStringValue("", "Log Filename"), log);
    std::string firstLog = ReadFile(log);
    EXPECT_NE(firstLog.find("XmlRpc Server is listening on TCP port "), std::string::npos);
    { std::ofstream(log, std::ios::app) << "marker of the first run\n"; }
    ASSERT_TRUE(c.Start(Usb()));
    EXPECT_EQ(c.ConfigPath(), config);
    EXPECT_EQ(c.LogPath(), log);
    EXPECT_EQ(ReadFile(log).find("marker of the first run"), std::string::npos);
}

TEST(ServiceControllerStart, TemporaryFilesArePrivateAndRemovedAtDestruction) {
    std::string config, log;
    {
        CServiceController c(StandIn());
        config = c.ConfigPath();
        log = c.LogPath();
        struct stat st {};
        ASSERT_EQ(::stat(config.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_NE(config, log);
        EXPECT_EQ(config.substr(config.rfind('/') + 1, 3), "nrd");
    }
    EXPECT_NE(::access(config.c_str(), F_OK), 0);
    EXPECT_NE(::access(log.c_str(), F_OK), 0);
}

TEST(ServiceControllerStart, FailsWhenServiceNeverPostsTheEvent) {
    ServiceControllerOptions o = StandIn({"present=up", "no-event"});
    o.startupTimeoutMs = 500;
    CServiceController c(o);
    auto t0 = Clock::now();
    EXPECT_FALSE(c.Start(Usb()));
    EXPECT_LT(ElapsedMs(t0), 5000);
    EXPECT_EQ(c.GetState(), ServiceState::Stopped);
    EXPECT_EQ(c.GetServiceUrl(), "");
}

TEST(ServiceControllerStart, FailsWithoutReadyLine) {
    CServiceController c(StandIn({"present=up", "no-ready-line"}));
    EXPECT_FALSE(c.Start(Usb()));
    EXPECT_EQ(c.GetState(), ServiceState::Stopped);
    EXPECT_EQ(c.GetServiceUrl(), "");
}

TEST(ServiceControllerStart, FailsWhenNoInterfaceIsAvailable) {
    // The stand-in finds no USB interface in its (absent) HID tree.
    CServiceController c(StandIn());
    EXPECT_FALSE(c.Start(Usb()));
    EXPECT_NE(ReadFile(c.LogPath()).find("No Radlex-Interface available"), std::string::npos);
    EXPECT_EQ(c.GetState(), ServiceState::Stopped);
}

TEST(ServiceControllerStart, FailsWhenTheProgramIsMissing) {
    ServiceControllerOptions o = StandIn();
    o.servicePath = std::string(VK_BIN_DIR) + "/no-such-service";
    CServiceController c(o);
    EXPECT_FALSE(c.Start(Usb()));
    EXPECT_EQ(c.GetServiceUrl(), "");
    EXPECT_EQ(c.GetState(), ServiceState::Stopped);
}

TEST(ServiceControllerStart, LongLogLineBeforeReadyLineIsAccepted) {
    CServiceController c(StandIn({"present=up", "long-line=4000"}));
    EXPECT_TRUE(c.Start(Usb()));
    EXPECT_GT(PortOf(c.GetServiceUrl()), 0);
}

TEST(ServiceControllerStart, UnknownConnectionTypeStillStartsTheService) {
    CServiceController c(StandIn({"present=up"}));
    ConnectionSettings s;
    s.connection = static_cast<ConnectionType>(9);
    EXPECT_TRUE(c.Start(s));
    EXPECT_EQ(c.GetDescription(), "");
    EXPECT_EQ(c.GetInterfaceSerial(), "");
}

TEST(ServiceControllerStart, RemoteServiceWritesNothingAndStartsWithoutTraffic) {
    CServiceController c(StandIn());
    { std::ofstream(c.LogPath()) << "kept\n"; }
    ASSERT_TRUE(c.Start(Remote("127.0.0.1", FreePort())));
    EXPECT_EQ(ReadFile(c.LogPath()), "kept\n");
    EXPECT_EQ(ReadFile(c.ConfigPath()), "");
    EXPECT_EQ(c.GetState(), ServiceState::Unreachable);
    EXPECT_EQ(c.GetServiceUrl().rfind("bin://127.0.0.1:", 0), 0u);
}

// ---- supervision ----

TEST(ServiceControllerSupervision, ServiceThatExitsGivesStoppedAndThreadEnds) {
    const int threadsBefore = SupervisionThreads();
    CServiceController c(StandIn({"present=up", "exit-after=400"}));
    ASSERT_TRUE(c.Start(Usb()));
    EXPECT_TRUE(WaitForState(c, ServiceState::Stopped, 4000));
    EXPECT_TRUE(WaitFor([&] { return SupervisionThreads() == threadsBefore; }, 2000));
    c.Stop();
}

TEST(ServiceControllerSupervision, FaultAnswerKeepsTheState) {
    CServiceController c(StandIn({"present=up", "fault"}));
    ASSERT_TRUE(c.Start(Usb()));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(c.GetState(), ServiceState::Unreachable);
}

TEST(ServiceControllerSupervision, SlowAnswerCountsAsUnreachable) {
    ServiceControllerOptions o = StandIn({"present=up", "slow=700"});
    o.probeTimeoutMs = 300;
    CServiceController c(o);
    ASSERT_TRUE(c.Start(Usb()));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(c.GetState(), ServiceState::Unreachable);
}

TEST(ServiceControllerSupervision, UnexpectedShapes) {
    struct Case {
        const char* shape;
        ServiceState expected;
        const char* serial;
    } cases[] = {
        {"shape=empty", ServiceState::InterfaceDown, ""},
        {"shape=no-connected", ServiceState::InterfaceDown, "TEST000001"},
        {"shape=address-int", ServiceState::Connected, ""},
        {"shape=not-array", ServiceState::Unreachable, ""},
        {"shape=element-int", ServiceState::Unreachable, ""},
        {"shape=connected-int", ServiceState::Unreachable, ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.shape);
        CServiceController c(StandIn({"present=up", k.shape}));
        ASSERT_TRUE(c.Start(Usb()));
        if (k.expected == ServiceState::Unreachable)
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_TRUE(WaitForState(c, k.expected, 3000));
        EXPECT_EQ(c.GetInterfaceSerial(), k.serial);
    }
}

// A probe waiting on its long time-out while Connected must not hold up Stop or a restart, and a
// restart must leave exactly one supervision thread.
TEST(ServiceControllerSupervision, StopAndRestartWhileProbeWaits) {
    ServiceControllerOptions o = StandIn({"present=up", "slow=8000"});
    o.probeTimeoutMs = 15000; // every probe waits, like a Connected one that gets no answer
    const int threadsBefore = SupervisionThreads();
    CServiceController c(o);
    ASSERT_TRUE(c.Start(Usb()));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the first probe is in flight
    EXPECT_EQ(SupervisionThreads(), threadsBefore + 1);

    auto t0 = Clock::now();
    ASSERT_TRUE(c.Start(Usb()));
    EXPECT_LT(ElapsedMs(t0), 5000); // a new service started; the old probe did not hold it up
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(SupervisionThreads(), threadsBefore + 1);

    t0 = Clock::now();
    c.Stop();
    EXPECT_LT(ElapsedMs(t0), 1000);
    EXPECT_EQ(SupervisionThreads(), threadsBefore);
    EXPECT_EQ(c.GetState(), ServiceState::Stopped);
}

TEST(ServiceControllerSupervision, RemoteServiceIsProbedAtItsAddress) {
    CServiceController service(StandIn({"present=up"}));
    ASSERT_TRUE(service.Start(Usb()));
    CServiceController c(StandIn());
    ASSERT_TRUE(c.Start(Remote("127.0.0.1", PortOf(service.GetServiceUrl()))));
    EXPECT_TRUE(WaitForState(c, ServiceState::Connected, 3000));
    EXPECT_EQ(c.GetDescription(),
              "xmlrpc://127.0.0.1:" + std::to_string(PortOf(service.GetServiceUrl())));
    service.Stop();
    // The remote service is gone: the Connected probe fails and the state drops.
    EXPECT_TRUE(WaitForState(c, ServiceState::Unreachable, 3000));
}

// ---- the remote check and descriptions ----

TEST(ServiceControllerVerify, RemoteCheckAnsweringFaultingAndAbsent) {
    CServiceController answering(StandIn({"present=up"}));
    ASSERT_TRUE(answering.Start(Usb()));
    CServiceController faulting(StandIn({"present=up", "fault"}));
    ASSERT_TRUE(faulting.Start(Usb()));

    CServiceController c(StandIn());
    ConnectionSettings s = Remote("127.0.0.1", PortOf(answering.GetServiceUrl()));
    EXPECT_EQ(c.VerifySettings(s), VerifyOk);
    s.servicePort = PortOf(faulting.GetServiceUrl());
    EXPECT_EQ(c.VerifySettings(s), VerifyOk);
    s.servicePort = FreePort();
    EXPECT_EQ(c.VerifySettings(s), VerifyNotFound);

    SilentListener silent;
    s.servicePort = silent.port;
    auto t0 = Clock::now();
    EXPECT_EQ(c.VerifySettings(s), VerifyNotFound);
    EXPECT_GE(ElapsedMs(t0), 900);
    EXPECT_LT(ElapsedMs(t0), 5000); // the check's 1 s time-out, not the probe's 15 s

    s.connection = static_cast<ConnectionType>(5);
    EXPECT_EQ(c.VerifySettings(s), VerifyNotFound);
}

TEST(ServiceControllerVerify, DescriptionPerConnectionType) {
    CServiceController c(StandIn({"present=up"}));
    EXPECT_EQ(c.GetDescription(), "@USB"); // default settings before any start
    ConnectionSettings lan;
    lan.connection = ConnectionType::Lan;
    lan.lanSerial = "LEQ0000042";
    ASSERT_TRUE(c.Start(lan));
    EXPECT_EQ(c.GetDescription(), "LEQ0000042@LAN");
    ASSERT_TRUE(c.Start(Remote("radio.example", 2001)));
    EXPECT_EQ(c.GetDescription(), "xmlrpc://radio.example:2001");
    c.Stop();
}

// ---- the RPC client ----

TEST(RpcClientTest, ReadsAddressTexts) {
    std::string host, path;
    int port = 0;
    EXPECT_TRUE(RpcClient::ParseUrl("bin://127.0.0.1:2001", host, port, path));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 2001);
    EXPECT_EQ(path, "");
    EXPECT_TRUE(RpcClient::ParseUrl("http://[::1]:80/RPC2", host, port, path));
    EXPECT_EQ(host, "::1");
    EXPECT_EQ(path, "/RPC2");
    EXPECT_FALSE(RpcClient::ParseUrl("bin://127.0.0.1:", host, port, path));
    EXPECT_FALSE(RpcClient::ParseUrl("bin://127.0.0.1:99999999", host, port, path));
    EXPECT_FALSE(RpcClient::ParseUrl("ftp://h:1", host, port, path));
    EXPECT_FALSE(RpcClient::ParseUrl("bin://:2001", host, port, path));
}

TEST(RpcClientTest, TimeOutAndAbortEndAWaitingCall) {
    SilentListener silent;
    XmlRpc::XmlRpcValue params, result;
    RpcClient timed("127.0.0.1", silent.port);
    timed.SetTimeout(300);
    auto t0 = Clock::now();
    EXPECT_FALSE(timed.Execute(ListInterfacesMethod, params, result));
    EXPECT_GE(ElapsedMs(t0), 280);
    EXPECT_LT(ElapsedMs(t0), 5000);

    RpcAbort abort;
    RpcClient waiting("bin://127.0.0.1:" + std::to_string(silent.port));
    waiting.SetTimeout(15000);
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        abort.Signal();
    });
    t0 = Clock::now();
    EXPECT_FALSE(waiting.Execute(ListInterfacesMethod, params, result, &abort));
    EXPECT_LT(ElapsedMs(t0), 5000); // the abort, not the 15 s time-out
    stopper.join();
    // Signalled stays signalled until reset.
    EXPECT_TRUE(abort.IsSignalled());
    abort.Reset();
    EXPECT_FALSE(abort.IsSignalled());
}

TEST(RpcClientTest, RefusedConnectionIsAFailureNotAnEmptyAnswer) {
    RpcClient c("127.0.0.1", FreePort());
    XmlRpc::XmlRpcValue params, result;
    EXPECT_FALSE(c.Execute(ListInterfacesMethod, params, result));
    EXPECT_FALSE(c.IsFault());
}
