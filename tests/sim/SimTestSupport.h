#pragma once

// A client of the tests' own for talking to the simulator: a plain UDP socket and frame builders
// written from the protocol tables, sharing no code with the simulator or the client module.

#include "LanIfSimulator.h"

#include "AesCipher.h"
#include "CryptModeCBC.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace simtest {

using namespace std::chrono_literals;
using lanifsim::SimDevice;
using lanifsim::Simulator;

inline std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

inline std::string Padded(const std::string& value, size_t length) {
    std::string s = value.substr(0, length);
    s.resize(length, '\0');
    return s;
}

// A request: type field, serial field, command letter, payload.
inline std::string Frame(const std::string& type, const std::string& serial, char command,
                         const std::string& payload = "") {
    return Padded(type, 8) + Padded(serial, 10) + command + payload;
}

// A request to one device by serial, as every request but the searches is addressed.
inline std::string To(const std::string& serial, char command, const std::string& payload = "") {
    return Frame("*", serial, command, payload);
}

inline std::string Payload(const std::string& reply) {
    return reply.size() > 20 ? reply.substr(20) : std::string();
}

inline std::string TypeOf(const std::string& reply) {
    return reply.substr(0, 8);
}

inline int Code(const std::string& reply) {
    return reply.size() > 20 ? static_cast<uint8_t>(reply[20]) : -1;
}

inline bool IsChallenge(const std::string& reply) {
    return reply.size() >= 37 && Code(reply) == 3;
}

inline std::string ChallengeIv(const std::string& reply) {
    return reply.substr(21, 16);
}

inline std::string Key(int first = 0) {
    std::string key;
    for (int i = 0; i < 16; ++i)
        key += static_cast<char>(first + i);
    return key;
}

// Tag, NUL, command, payload, zero bytes to a multiple of 16, encrypted with AES-128-CBC.
inline std::string Envelope(const std::string& key, const std::string& iv, char command,
                            const std::string& payload) {
    std::string plain = std::string("Velantrix-Crypt", 15) + '\0' + command + payload;
    plain.resize((payload.size() + 32) & ~size_t{15}, '\0');
    std::string cipher(plain.size(), '\0');
    CryptModeCBC cbc(new AesCipher(reinterpret_cast<const uint8_t*>(key.data()), 16), true,
                     reinterpret_cast<const uint8_t*>(iv.data()));
    EXPECT_TRUE(cbc.ProcessData(reinterpret_cast<const uint8_t*>(plain.data()),
                                reinterpret_cast<uint8_t*>(cipher.data()), plain.size()));
    return cipher;
}

inline std::string Address(const lanifsim::Address& a) {
    return std::string(reinterpret_cast<const char*>(a.data()), a.size());
}

// Sends to the protocol's multicast group and collects what comes back. Refuses to send unless
// the test runs in an isolated network.
class TestClient {
public:
    TestClient() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        unsigned char loop = 1;
        ::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
        unsigned char ttl = 1;
        ::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    }
    ~TestClient() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    // Replies in arrival order, until maxReplies came or the window closed.
    std::vector<std::string> Exchange(const std::string& request, size_t maxReplies = 1,
                                      std::chrono::milliseconds window = 1000ms) {
        std::vector<std::string> replies;
        if (!Simulator::InIsolatedNetwork()) {
            ADD_FAILURE() << "not in an isolated network: nothing sent";
            return replies;
        }
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(lanifsim::kPort);
        ::inet_pton(AF_INET, lanifsim::kMulticastGroup, &to.sin_addr);
        if (::sendto(fd_, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to) != static_cast<ssize_t>(request.size())) {
            ADD_FAILURE() << "send failed";
            return replies;
        }
        const auto deadline = std::chrono::steady_clock::now() + window;
        std::string buffer(65536, '\0');
        while (replies.size() < maxReplies) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd pfd{fd_, POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
                break;
            ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
            if (n >= 0)
                replies.emplace_back(buffer.data(), static_cast<size_t>(n));
        }
        return replies;
    }

    // The one reply to a request, or empty when none came.
    std::string Ask(const std::string& request, std::chrono::milliseconds window = 1000ms) {
        auto replies = Exchange(request, 1, window);
        return replies.empty() ? std::string() : replies.front();
    }

    // True when nothing answers within the window.
    bool Unanswered(const std::string& request, std::chrono::milliseconds window = 150ms) {
        return Exchange(request, 1, window).empty();
    }

private:
    int fd_ = -1;
};

class SimClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Simulator::InIsolatedNetwork())
            << "these tests send datagrams: run them through ctest or scripts/netns-run.sh";
    }

    void Start() { ASSERT_TRUE(sim.Start()) << sim.LastError(); }

    void StartWith(std::initializer_list<SimDevice> devices) {
        for (const auto& d : devices)
            sim.AddDevice(d);
        Start();
    }

    SimDevice Stored(const std::string& serial) {
        SimDevice d;
        EXPECT_TRUE(sim.GetDevice(serial, &d)) << serial;
        return d;
    }

    Simulator sim;
    TestClient client;
};

// A device with the serial and the changes the test needs; restarts are kept short.
template <typename Change> SimDevice Device(const std::string& serial, Change change) {
    SimDevice d;
    d.serial = serial;
    d.restartSilenceMs = 150;
    change(d);
    return d;
}

inline SimDevice Device(const std::string& serial) {
    return Device(serial, [](SimDevice&) {});
}

} // namespace simtest
