// The web server host against real HTTP requests on 127.0.0.1, with a stand-in interpreter
// that reports what each script received.
#include "CWebServer.h"
#include "WebTestSupport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

namespace {

const std::string kInterpreter = std::string(VK_BIN_DIR) + "/web_test_interp";

class WebServerTest : public ::testing::Test {
protected:
    ScratchDir dir{::testing::UnitTest::GetInstance()->current_test_info()->name()};
    std::string root = dir.Path() + "/root";
    CWebServer server;

    void SetUp() override {
        dir.Write("root/index.htm", "<html><body>Startseite</body></html>");
        dir.Write("root/env.cgi", "env");
        dir.Write("root/config/env.cgi", "env");
        dir.Write("root/echo.cgi", "echo");
        dir.Write("root/perl.pl", "env");
        dir.Write("root/page.php", "env");
        dir.Write("root/scripted/index.cgi", "env");
        dir.Write("root/listed/a.txt", "a");
        dir.Write("root/wait.cgi", "wait-env");
        dir.Write("root/hang.cgi", "hang");
        dir.Write("root/garbage.cgi", "garbage");
        dir.Write("root/status.cgi", "status");
        dir.Write("root/location.cgi", "location");
        dir.Write("root/background.cgi", "background");
        dir.Write("root/marker.cgi", "marker");
        server.SetPort(0);
        server.SetDocumentRoot(root);
        server.SetCgiInterpreter(kInterpreter);
        server.SetCgiVariable("CONFIG_ROOT", "/tmp/kp-cfg");
        server.SetCgiVariable("IC_OPTIONS", "NO_PROFILE_MAPPING|NO_ROOMS|NO_FUNCTIONS");
        server.SetCgiVariable("RADLEX_SERVICE", "bin://127.0.0.1:2001");
        server.SetCgiVariable("TCL_LIBRARY", "/opt/tcl");
    }

    void StartServer() {
        ASSERT_TRUE(server.Start());
        ASSERT_GT(server.GetPort(), 0);
    }
};

// --- Life cycle -------------------------------------------------------------------------------

TEST_F(WebServerTest, PortIsChosenBySystemAndDiffersBetweenServers) {
    EXPECT_EQ(server.GetPort(), -1);
    StartServer();
    CWebServer other;
    other.SetPort(0);
    other.SetDocumentRoot(root);
    ASSERT_TRUE(other.Start());
    EXPECT_GT(other.GetPort(), 0);
    EXPECT_NE(other.GetPort(), server.GetPort());
    EXPECT_EQ(Get(other.GetPort(), "/index.htm", other.GetToken()).status, 200);
}

TEST_F(WebServerTest, StopTwiceIsHarmlessAndLeavesNoPort) {
    StartServer();
    int port = server.GetPort();
    server.Stop();
    EXPECT_EQ(server.GetPort(), -1);
    server.Stop();
    EXPECT_EQ(server.GetPort(), -1);
    EXPECT_FALSE(CanConnect("127.0.0.1", port));
}

TEST_F(WebServerTest, StartOnARunningServerRestartsIt) {
    StartServer();
    ASSERT_TRUE(server.Start());
    EXPECT_EQ(Get(server.GetPort(), "/index.htm", server.GetToken()).status, 200);
}

TEST_F(WebServerTest, RefusedOptionsLeaveTheServerStopped) {
    server.SetPort(-5);
    EXPECT_FALSE(server.Start());
    EXPECT_EQ(server.GetPort(), -1);
    server.SetPort(0);
    server.options["-no_such_option"] = "1";
    EXPECT_FALSE(server.Start());
    EXPECT_EQ(server.GetPort(), -1);
}

TEST_F(WebServerTest, PortInUseLeavesTheServerStopped) {
    StartServer();
    CWebServer second;
    second.SetPort(server.GetPort());
    second.SetDocumentRoot(root);
    EXPECT_FALSE(second.Start());
    EXPECT_EQ(second.GetPort(), -1);
}

TEST_F(WebServerTest, StopKillsAHangingScriptPromptly) {
    StartServer();
    const int port = server.GetPort(); // read here: the server is stopped while the client waits
    const std::string token = server.GetToken();
    std::thread client([port, token] { Get(port, "/hang.cgi", token); });
    int idle = ::socket(AF_INET, SOCK_STREAM, 0); // a client that never sends its request
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(idle, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto before = std::chrono::steady_clock::now();
    server.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(750));
    ::close(idle);
    client.join();
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1); // no child left, reaped or not
}

