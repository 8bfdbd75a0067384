#include "DiscoverAddresses.h"

#include "LanProtocol.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <set>
#include <utility>

using namespace lanproto;

namespace {

// Datagrams waiting for an unresolved neighbour stay charged to their socket, so a socket sends
// to a bounded number of addresses and a large range is spread over several sockets.
constexpr size_t AddressesPerSocket = 64;

class Sockets {
public:
    Sockets() = default;
    Sockets(const Sockets&) = delete;
    Sockets& operator=(const Sockets&) = delete;
    ~Sockets() {
        for (const pollfd& p : list)
            if (p.fd >= 0)
                ::close(p.fd);
    }
    std::vector<pollfd> list;
};

int OpenSocket() {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    int on = 1; // a broadcast address given by the user is sent to, not refused with EACCES
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    return fd;
}

bool SendOne(int fd, const std::string& message, const sockaddr_in& to) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        ssize_t sent = ::sendto(fd, message.data(), message.size(), 0,
                                reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (sent == static_cast<ssize_t>(message.size()))
            return true;
        if (sent >= 0 || (errno != EINTR && errno != EAGAIN && errno != ENOBUFS))
            return false;
        if (errno != EINTR) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 2); // the send buffer is full for a moment
        }
    }
    return false;
}

} // namespace

bool SendToAddresses(const std::string& request, const std::vector<std::string>& addresses,
                     unsigned waitMs, unsigned maxReplies, std::vector<AddressReply>& replies) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    Sockets sockets;
    size_t sent = 0;
    for (size_t i = 0; i < addresses.size(); ++i) {
        if (i % AddressesPerSocket == 0) {
            int fd = OpenSocket();
            if (fd < 0)
                break;
            sockets.list.push_back({fd, POLLIN, 0});
        }
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(Port));
        if (::inet_pton(AF_INET, addresses[i].c_str(), &to.sin_addr) != 1)
            continue;
        if (SendOne(sockets.list.back().fd, request, to))
            ++sent;
    }
    if (sent == 0)
        return false;

    std::set<std::string> seen; // sender and bytes
    std::string buffer(65536, '\0');
    unsigned received = 0;
    while (received < maxReplies) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        int ready = ::poll(sockets.list.data(), sockets.list.size(), static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        for (pollfd& p : sockets.list) {
            if (p.revents == 0 || received >= maxReplies)
                continue;
            sockaddr_in from{};
            socklen_t length = sizeof from;
            ssize_t n = ::recvfrom(p.fd, buffer.data(), buffer.size(), 0,
                                   reinterpret_cast<sockaddr*>(&from), &length);
            if (n < 0)
                continue; // an ICMP error for one address says nothing of the others
            std::string bytes(buffer.data(), static_cast<size_t>(n));
            std::string key(reinterpret_cast<const char*>(&from.sin_addr), 4);
            if (!seen.insert(key + bytes).second)
                continue;
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
            replies.push_back({std::move(bytes), text});
            ++received;
        }
    }
    return true;
}

bool DiscoverAtAddresses(const std::string& pattern, const std::vector<std::string>& addresses,
                         std::vector<LanInterface>& list) {
    std::vector<AddressReply> replies;
    if (!SendToAddresses(BuildDiscoverRequest(pattern), addresses, DiscoverWaitMs,
                         DiscoverMaxReplies, replies))
        return false;
    for (const AddressReply& reply : replies) {
        LanInterface device;
        device.unicastAddress = reply.from;
        device.address = reply.from;
        if (device.ParseIdentification(reply.bytes))
            list.push_back(device);
    }
    return true;
}

bool FindBySerialAtAddresses(LanInterface& device, const std::string& serial,
                             const std::vector<std::string>& addresses) {
    std::vector<AddressReply> replies;
    if (!SendToAddresses(BuildFindRequest(serial), addresses, FindWaitMs, 1, replies) ||
        replies.empty())
        return false;
    if (!device.ParseIdentification(replies.front().bytes))
        return false;
    device.unicastAddress = replies.front().from;
    device.address = replies.front().from;
    device.interfaceIndex = 0;
    return true;
}
