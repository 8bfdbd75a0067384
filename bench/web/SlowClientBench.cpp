// Figures for slow clients: the time the web UI's page (the start page and its style sheet)
// takes to load while 40 connections of other programs are open, 20 of them idle and 20
// sending their request head a byte at a time, against the same load with none, in one run.
// Target: a ratio of at most 2.
// Usage: web_slow_client_bench [loads]
#include "CWebServer.h"
#include "StartWebServer.h"
#include "WebTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

int Connect(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
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

    // Idle connections are opened anew when the server drops them; slow ones keep sending.
    std::atomic<bool> done{false};
    std::vector<std::thread> others;
    for (int i = 0; i < 20; ++i)
        others.emplace_back([&] {
            while (!done) {
                int fd = Connect(port);
                for (int t = 0; t < 50 && !done && fd >= 0; ++t)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                if (fd >= 0)
                    ::close(fd);
            }
        });
    for (int i = 0; i < 20; ++i)
        others.emplace_back([&] {
            while (!done) {
                int fd = Connect(port);
                const std::string head =
                    "GET /index.htm HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port) +
                    "\r\nX-Slow: ";
                for (size_t b = 0; fd >= 0 && !done; ++b) {
                    if (::send(fd, head.data() + b % head.size(), 1, MSG_NOSIGNAL) != 1)
                        break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                }
                if (fd >= 0)
                    ::close(fd);
            }
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double crowded = PageLoad(server, loads);
    done = true;
    for (std::thread& t : others)
        t.join();
    server.Stop();

    std::printf("page load with 40 idle and slow connections / with none: %.3f (%.2f ms / %.2f ms, "
                "target <= 2)\n",
                crowded / alone, 1000 * crowded, 1000 * alone);
    return 0;
}