// --- Files --------------------------------------------------------------------------------------

TEST_F(WebServerTest, ServesIndexAndListsDirectories) {
    StartServer();
    HttpAnswer index = Get(server.GetPort(), "/index.htm", server.GetToken());
    EXPECT_EQ(index.status, 200);
    EXPECT_NE(index.body.find("Startseite"), std::string::npos);
    EXPECT_NE(Get(server.GetPort(), "/", server.GetToken()).body.find("Startseite"),
              std::string::npos);
    HttpAnswer listing = Get(server.GetPort(), "/listed/", server.GetToken());
    EXPECT_EQ(listing.status, 200);
    EXPECT_NE(listing.body.find("a.txt"), std::string::npos);
    EXPECT_EQ(Get(server.GetPort(), "/missing.htm", server.GetToken()).status, 404);
    EXPECT_FALSE(index.headers.count("access-control-allow-origin"));
}

// --- The CGI environment
// ---------------------------------------------------------------------------

TEST_F(WebServerTest, ScriptGetsExactlyTheCgiEnvironment) {
    ::setenv("VK_PRIVATE_SETTING", "geheim", 1);
    ::setenv("PERLLIB", "/perl/lib", 1);
    StartServer();
    int port = server.GetPort();
    HttpAnswer answer =
        SendRaw("127.0.0.1", port,
                "GET /config/env.cgi?a=1&b=2 HTTP/1.1\r\n" + OwnHeaders(port, server.GetToken()) +
                    "X-Custom-Thing: 42\r\nProxy: http://evil/\r\nConnection: close\r\n\r\n");
    ASSERT_EQ(answer.status, 200);
    auto env = ParseEnvironment(answer.body);
    std::set<std::string> names;
    for (const auto& [name, value] : env)
        names.insert(name);
    std::set<std::string> expected{"GATEWAY_INTERFACE",
                                   "SERVER_PROTOCOL",
                                   "REDIRECT_STATUS",
                                   "SERVER_PORT",
                                   "SERVER_NAME",
                                   "SERVER_ROOT",
                                   "DOCUMENT_ROOT",
                                   "REQUEST_METHOD",
                                   "REMOTE_ADDR",
                                   "REMOTE_PORT",
                                   "REQUEST_URI",
                                   "SCRIPT_NAME",
                                   "SCRIPT_FILENAME",
                                   "PATH_TRANSLATED",
                                   "CONTENT_LENGTH",
                                   "QUERY_STRING",
                                   "PATH",
                                   "PERLLIB",
                                   "CONFIG_ROOT",
                                   "IC_OPTIONS",
                                   "RADLEX_SERVICE",
                                   "TCL_LIBRARY",
                                   "HTTP_HOST",
                                   "HTTP_X_CUSTOM_THING",
                                   "HTTP_CONNECTION"};
    EXPECT_EQ(names, expected);

    EXPECT_EQ(env["GATEWAY_INTERFACE"], "CGI/1.1");
    EXPECT_EQ(env["SERVER_PROTOCOL"], "HTTP/1.1");
    EXPECT_EQ(env["SERVER_PORT"], std::to_string(port));
    EXPECT_EQ(env["REQUEST_METHOD"], "GET");
    EXPECT_EQ(env["REMOTE_ADDR"], "127.0.0.1");
    EXPECT_EQ(env["REQUEST_URI"], "/config/env.cgi?a=1&b=2");
    EXPECT_EQ(env["QUERY_STRING"], "a=1&b=2");
    EXPECT_EQ(env["SCRIPT_NAME"], "/config/env.cgi");
    EXPECT_EQ(env["DOCUMENT_ROOT"], root);
    EXPECT_EQ(env["CONTENT_LENGTH"], "0");
    EXPECT_EQ(env["PATH"], ::getenv("PATH"));
    EXPECT_EQ(env["PERLLIB"], "/perl/lib");
    EXPECT_EQ(env["IC_OPTIONS"], "NO_PROFILE_MAPPING|NO_ROOMS|NO_FUNCTIONS");
    EXPECT_EQ(env["RADLEX_SERVICE"], "bin://127.0.0.1:2001");
    EXPECT_EQ(env["HTTP_X_CUSTOM_THING"], "42");

    // The interpreter gets the bare file name, runs in the script's directory and inherits
    // nothing but its three standard descriptors.
    std::string realConfig = std::filesystem::canonical(root + "/config").string();
    EXPECT_NE(answer.body.find("#arg=env.cgi\n"), std::string::npos) << answer.body;
    EXPECT_NE(answer.body.find("#cwd=" + realConfig + "\n"), std::string::npos) << answer.body;
    EXPECT_NE(answer.body.find("#fds=0 1 2 \n"), std::string::npos) << answer.body;
}

