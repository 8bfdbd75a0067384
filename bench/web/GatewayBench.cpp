// Figures for the gateway: latency of a trivial CGI script through the host's gateway against
// the engine's own CGI support for the same script, and static file requests per second
// through the host against the engine's own file serving, and of a 64 KiB POST to an echo
// script through each, all in the same run, as ratios.
// Usage: web_gateway_bench [requests]
#include "CWebServer.h"
#include "WebTestSupport.h"

#include <civetweb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

double SecondsFor(int port, const std::string& target, int requests,
                  const std::string& token = "") {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < requests; ++i)
        if (Get(port, target, token).status != 200) {
            std::fprintf(stderr, "request to %s failed\n", target.c_str());
            std::exit(1);
        }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The same for a POST of `body` to an echo script, which must come back whole.
double PostSecondsFor(int port, const std::string& target, const std::string& body, int requests,
                      const std::string& token = "") {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < requests; ++i)
        if (Post(port, target, body, token).body != body) {
            std::fprintf(stderr, "POST to %s failed\n", target.c_str());
            std::exit(1);
        }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    const int requests = argc > 1 ? std::atoi(argv[1]) : 300;
    ScratchDir dir("bench");
    dir.Write("root/trivial.cgi", "marker");
    dir.Write("root/page.htm", std::string(4096, 'x'));
    dir.Write("root/echo.cgi", "echo");
    const std::string body(65536, 'b');
    const std::string root = dir.Path() + "/root";
    const std::string interpreter = std::string(VK_BIN_DIR) + "/web_test_interp";

    CWebServer host;
    host.SetPort(0);
    host.SetDocumentRoot(root);
    host.SetCgiInterpreter(interpreter);
    if (!host.Start())
        return 1;

    const char* options[] = {"listening_ports", "127.0.0.1:0",       "document_root", root.c_str(),
                             "cgi_interpreter", interpreter.c_str(), nullptr};
    mg_callbacks callbacks{};
    mg_context* plain = mg_start(&callbacks, nullptr, options);
    mg_server_port port{};
    if (!plain || mg_get_server_ports(plain, 1, &port) < 1)
        return 1;

    SecondsFor(host.GetPort(), "/trivial.cgi", 20, host.GetToken()); // warm up both
    SecondsFor(port.port, "/trivial.cgi", 20);
    double gatewayCgi = SecondsFor(host.GetPort(), "/trivial.cgi", requests, host.GetToken());
    double engineCgi = SecondsFor(port.port, "/trivial.cgi", requests);
    double hostStatic = SecondsFor(host.GetPort(), "/page.htm", requests, host.GetToken());
    double engineStatic = SecondsFor(port.port, "/page.htm", requests);
    double gatewayPost =
        PostSecondsFor(host.GetPort(), "/echo.cgi", body, requests, host.GetToken());
    double enginePost = PostSecondsFor(port.port, "/echo.cgi", body, requests);
    mg_stop(plain);
    host.Stop();

    std::printf("CGI latency, gateway / engine's own CGI: %.3f (%.2f ms / %.2f ms)\n",
                gatewayCgi / engineCgi, 1000 * gatewayCgi / requests, 1000 * engineCgi / requests);
    std::printf("static requests per second, host / engine alone: %.3f (%.0f / %.0f)\n",
                engineStatic / hostStatic, requests / hostStatic, requests / engineStatic);
    // The gateway reads a body within its deadline and never hands a script a partial one.
    std::printf("64 KiB POST latency, gateway / engine's own CGI: %.3f (%.2f ms / %.2f ms)\n",
                gatewayPost / enginePost, 1000 * gatewayPost / requests,
                1000 * enginePost / requests);
    return 0;
}
