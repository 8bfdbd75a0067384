// The web server's rules without a socket: who is admitted, where the secret may go, and how the
// web UI is reached below the mount.
#include "RequestHandler.h"
#include "WebTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

namespace {

constexpr int kPort = 4711;
const std::string kToken = "0123456789abcdef0123456789abcdef";
const std::string kMount = "fedcba9876543210fedcba9876543210";
const std::string kOwnHost = "127.0.0.1:4711";

class RequestHandlerTest : public ::testing::Test {
protected:
    ScratchDir dir{::testing::UnitTest::GetInstance()->current_test_info()->name()};
    RequestHandler::Environment env;

    void SetUp() override {
        // As in the server, whose engine ignores it: a script that does not read its input.
        std::signal(SIGPIPE, SIG_IGN);
        dir.Write("root/index.htm", "<p>Startseite</p>");
        dir.Write("root/config/env.cgi", "env");
        dir.Write("root/config/location.cgi", "location");
        dir.Write("root/listed/a b.txt", "a");
        env.token = kToken;
        env.mount = kMount;
        env.documentRoot = dir.Path() + "/root";
        env.realRoot = std::filesystem::canonical(env.documentRoot).string();
        env.interpreter = std::string(VK_BIN_DIR) + "/web_test_interp";
    }

    // `target` is path and query as in a request line.
    Http::Response Handle(const std::string& method, const std::string& target,
                          const Http::HeaderList& headers, const std::string& body = "") {
        Http::Request request;
        request.method = method;
        request.httpVersion = "1.1";
        const size_t question = target.find('?');
        request.path = target.substr(0, question);
        request.hasQueryString = question != std::string::npos;
        request.queryString = request.hasQueryString ? target.substr(question + 1) : "";
        request.remoteAddr = "127.0.0.1";
        request.remotePort = 50000;
        request.serverPort = kPort;
        request.headers = headers;
        request.readBody = [body](std::string& into) {
            into = body;
            return Http::BodyRead::Complete;
        };
        return RequestHandler::Handle(request, env);
    }