TEST_F(WebServerTest, EmptyServiceAddressReachesScriptsEmpty) {
    server.SetCgiVariable("RADLEX_SERVICE", "");
    StartServer();
    auto env = ParseEnvironment(Get(server.GetPort(), "/env.cgi", server.GetToken()).body);
    ASSERT_TRUE(env.count("RADLEX_SERVICE"));
    EXPECT_EQ(env["RADLEX_SERVICE"], "");
}

TEST_F(WebServerTest, ValueWithCommaReachesScriptWhole) {
    server.SetCgiVariable("CONFIG_ROOT", "/data/a,INJECTED=1");
    StartServer();
    server.UpdateRadlexService("bin://host:1,EVIL=yes");
    auto env = ParseEnvironment(Get(server.GetPort(), "/env.cgi", server.GetToken()).body);
    EXPECT_EQ(env["CONFIG_ROOT"], "/data/a,INJECTED=1");
    EXPECT_EQ(env["RADLEX_SERVICE"], "bin://host:1,EVIL=yes");
    EXPECT_FALSE(env.count("INJECTED"));
    EXPECT_FALSE(env.count("EVIL"));
}

TEST_F(WebServerTest, NewServiceAddressReachesNextScriptOnly) {
    StartServer();
    int port = server.GetPort();
    HttpAnswer early;
    std::thread client([&] { early = Get(port, "/wait.cgi", server.GetToken()); });
    for (int i = 0; i < 500 && !dir.Exists("root/started"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(dir.Exists("root/started"));
    server.UpdateRadlexService("bin://192.0.2.7:4711");
    auto late = ParseEnvironment(Get(port, "/env.cgi", server.GetToken()).body);
    client.join();
    EXPECT_EQ(late["RADLEX_SERVICE"], "bin://192.0.2.7:4711");
    EXPECT_EQ(ParseEnvironment(early.body)["RADLEX_SERVICE"], "bin://127.0.0.1:2001");
    EXPECT_EQ(server.GetPort(), port);
}

TEST_F(WebServerTest, PlPhpAndIndexCgiRunThroughTheInterpreter) {
    StartServer();
    for (const char* target : {"/perl.pl", "/page.php", "/scripted/"}) {
        HttpAnswer answer = Get(server.GetPort(), target, server.GetToken());
        EXPECT_EQ(answer.status, 200) << target;
        EXPECT_NE(answer.body.find("GATEWAY_INTERFACE=CGI/1.1"), std::string::npos) << target;
    }
    EXPECT_EQ(ParseEnvironment(
                  Get(server.GetPort(), "/scripted/", server.GetToken()).body)["SCRIPT_NAME"],
              "/scripted/index.cgi");
}

TEST_F(WebServerTest, PathInfoFollowsTheScript) {
    StartServer();
    auto env =
        ParseEnvironment(Get(server.GetPort(), "/env.cgi/extra/part", server.GetToken()).body);
    EXPECT_EQ(env["SCRIPT_NAME"], "/env.cgi");
    EXPECT_EQ(env["PATH_INFO"], "/extra/part");
}

TEST_F(WebServerTest, PostBodyReachesTheScript) {
    StartServer();
    std::string body(1 << 20, 'x'); // larger than a pipe holds
    for (size_t i = 0; i < body.size(); i += 4096)
        body[i] = static_cast<char>('a' + i % 26);
    HttpAnswer answer = Post(server.GetPort(), "/echo.cgi", body, server.GetToken());
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, body);
    auto env =
        ParseEnvironment(Post(server.GetPort(), "/env.cgi", "name=wert", server.GetToken()).body);
    EXPECT_EQ(env["CONTENT_LENGTH"], "9");
    EXPECT_EQ(env["CONTENT_TYPE"], "text/plain");
    EXPECT_EQ(env["REQUEST_METHOD"], "POST");
}

// --- Script answers and failures ------------------------------------------------------------

TEST_F(WebServerTest, StatusAndLocationHeadersAreUnderstood) {
    StartServer();
    HttpAnswer status = Get(server.GetPort(), "/status.cgi", server.GetToken());
    EXPECT_EQ(status.status, 404);
    EXPECT_EQ(status.body, "weg");
    HttpAnswer location = Get(server.GetPort(), "/location.cgi", server.GetToken());
    EXPECT_EQ(location.status, 302);
    EXPECT_EQ(location.headers["location"], "/index.htm");
}

TEST_F(WebServerTest, FailingScriptsGiveReadableErrorPages) {
    server.SetCgiTimeout(500);
    StartServer();
    HttpAnswer garbage = Get(server.GetPort(), "/garbage.cgi", server.GetToken());
    EXPECT_EQ(garbage.status, 502);
    EXPECT_NE(garbage.body.find("Fehler im Skript"), std::string::npos);
    auto before = std::chrono::steady_clock::now();
    HttpAnswer hang = Get(server.GetPort(), "/hang.cgi", server.GetToken());
    EXPECT_EQ(hang.status, 504);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    EXPECT_NE(hang.body.find("nicht rechtzeitig"), std::string::npos);

    server.SetCgiInterpreter(dir.Path() + "/no-such-interpreter");
    ASSERT_TRUE(server.Start());
    EXPECT_EQ(Get(server.GetPort(), "/env.cgi", server.GetToken()).status, 500);
}

// A script that has answered and exited is done, even if something it started in the background
// still holds its output open.
TEST_F(WebServerTest, ScriptThatLeavesABackgroundProcessAnswersAtOnce) {
    StartServer();
    auto before = std::chrono::steady_clock::now();
    HttpAnswer answer = Get(server.GetPort(), "/background.cgi", server.GetToken());
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "fertig");
    // What the script left behind has ended with it.
    std::ifstream pidFile(root + "/bgpid");
    int child = 0;
    ASSERT_TRUE(pidFile >> child);
    std::string state = "gone";
    for (int i = 0; i < 100; ++i) {
        std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
        std::string line;
        state = std::getline(stat, line) ? line.substr(line.rfind(')') + 2, 1) : "gone";
        if (state == "gone" || state == "Z")
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(state == "gone" || state == "Z") << state;
}

// Clients that send only part of their body, or send it a byte at a time, get 400 at the
// request time-out without running the script, and cannot keep every worker from the page.
TEST_F(WebServerTest, SlowOrShortBodiesCannotHoldTheServer) {
    server.SetRequestTimeout(1000);
    StartServer();
    const int port = server.GetPort();
    const std::string head = "POST /marker.cgi HTTP/1.0\r\n" + OwnHeaders(port, server.GetToken()) +
                             "Content-Length: 100\r\n\r\n";
    std::vector<int> answers(17, 0);
    std::vector<std::thread> clients;
    for (int i = 0; i < 16; ++i)
        clients.emplace_back([&, i] {
            answers[i] = SendRaw("127.0.0.1", port, head + std::string(50, 'x')).status;
        });
    clients.emplace_back([&] { answers[16] = Trickle(port, head, 100).status; });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto before = std::chrono::steady_clock::now();
    HttpAnswer page = Get(port, "/index.htm", server.GetToken());
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1500));
    EXPECT_EQ(page.status, 200);
    for (std::thread& t : clients)
        t.join();
    for (int status : answers)
        EXPECT_EQ(status, 400);
    EXPECT_FALSE(dir.Exists("root/ran"));
}

