// Runs inside a private network namespace (see scripts/netns-run.sh).
#include "MulticastSender.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

constexpr unsigned kPort = 23272;

// A responder on the group that answers each request with the given datagrams.
class Responder {
public:
    explicit Responder(std::vector<std::string> answers) : answers_(std::move(answers)) {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(kPort);
        bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ip_mreq mreq{};
        inet_pton(AF_INET, "224.0.0.1", &mreq.imr_multiaddr);
        inet_pton(AF_INET, "127.0.0.1", &mreq.imr_interface);
        setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq);
        thread_ = std::thread([this] { Serve(); });
    }
    ~Responder() {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    bool Bound() const { return bound_; }
    std::string LastRequest() const { return last_; }

private:
    void Serve() {
        std::string buf(70000, '\0');
        while (!stop_) {
            pollfd pfd{fd_, POLLIN, 0};
            if (poll(&pfd, 1, 20) <= 0)
                continue;
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n =
                recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0)
                continue;
            last_.assign(buf.data(), static_cast<size_t>(n));
            for (const auto& a : answers_)
                sendto(fd_, a.data(), a.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    }
    std::vector<std::string> answers_;
    int fd_ = -1;
    bool bound_ = false;
    std::atomic<bool> stop_{false};
    std::string last_;
    std::thread thread_;
};

TEST(MulticastSender, CollectsRepliesInOrderAndStopsAtMaxReplies) {
    Responder responder({"first", std::string("sec\0nd", 6), "third"});
    ASSERT_TRUE(responder.Bound());
    MulticastSender sender("224.0.0.1", kPort, true);
    std::vector<std::string> replies;
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(sender.SendUDPMessage("hello", &replies, 2000, 2));
    auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], "first");
    EXPECT_EQ(replies[1], std::string("sec\0nd", 6));
    // It returned at the second reply instead of waiting out the window.
    EXPECT_LT(took, std::chrono::milliseconds(1500));
}

TEST(MulticastSender, WaitsOutTheWindowForAllRepliesAndReceivesLargeOnesWhole) {
    std::string large(60000, 'x');
    large[59999] = 'y';
    Responder responder({large, "small"});
    ASSERT_TRUE(responder.Bound());
    MulticastSender sender("224.0.0.1", kPort, true);
    std::vector<std::string> replies;
    ASSERT_TRUE(sender.SendUDPMessage("q", &replies, 300, 1000));
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], large);
    EXPECT_EQ(replies[1], "small");
}

TEST(MulticastSender, NoAnswerIsNoFailureAndABadGroupIs) {
    MulticastSender sender("224.0.0.1", kPort, true);
    std::vector<std::string> replies;
    EXPECT_TRUE(sender.SendUDPMessage("q", &replies, 50, 1));
    EXPECT_TRUE(replies.empty());
    MulticastSender bad("not-an-address", kPort, true);
    EXPECT_FALSE(bad.SendUDPMessage("q", &replies, 50, 1));
}

} // namespace
