// Tests that need a private network namespace: the server must not answer on an address other
// than the loopback one, and the web UI's device page talks to a stand-in radio service whose
// XML-RPC server listens on every address of the namespace.
#include "CWebServer.h"
#include "StandInService.h"
#include "StartWebServer.h"
#include "WebTestSupport.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace {

bool InNamespace() {
    const char* flag = std::getenv("VK_IN_NETNS");
    return flag && std::string(flag) == "1";
}

#define REQUIRE_NAMESPACE()                                                                        \
    if (!InNamespace())                                                                            \
    GTEST_SKIP() << "runs only inside its private network namespace"

class DeviceConfigPageTest : public ::testing::Test {
protected:
    CWebServer server;

    std::string Page(const std::string& serviceUrl) {
        if (!StartWebServer(server, serviceUrl, "/tmp/kp-cfg"))
            return "no server";
        HttpAnswer answer = Get(server.GetPort(), "/config/devconfig.cgi", server.GetToken());
        EXPECT_EQ(answer.status, 200) << answer.body;
        return answer.body;
    }
};

TEST(LoopbackOnlyTest, NoAnswerOnAnotherAddressOfThisHost) {
    REQUIRE_NAMESPACE();
    ASSERT_EQ(std::system("ip link add vkweb0 type veth peer name vkweb1 && "
                          "ip addr add 10.77.0.1/24 dev vkweb0 && "
                          "ip link set vkweb0 up && ip link set vkweb1 up"),
              0);
    CWebServer server;
    ASSERT_TRUE(StartWebServer(server, "", "/tmp/kp-cfg"));
    EXPECT_TRUE(CanConnect("127.0.0.1", server.GetPort()));
    EXPECT_FALSE(CanConnect("10.77.0.1", server.GetPort()));

    // The second address does take connections on a socket bound to every address.
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    ASSERT_EQ(::listen(probe, 1), 0);
    socklen_t len = sizeof any;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&any), &len);
    EXPECT_TRUE(CanConnect("10.77.0.1", ntohs(any.sin_port)));
    ::close(probe);
}

TEST_F(DeviceConfigPageTest, StartPageIsServedFromTheBuild) {
    REQUIRE_NAMESPACE();
    ASSERT_TRUE(StartWebServer(server, "", "/tmp/kp-cfg"));
    HttpAnswer index = Get(server.GetPort(), "/index.htm", server.GetToken());
    EXPECT_EQ(index.status, 200);
    // Linked relative to the page, so that it works below the mount as well.
    EXPECT_NE(index.body.find("<a href=\"config/devconfig.cgi\">"), std::string::npos);
}