TEST_F(WebServerTest, ThousandRequestsLeaveNoZombiesOrDescriptors) {
    StartServer();
    Get(server.GetPort(), "/env.cgi", server.GetToken()); // let the engine open what it keeps
    // The engine may still hold that connection for a moment: the baseline is the fewest seen.
    int descriptors = CountOpenDescriptors();
    for (int i = 0; i < 50; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        descriptors = std::min(descriptors, CountOpenDescriptors());
    }
    for (int i = 0; i < 1000; ++i) {
        const char* target = i % 10 == 0 ? "/garbage.cgi" : "/env.cgi";
        ASSERT_NE(Get(server.GetPort(), target, server.GetToken()).status, 0) << "request " << i;
    }
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    // The engine closes a connection just after the client has read its end; on a loaded
    // machine (sanitizer builds, parallel tests) that can take several seconds.
    for (int i = 0; i < 3000 && CountOpenDescriptors() > descriptors; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(CountOpenDescriptors(), descriptors);
}

// --- Nothing outside the document root
// ------------------------------------------------------------

TEST_F(WebServerTest, TraversalIsRefused) {
    dir.Write("secret.txt", "geheim");
    dir.Write("outside.cgi", "marker");
    std::filesystem::create_directory_symlink(dir.Path(), root + "/link-out");
    std::filesystem::create_symlink(dir.Path() + "/outside.cgi", root + "/linked.cgi");
    std::filesystem::create_symlink(dir.Path() + "/secret.txt", root + "/linked.txt");
    std::filesystem::create_directories(root + "/linkdir");
    std::filesystem::create_symlink(dir.Path() + "/secret.txt", root + "/linkdir/index.html");
    StartServer();
    int port = server.GetPort();
    for (const char* target : {"/../secret.txt", "/%2e%2e/secret.txt", "/%2E%2E%2Fsecret.txt",
                               "/config/..%2f..%2fsecret.txt", "/config/%2e%2e/%2e%2e/secret.txt",
                               "/link-out/secret.txt", "/link-out/outside.cgi", "/linked.cgi",
                               "/linked.txt", "/linkdir/", "/./../outside.cgi"}) {
        HttpAnswer answer = SendRaw("127.0.0.1", port,
                                    std::string("GET ") + target + " HTTP/1.0\r\n" +
                                        OwnHeaders(port, server.GetToken()) + "\r\n");
        EXPECT_NE(answer.status, 200) << target;
        EXPECT_EQ(answer.body.find("geheim"), std::string::npos) << target;
    }
    EXPECT_FALSE(dir.Exists("ran"));
    // A link that stays inside the root is followed.
    std::filesystem::create_symlink(root + "/env.cgi", root + "/inside.cgi");
    EXPECT_EQ(Get(port, "/inside.cgi", server.GetToken()).status, 200);
}

} // namespace

