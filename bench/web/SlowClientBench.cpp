// Figures for connections of other local users: the time the web UI's page (the start page and
// its style sheet) takes to load while another process holds 200 connections to the server,
// against the same load with none, in one run. Twice: with 200 connections that send nothing,
// and with 200 that have sent the start of a request head; each one the server drops is opened
// anew at once. Target: a ratio of at most 2.
// Usage: web_slow_client_bench [loads]
#include "CWebServer.h"
#include "StartWebServer.h"
#include "WebTestSupport.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// The median time of one page load, in seconds.
double PageLoad(const CWebServer& server, int loads) {
    std::vector<double> times;
    for (int i = 0; i < loads; ++i) {
        auto start = std::chrono::steady_clock::now();
        if (Get(server.GetPort(), "/index.htm", server.GetToken()).status != 200 ||
            Get(server.GetPort(), "/style.css", server.GetToken()).status != 200) {
            std::fprintf(stderr, "the page did not load\n");
            std::exit(1);
        }
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Another process that holds 200 connections to the port, each opened anew when dropped; those
// that are not silent have sent `start` (and nothing after it).
std::unique_ptr<OtherUser> Crowd(int port, const std::string& start) {
    auto crowd = std::make_unique<OtherUser>([port, start](int report) {
        auto open = [&] {
            const int fd = ConnectTo(port);
            if (fd >= 0 && !start.empty())
                ::send(fd, start.data(), start.size(), MSG_NOSIGNAL);
            return fd;
        };
        std::vector<pollfd> held(200);
        for (pollfd& p : held)
            p = {open(), POLLIN, 0};
        ::write(report, "\n", 1);
        for (;;) {
            ::poll(held.data(), held.size(), 1000);
            for (pollfd& p : held)
                if (p.revents != 0) {
                    ::close(p.fd);
                    p = {open(), POLLIN, 0};
                }
        }
    });
    crowd->ReadUntil('\n', 10000);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return crowd;
}

} // namespace

int main(int argc, char** argv) {
    const int loads = argc > 1 ? std::atoi(argv[1]) : 50;
    CWebServer server;
    if (!StartWebServer(server, "", "/tmp/kp-cfg"))
        return 1;
    const int port = server.GetPort();
    PageLoad(server, 5); // warm up
    const double alone = PageLoad(server, loads);
    double silent = 0, started = 0;
    {
        auto crowd = Crowd(port, "");
        silent = PageLoad(server, loads);
    }
    {
        auto crowd =
            Crowd(port, "GET /index.htm HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n");
        started = PageLoad(server, loads);
    }
    server.Stop();

    std::printf("page load with 200 idle connections of another process / with none: %.3f "
                "(%.2f ms / %.2f ms, target <= 2)\n",
                silent / alone, 1000 * silent, 1000 * alone);
    std::printf("page load with 200 connections that sent part of a request head / with none: "
                "%.3f (%.2f ms / %.2f ms)\n",
                started / alone, 1000 * started, 1000 * alone);
    return 0;
}