    static std::string HeaderOf(const Http::Response& response, const std::string& name) {
        const std::string* value = Http::FindHeader(response.headers, name);
        return value ? *value : "<none>";
    }
};

const Http::HeaderList kAdmitted{{"Host", kOwnHost}, {"Authorization", "token " + kToken}};

// Host forms, the secret in header, cookie and query, methods, Origin and body framing.
TEST_F(RequestHandlerTest, GateAdmitsOnlyTheOwnProgram) {
    const std::string auth = "token " + kToken;
    struct Row {
        const char* what;
        std::string method, target;
        Http::HeaderList headers;
        int status;
    };
    const Row rows[] = {
        {"header", "GET", "/index.htm", kAdmitted, 200},
        {"localhost in capitals", "GET", "/index.htm",
         {{"Host", "LOCALHOST:4711"}, {"Authorization", auth}}, 200},
        {"no Host", "GET", "/index.htm", {{"Authorization", auth}}, 403},
        {"a foreign name", "GET", "/index.htm",
         {{"Host", "evil.example:4711"}, {"Authorization", auth}}, 403},
        {"another port", "GET", "/index.htm",
         {{"Host", "127.0.0.1:4712"}, {"Authorization", auth}}, 403},
        {"two Host headers", "GET", "/index.htm",
         {{"Host", kOwnHost}, {"Host", "evil.example"}, {"Authorization", auth}}, 400},
        {"two equal Host headers", "GET", "/index.htm",
         {{"Host", kOwnHost}, {"host", kOwnHost}, {"Authorization", auth}}, 400},
        {"no secret", "GET", "/index.htm", {{"Host", kOwnHost}}, 403},
        {"a wrong secret", "GET", "/index.htm",
         {{"Host", kOwnHost}, {"Authorization", "token " + std::string(32, '0')}}, 403},
        {"another scheme", "GET", "/index.htm",
         {{"Host", kOwnHost}, {"Authorization", "Bearer " + kToken}}, 403},
        {"cookie", "GET", "/index.htm",
         {{"Host", kOwnHost}, {"Cookie", "theme=dark; kp_config_token=" + kToken}}, 200},
        {"a cut cookie", "GET", "/index.htm",
         {{"Host", kOwnHost}, {"Cookie", "kp_config_token=" + kToken.substr(1)}}, 403},
        {"query", "GET", "/index.htm?token=" + kToken, {{"Host", kOwnHost}}, 302},
        {"a wrong query", "GET", "/index.htm?token=wrong", {{"Host", kOwnHost}}, 403},
        {"PROPFIND", "PROPFIND", "/", kAdmitted, 405},
        {"OPTIONS", "OPTIONS", "/", kAdmitted, 405},
        {"PUT", "PUT", "/index.htm", kAdmitted, 405},
        {"DELETE", "DELETE", "/index.htm", kAdmitted, 405},
        {"HEAD", "HEAD", "/index.htm", kAdmitted, 200},
        {"POST from its own page", "POST", "/config/env.cgi",
         {{"Host", kOwnHost}, {"Authorization", auth}, {"Origin", "http://127.0.0.1:4711"}}, 200},
        {"POST from another site", "POST", "/config/env.cgi",
         {{"Host", kOwnHost}, {"Authorization", auth}, {"Origin", "http://evil.example"}}, 403},
        {"POST from an opaque origin", "POST", "/config/env.cgi",
         {{"Host", kOwnHost}, {"Authorization", auth}, {"Origin", "null"}}, 403},
        {"GET from another site", "GET", "/index.htm",
         {{"Host", kOwnHost}, {"Authorization", auth}, {"Origin", "http://evil.example"}}, 200},
        {"a list as length", "POST", "/config/env.cgi",
         {{"Host", kOwnHost}, {"Authorization", auth}, {"Content-Length", "3, 5"}}, 400},
        {"a signed length", "POST", "/config/env.cgi",
         {{"Host", kOwnHost}, {"Authorization", auth}, {"Content-Length", "+3"}}, 400},
        {"two lengths", "POST", "/config/env.cgi",
         {{"Host", kOwnHost}, {"Authorization", auth}, {"Content-Length", "2"},
          {"Content-Length", "3"}},
         400},
        {"length and coding", "POST", "/config/env.cgi",
         {{"Host", kOwnHost}, {"Authorization", auth}, {"Content-Length", "3"},
          {"Transfer-Encoding", "chunked"}},
         400},
    };
    for (const Row& row : rows) {
        const Http::Response response = Handle(row.method, row.target, row.headers, "abc");
        EXPECT_EQ(response.status, row.status) << row.what;
        // A refusal shows nothing of the web UI, the secret or the mount.
        if (row.status >= 400) {
            EXPECT_TRUE(response.file.empty()) << row.what;
            EXPECT_EQ(response.body.find("Startseite"), std::string::npos) << row.what;
            EXPECT_EQ(response.body.find(kToken), std::string::npos) << row.what;
            EXPECT_EQ(response.body.find(kMount), std::string::npos) << row.what;
        }
    }
}

// The secret in an address is handed to the browser as a cookie for the mount alone, and the
// browser is sent to the same page below the mount, without the secret in its address.
TEST_F(RequestHandlerTest, SecretInTheAddressBecomesACookieForTheMountOnly) {
    const Http::HeaderList host{{"Host", kOwnHost}};
    const Http::Response page = Handle("GET", "/index.htm?a=1&token=" + kToken, host);
    EXPECT_EQ(page.status, 302);
    EXPECT_EQ(HeaderOf(page, "Location"), "/" + kMount + "/index.htm?a=1");
    EXPECT_EQ(HeaderOf(page, "Set-Cookie"),
              "kp_config_token=" + kToken + "; HttpOnly; SameSite=Strict; Path=/" + kMount + "/");
    // A directory named without its slash: one step, the secret left behind.
    EXPECT_EQ(HeaderOf(Handle("GET", "/config?token=" + kToken, host), "Location"),
              "/" + kMount + "/config/");
    EXPECT_EQ(HeaderOf(Handle("GET", "/" + kMount + "/index.htm?token=" + kToken, host),
                       "Location"),
              "/" + kMount + "/index.htm");
    // Also a client that sent the header as well is not left with the secret in its address.
    EXPECT_EQ(Handle("GET", "/config/?token=" + kToken, kAdmitted).status, 302);

    // Below the mount, the cookie admits what "/" shows.
    const Http::HeaderList cookie{{"Host", kOwnHost}, {"Cookie", "kp_config_token=" + kToken}};
    EXPECT_EQ(Handle("GET", "/" + kMount + "/index.htm", cookie).file, env.realRoot + "/index.htm");
    EXPECT_EQ(Handle("GET", "/" + kMount + "/", cookie).file, env.realRoot + "/index.htm");
    EXPECT_EQ(HeaderOf(Handle("GET", "/" + kMount, cookie), "Location"), "/" + kMount + "/");
    EXPECT_EQ(HeaderOf(Handle("GET", "/" + kMount + "/listed", cookie), "Location"),
              "/" + kMount + "/listed/");
    // A listing links relative to itself, so it works at "/" and below the mount alike.
    const Http::Response listing = Handle("GET", "/" + kMount + "/listed/", cookie);
    EXPECT_NE(listing.body.find("<a href=\"a%20b.txt\">a b.txt</a>"), std::string::npos)
        << listing.body;
    EXPECT_NE(listing.body.find("<a href=\"../\">"), std::string::npos);
    // A script's own absolute address stays below the mount.
    EXPECT_EQ(HeaderOf(Handle("GET", "/" + kMount + "/config/location.cgi", cookie), "Location"),
              "/" + kMount + "/index.htm");
    EXPECT_EQ(HeaderOf(Handle("GET", "/config/location.cgi", kAdmitted), "Location"),
              "/index.htm");
}

// A script sees the request it serves, without the secret: not its parameter, cookie or header,
// nor a Referer that held it.
TEST_F(RequestHandlerTest, ScriptsNeverSeeTheSecret) {
    const std::string mounted = "/" + kMount + "/config/env.cgi";
    Http::HeaderList headers = kAdmitted;
    headers.emplace_back("Cookie", "theme=dark; kp_config_token=" + kToken);
    headers.emplace_back("Referer", "http://127.0.0.1:4711/index.htm?x=1&token=" + kToken);
    const Http::Response script = Handle("GET", mounted + "?a=1&b=2", headers);
    ASSERT_EQ(script.status, 200) << script.body;
    auto seen = ParseEnvironment(script.body);
    EXPECT_EQ(seen["SCRIPT_NAME"], mounted);
    EXPECT_EQ(seen["REQUEST_URI"], mounted + "?a=1&b=2");
    EXPECT_EQ(seen["QUERY_STRING"], "a=1&b=2");
    EXPECT_EQ(seen["HTTP_COOKIE"], "theme=dark");
    EXPECT_EQ(seen["HTTP_REFERER"], "http://127.0.0.1:4711/index.htm?x=1");
    EXPECT_FALSE(seen.count("HTTP_AUTHORIZATION"));
    EXPECT_EQ(script.body.find(kToken), std::string::npos);

    headers.back().second = "http://127.0.0.1:4711/" + kToken + "/index.htm";
    seen = ParseEnvironment(Handle("GET", "/config/env.cgi", headers).body);
    EXPECT_FALSE(seen.count("HTTP_REFERER"));
    EXPECT_EQ(seen["GATEWAY_INTERFACE"], "CGI/1.1");
}

} // namespace