namespace {

// --- Who is admitted ------------------------------------------------------------------------

// Over real HTTP (the rules have their table in RequestHandlerTest): the secret by header, or by
// the cookie that "?token=" hands over for the mount; nothing else; and every kind of answer
// carries the headers that keep other sites out.
TEST_F(WebServerTest, OnlyTheOwnProgramIsServed) {
    StartServer();
    const int port = server.GetPort();
    const std::string token = server.GetToken();
    const std::string mount = server.GetMount();
    ASSERT_EQ(token.size(), 32u);
    ASSERT_EQ(mount.size(), 32u);
    EXPECT_NE(mount, token);
    auto request = [&](const std::string& lines, const std::string& target,
                       const std::string& method = "GET") {
        return SendRaw("127.0.0.1", port, method + " " + target + " HTTP/1.0\r\n" + lines + "\r\n");
    };
    const std::string own = OwnHeaders(port, "");
    const std::string admitted = OwnHeaders(port, token);

    HttpAnswer byHeader = Get(port, "/index.htm", token);
    EXPECT_EQ(byHeader.status, 200);
    EXPECT_NE(byHeader.body.find("Startseite"), std::string::npos);
    HttpAnswer refused = request(own, "/index.htm");
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(refused.body.find("Startseite"), std::string::npos);

    HttpAnswer byQuery = request(own, "/index.htm?token=" + token);
    EXPECT_EQ(byQuery.status, 302);
    EXPECT_EQ(byQuery.headers["location"], "/" + mount + "/index.htm");
    EXPECT_EQ(byQuery.headers["set-cookie"],
              "kp_config_token=" + token + "; HttpOnly; SameSite=Strict; Path=/" + mount + "/");
    const std::string cookie = own + "Cookie: kp_config_token=" + token + "\r\n";
    HttpAnswer mounted = request(cookie, "/" + mount + "/index.htm");
    EXPECT_EQ(mounted.status, 200);
    EXPECT_EQ(mounted.body, byHeader.body);
    HttpAnswer head = request(admitted, "/index.htm", "HEAD");
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.body, "");