TEST_F(DeviceConfigPageTest, ListsConnectedInterface) {
    REQUIRE_NAMESPACE();
    StandInService service(StandInService::Connected);
    std::string page = Page(service.Url());
    EXPECT_NE(page.find("<td>0123456789</td><td><span class=\"ok\">verbunden</span>"),
              std::string::npos)
        << page;
    // Text from the service is escaped, never markup.
    EXPECT_NE(page.find("&lt;b&gt;98&amp;76&lt;/b&gt;"), std::string::npos) << page;
    // The service in plain words; the flags of IC_OPTIONS hide their sections, which the page
    // names in words, never by the flags' names.
    EXPECT_NE(page.find("Funkdienst auf 127.0.0.1, Port " + service.Port() + "<"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("Diese Installation bietet nicht: R\xC3\xA4ume"), std::string::npos);
    EXPECT_EQ(page.find("NO_"), std::string::npos) << page;
    EXPECT_EQ(page.find("<h3>Funktionen</h3>"), std::string::npos);
}

TEST_F(DeviceConfigPageTest, ShowsInterfaceNotConnected) {
    REQUIRE_NAMESPACE();
    StandInService service(StandInService::Disconnected);
    std::string page = Page(service.Url());
    EXPECT_NE(page.find("<td>0123456789</td><td><span class=\"off\">nicht verbunden</span>"),
              std::string::npos)
        << page;
}

TEST_F(DeviceConfigPageTest, SaysSoWithoutAService) {
    REQUIRE_NAMESPACE();
    EXPECT_NE(Page("").find("Zurzeit l\xC3\xA4uft kein Funkdienst"), std::string::npos);
    // A port where nothing listens.
    int closedPort = 0;
    {
        StandInService gone(StandInService::Connected);
        closedPort = std::stoi(gone.Url().substr(16));
    }
    EXPECT_NE(Page("bin://127.0.0.1:" + std::to_string(closedPort)).find("nicht erreichbar"),
              std::string::npos);
    StandInService faulty(StandInService::Fault);
    EXPECT_NE(Page(faulty.Url()).find("mit einem Fehler geantwortet"), std::string::npos);
}

// The page reads the answer as XML, however it is laid out, shows UTF-8 text as written, and
// reaches a service at an IPv6 address the way the controller writes it.
TEST_F(DeviceConfigPageTest, ReadsAnswersAsOtherServersWriteThem) {
    REQUIRE_NAMESPACE();
    RawAnswerService pretty(kPrettyAnswer, true);
    if (pretty.port == 0)
        GTEST_SKIP() << "this machine has no IPv6 loopback address";
    std::string page = Page("bin://::1:" + std::to_string(pretty.port));
    EXPECT_NE(page.find("<td>K\xC3\xBC"
                        "che-\xCE\xA9&lt;1&gt;</td><td><span class=\"ok\">"
                        "verbunden</span>"),
              std::string::npos)
        << page;
    EXPECT_EQ(page.find("WRONG"), std::string::npos) << page;

    // A character reference beyond Unicode is an unreadable answer, not a script error.
    RawAnswerService bad("<?xml version=\"1.0\"?><methodResponse><params><param><value><array>"
                         "<data><value><struct><member><name>ADDRESS</name><value>&#99999999999;"
                         "</value></member></struct></value></data></array></value></param>"
                         "</params></methodResponse>",
                         false);
    page = Page("bin://127.0.0.1:" + std::to_string(bad.port));
    EXPECT_NE(page.find("unverst\xC3\xA4ndlich"), std::string::npos) << page;
}

TEST_F(DeviceConfigPageTest, FollowsTheNewServiceAddress) {
    REQUIRE_NAMESPACE();
    ASSERT_TRUE(StartWebServer(server, "", "/tmp/kp-cfg"));
    StandInService service(StandInService::Connected);
    server.UpdateRadlexService(service.Url());
    HttpAnswer answer = Get(server.GetPort(), "/config/devconfig.cgi", server.GetToken());
    EXPECT_NE(answer.body.find("0123456789"), std::string::npos) << answer.body;

    // The service has ended: the page no longer names it, whatever took its port since.
    server.UpdateRadlexService("");
    answer = Get(server.GetPort(), "/config/devconfig.cgi", server.GetToken());
    EXPECT_NE(answer.body.find("Zurzeit l\xC3\xA4uft kein Funkdienst"), std::string::npos)
        << answer.body;
    EXPECT_EQ(answer.body.find("0123456789"), std::string::npos) << answer.body;
    EXPECT_EQ(answer.body.find(service.Port()), std::string::npos) << answer.body;
}

// A name server that never answers does not hold the page beyond the call's 3 s: this test
// gives itself a private mount namespace whose resolver configuration names a silent server on
// the loopback address.
TEST_F(DeviceConfigPageTest, SilentNameServerDoesNotHoldThePage) {
    REQUIRE_NAMESPACE();
    ScratchDir dir("resolver");
    dir.Write("resolv.conf", "nameserver 127.0.0.77\noptions timeout:10 attempts:3\n");
    dir.Write("hosts", "127.0.0.1 localhost\n");
    ASSERT_EQ(::unshare(CLONE_NEWNS), 0);
    ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    ASSERT_EQ(::mount((dir.Path() + "/resolv.conf").c_str(), "/etc/resolv.conf", nullptr, MS_BIND,
                      nullptr),
              0);
    ASSERT_EQ(::mount((dir.Path() + "/hosts").c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(std::system("ip addr add 127.0.0.77/32 dev lo 2>/dev/null; true"), 0);
    int silent = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(53);
    sa.sin_addr.s_addr = htonl(0x7f00004d);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);

    auto before = std::chrono::steady_clock::now();
    std::string page = Page("bin://radio.invalid-host.example:2001");
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_NE(page.find("Der Funkdienst antwortet nicht."), std::string::npos) << page;
    EXPECT_LT(took, std::chrono::milliseconds(4500));
    ::close(silent);
}

} // namespace
