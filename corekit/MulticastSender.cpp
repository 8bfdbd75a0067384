#include "MulticastSender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

MulticastSender::MulticastSender(const char* group, unsigned port, bool loopback)
    : group_(group ? group : ""), port_(port), loopback_(loopback) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return;
    unsigned char loop = loopback_ ? 1 : 0;
    ::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
    unsigned char ttl = 1; // the devices sit on the local network segment
    ::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
}

MulticastSender::~MulticastSender() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool MulticastSender::SendUDPMessage(const std::string& message, std::vector<std::string>* replies,
                                     unsigned waitMs, unsigned maxReplies) {
    if (fd_ < 0)
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port_));
    if (::inet_pton(AF_INET, group_.c_str(), &to.sin_addr) != 1)
        return false;
    ssize_t sent;
    do {
        sent = ::sendto(fd_, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&to),
                        sizeof to);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(message.size()))
        return false;

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    std::string buffer(MaxDatagram, '\0');
    unsigned received = 0;
    while (received < maxReplies) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd pfd{fd_, POLLIN, 0};
        int ready = ::poll(&pfd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            break; // e.g. an ICMP error: nothing more will come on this socket
        }
        if (replies)
            replies->emplace_back(buffer.data(), static_cast<size_t>(n));
        ++received;
    }
    return true;
}
