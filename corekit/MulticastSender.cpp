#include "MulticastSender.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>

namespace {

// A socket that sends by one interface (index 0: the way the routing table picks).
struct Channel {
    int fd = -1;
    unsigned index = 0;
    std::string name;
};

// The sockets of one exchange; none outlives it.
class Channels {
public:
    Channels() = default;
    Channels(const Channels&) = delete;
    Channels& operator=(const Channels&) = delete;
    ~Channels() {
        for (const Channel& c : list)
            ::close(c.fd);
    }
    std::vector<Channel> list;
};

// Opens a socket for the destination, by the given interface when there is one, and sends the
// message on it. -1 when the socket could not be made or the datagram not sent, errno telling why.
int SendBy(const std::string& message, const sockaddr_in& to, bool loopback,
           const MulticastSender::Interface* via) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    bool ready = true;
    if (IN_MULTICAST(ntohl(to.sin_addr.s_addr))) {
        unsigned char loop = loopback ? 1 : 0;
        ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
        unsigned char ttl = 1; // the devices sit on the local network segment
        ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
        if (via) {
            ip_mreqn request{};
            request.imr_ifindex = static_cast<int>(via->index);
            // Bound to the interface's address, so that the answers come back to this socket.
            sockaddr_in local{};
            local.sin_family = AF_INET;
            ready = ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &request, sizeof request) == 0 &&
                    ::inet_pton(AF_INET, via->address.c_str(), &local.sin_addr) == 1 &&
                    ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
        }
    } else {
        // The user may name a broadcast address for devices behind a router; without this the
        // send fails with EACCES and the exchange would look like silence.
        int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    }
    ssize_t sent = -1;
    while (ready) {
        sent = ::sendto(fd, message.data(), message.size(), 0,
                        reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (sent >= 0 || errno != EINTR)
            break;
    }
    if (sent != static_cast<ssize_t>(message.size())) {
        const int reason = sent < 0 && errno != 0 ? errno : EIO;
        ::close(fd);
        errno = reason;
        return -1;
    }
    return fd;
}

} // namespace

MulticastSender::MulticastSender(const char* group, unsigned port, bool loopback)
    : group_(group ? group : ""), port_(port), loopback_(loopback) {}

MulticastSender::~MulticastSender() = default;

std::vector<MulticastSender::Interface> MulticastSender::Interfaces() {
    std::vector<Interface> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return found;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !entry->ifa_name)
            continue;
        if (!(entry->ifa_flags & IFF_UP) || !(entry->ifa_flags & IFF_MULTICAST))
            continue;
        Interface candidate;
        candidate.index = ::if_nametoindex(entry->ifa_name);
        if (candidate.index == 0)
            continue;
        auto same = [&](const Interface& i) { return i.index == candidate.index; };
        if (std::any_of(found.begin(), found.end(), same))
            continue; // one datagram per interface, from its first address
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (!::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text))
            continue;
        candidate.name = entry->ifa_name;
        candidate.address = text;
        found.push_back(candidate);
    }
    ::freeifaddrs(list);
    return found;
}

bool MulticastSender::SendUDPMessage(const std::string& message, std::vector<std::string>* replies,
                                     unsigned waitMs, unsigned maxReplies) {
    std::vector<Reply> answers;
    if (!Exchange(message, &answers, waitMs, maxReplies))
        return false;
    if (replies)
        for (Reply& answer : answers)
            replies->push_back(std::move(answer.bytes));
    return true;
}

bool MulticastSender::Exchange(const std::string& message, std::vector<Reply>* replies,
                               unsigned waitMs, unsigned maxReplies) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port_));
    unasked_.clear();
    unaskedError_ = 0;
    if (::inet_pton(AF_INET, group_.c_str(), &to.sin_addr) != 1)
        return false;

    Channels channels;
    if (IN_MULTICAST(ntohl(to.sin_addr.s_addr))) {
        // Enumerated at each send, so that an interface that came up meanwhile is used.
        std::vector<Interface> interfaces = Interfaces();
        auto chosen = [&](const Interface& i) { return i.index == interface_; };
        if (interface_ != 0 && std::any_of(interfaces.begin(), interfaces.end(), chosen))
            interfaces.erase(std::remove_if(interfaces.begin(), interfaces.end(),
                                            [&](const Interface& i) { return !chosen(i); }),
                             interfaces.end());
        for (const Interface& via : interfaces) {
            int fd = SendBy(message, to, loopback_, &via);
            if (fd >= 0) {
                channels.list.push_back({fd, via.index, via.name});
                continue;
            }
            if (unasked_.empty())
                unaskedError_ = errno;
            unasked_.push_back(via);
        }
        if (interfaces.empty()) {
            // No interface qualifies (or none can be listed): the routing table picks one.
            int fd = SendBy(message, to, loopback_, nullptr);
            if (fd >= 0)
                channels.list.push_back({fd, 0, std::string()});
        }
    } else {
        int fd = SendBy(message, to, loopback_, nullptr);
        if (fd >= 0)
            channels.list.push_back({fd, 0, std::string()});
    }
    if (channels.list.empty())
        return false;

    std::vector<pollfd> polled;
    for (const Channel& c : channels.list)
        polled.push_back({c.fd, POLLIN, 0});
    // Copies of one datagram by several interfaces: per sender and bytes, how many came by each
    // socket. A reply is kept only when its socket saw it more often than any other did, so a
    // device that answers twice is still kept twice.
    std::map<std::string, std::vector<unsigned>> seen;

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    std::string buffer(MaxDatagram, '\0');
    unsigned received = 0;
    size_t listening = polled.size();
    while (received < maxReplies && listening > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        int ready = ::poll(polled.data(), polled.size(), static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        for (size_t i = 0; i < polled.size() && received < maxReplies; ++i) {
            if (polled[i].fd < 0 || polled[i].revents == 0)
                continue;
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            ssize_t n = ::recvfrom(polled[i].fd, buffer.data(), buffer.size(), 0,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 0) {
                if (errno != EINTR && errno != EAGAIN) {
                    polled[i].fd = -1; // e.g. an ICMP error: nothing more will come here
                    --listening;
                }
                continue;
            }
            std::string bytes(buffer.data(), static_cast<size_t>(n));
            if (accept_ && !accept_(bytes))
                continue;
            if (polled.size() > 1) {
                std::string key(reinterpret_cast<const char*>(&from.sin_addr), 4);
                key.append(reinterpret_cast<const char*>(&from.sin_port), 2);
                key += bytes;
                std::vector<unsigned>& counts = seen[key];
                counts.resize(polled.size(), 0);
                const unsigned most = *std::max_element(counts.begin(), counts.end());
                if (++counts[i] <= most)
                    continue;
            }
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
            if (replies)
                replies->push_back(
                    {std::move(bytes), channels.list[i].index, text, channels.list[i].name});
            ++received;
        }
    }
    return true;
}