    for (HttpAnswer answer :
         {byHeader, refused, byQuery, mounted, request(cookie, "/" + mount + "/env.cgi"),
          request(admitted, "/listed/"), request(admitted, "/listed"),
          request(admitted, "/missing.htm"), request(admitted, "/", "PROPFIND")}) {
        EXPECT_NE(answer.headers["content-security-policy"].find(
                      "default-src 'self'; frame-ancestors 'none'"),
                  std::string::npos)
            << answer.status;
        EXPECT_EQ(answer.headers["x-content-type-options"], "nosniff") << answer.status;
        EXPECT_EQ(answer.headers["referrer-policy"], "no-referrer") << answer.status;
        EXPECT_EQ(answer.headers["connection"], "close") << answer.status;
    }
}

} // namespace

namespace {

// Requests whose body could be read in two ways, or whose body is broken, run no script and are
// answered at once, with the connection closed.
TEST_F(WebServerTest, AmbiguousOrBrokenRequestsRunNothing) {
    StartServer();
    const int port = server.GetPort();
    const std::string head = "POST /marker.cgi HTTP/1.1\r\n" + OwnHeaders(port, server.GetToken()) +
                             "Connection: close\r\nContent-Type: text/plain\r\n";
    for (const std::string& rest :
         {std::string("Content-Length: 2\r\nContent-Length: 3\r\n\r\nabc"),
          std::string(
              "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"),
          std::string("Transfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n0\r\n\r\n"),
          std::string("Transfer-Encoding: chunked\r\n\r\n3\r\nabcdef\r\n0\r\n\r\n")}) {
        auto before = std::chrono::steady_clock::now();
        HttpAnswer answer = SendRaw("127.0.0.1", port, head + rest);
        EXPECT_EQ(answer.status, 400) << rest;
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2)) << rest;
    }
    EXPECT_FALSE(dir.Exists("root/ran"));

    // Too large: refused without reading it, and the connection ends with the answer.
    auto before = std::chrono::steady_clock::now();
    HttpAnswer tooLarge = SendRaw("127.0.0.1", port, head + "Content-Length: 999999999\r\n\r\nab");
    EXPECT_EQ(tooLarge.status, 413);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));

    // A well-formed chunked body still reaches the script, and a header spelt with "_" does not
    // pass itself off as the one spelt with "-".
    HttpAnswer chunked =
        SendRaw("127.0.0.1", port,
                "POST /env.cgi HTTP/1.1\r\n" + OwnHeaders(port, server.GetToken()) +
                    "Connection: close\r\nX-Role: user\r\nX_Role: admin\r\n"
                    "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n");
    auto env = ParseEnvironment(chunked.body);
    EXPECT_EQ(chunked.status, 200);
    EXPECT_EQ(env["CONTENT_LENGTH"], "3");
    EXPECT_EQ(env["HTTP_X_ROLE"], "user");
}

} // namespace

namespace {

// Another local user holds 200 connections to the port, half of them silent, half having sent
// the start of a request head, and opens each anew as soon as it is dropped: the program's own
// page still loads at once.
TEST_F(WebServerTest, AnotherUsersIdleConnectionsDoNotHoldUpThePage) {
    StartServer();
    const int port = server.GetPort();
    OtherUser crowd([port](int report) {
        const std::string start = "GET /index.htm HTTP/1.1\r\nHost: 127.0.0.1:" +
                                  std::to_string(port) + "\r\n";
        auto open = [&](int i) {
            const int fd = ConnectTo(port);
            if (fd >= 0 && i % 2 == 1)
                ::send(fd, start.data(), start.size(), MSG_NOSIGNAL);
            return fd;
        };
        std::vector<pollfd> held(200);
        for (int i = 0; i < 200; ++i)
            held[i] = {open(i), POLLIN, 0};
        ::write(report, "ready\n", 6);
        for (;;) {
            ::poll(held.data(), held.size(), 1000);
            for (int i = 0; i < 200; ++i)
                if (held[i].revents != 0) {
                    ::close(held[i].fd);
                    held[i] = {open(i), POLLIN, 0};
                }
        }
    });
    ASSERT_EQ(crowd.ReadUntil('\n', 10000), "ready");
    for (int i = 0; i < 3; ++i) {
        auto before = std::chrono::steady_clock::now();
        HttpAnswer page = Get(port, "/index.htm", server.GetToken());
        EXPECT_EQ(page.status, 200);
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
}

} // namespace
