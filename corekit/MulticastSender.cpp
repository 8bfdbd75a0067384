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
#include <cstring>

namespace {

// Datagrams waiting for an unresolved neighbour stay charged to their socket, so a socket sends
// to a bounded number of addresses and a long list is spread over several sockets.
constexpr size_t AddressesPerSocket = 64;
// Room for the answers of a whole site arriving at once; the system caps it at its maximum.
constexpr int ReceiveBufferBytes = 4 * 1024 * 1024;

// A socket for one exchange: non-blocking, telling the interface each datagram arrives by.
int OpenSocket() {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    int on = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    int size = ReceiveBufferBytes;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    return fd;
}

// Sends the message on fd; a full send buffer is waited out briefly. False with errno set.
bool SendOn(int fd, const std::string& message, const sockaddr_in& to) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        ssize_t sent = ::sendto(fd, message.data(), message.size(), 0,
                                reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (sent == static_cast<ssize_t>(message.size()))
            return true;
        if (sent >= 0) {
            errno = EIO;
            return false;
        }
        if (errno != EINTR && errno != EAGAIN && errno != ENOBUFS)
            return false;
        if (errno != EINTR) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 2); // the send buffer is full for a moment
        }
    }
    return false;
}

// Opens a socket for the group by the given interface (or the routing table's choice) and sends
// the message on it. -1 when the socket could not be made or the datagram not sent, errno
// telling why.
int SendToGroup(const std::string& message, const sockaddr_in& to, bool loopback,
                const MulticastSender::Interface* via) {
    int fd = OpenSocket();
    if (fd < 0)
        return -1;
    unsigned char loop = loopback ? 1 : 0;
    ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
    unsigned char ttl = 1; // the devices sit on the local network segment
    ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    bool ready = true;
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
    if (!ready || !SendOn(fd, message, to)) {
        const int reason = errno != 0 ? errno : EIO;
        ::close(fd);
        errno = reason;
        return -1;
    }
    return fd;
}

std::string InterfaceName(unsigned index) {
    char name[IF_NAMESIZE] = {};
    return index != 0 && ::if_indextoname(index, name) ? std::string(name) : std::string();
}

} // namespace

MulticastSender::MulticastSender(const char* group, unsigned port, bool loopback)
    : group_(group ? group : ""), port_(port), loopback_(loopback) {}

MulticastSender::~MulticastSender() {
    Close();
}

void MulticastSender::Close() {
    for (const Channel& c : channels_)
        ::close(c.fd);
    channels_.clear();
}

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
    if (!Start(message, waitMs, maxReplies))
        return false;
    std::vector<pollfd> entries;
    std::string buffer(MaxDatagram, '\0');
    for (;;) {
        const auto now = Clock::now();
        if (Finished(now))
            break;
        entries.clear();
        PollEntries(entries);
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - now).count() + 1;
        int ready = ::poll(entries.data(), entries.size(), static_cast<int>(left));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0)
            Receive(entries, 0, buffer);
    }
    if (replies)
        for (Reply& reply : replies_)
            replies->push_back(std::move(reply));
    replies_.clear();
    Close();
    return true;
}

bool MulticastSender::Start(const std::string& message, unsigned waitMs, unsigned maxReplies) {
    Close();
    replies_.clear();
    seen_.clear();
    unasked_.clear();
    unaskedAddresses_.clear();
    unaskedError_ = 0;
    maxReplies_ = maxReplies;
    deadline_ = Clock::now() + std::chrono::milliseconds(waitMs);
    if (!addresses_.empty()) {
        StartAddresses(message);
    } else {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port_));
        if (::inet_pton(AF_INET, group_.c_str(), &to.sin_addr) != 1)
            return false;
        StartGroup(message, &to);
    }
    return !channels_.empty();
}

void MulticastSender::StartGroup(const std::string& message, const void* destination) {
    const sockaddr_in& to = *static_cast<const sockaddr_in*>(destination);
    if (!IN_MULTICAST(ntohl(to.sin_addr.s_addr))) {
        int fd = OpenSocket();
        // The user may name a broadcast address for devices behind a router; without this the
        // send fails with EACCES and the exchange would look like silence.
        int on = 1;
        if (fd >= 0)
            ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        if (fd >= 0 && SendOn(fd, message, to)) {
            channels_.push_back({fd, 0, std::string()});
            return;
        }
        unaskedError_ = errno;
        if (fd >= 0)
            ::close(fd);
        return;
    }
    // Enumerated at each send, so that an interface that came up meanwhile is used.
    std::vector<Interface> interfaces = Interfaces();
    auto chosen = [&](const Interface& i) { return i.index == interface_; };
    if (interface_ != 0 && std::any_of(interfaces.begin(), interfaces.end(), chosen))
        interfaces.erase(std::remove_if(interfaces.begin(), interfaces.end(),
                                        [&](const Interface& i) { return !chosen(i); }),
                         interfaces.end());
    for (const Interface& via : interfaces) {
        int fd = SendToGroup(message, to, loopback_, &via);
        if (fd >= 0) {
            channels_.push_back({fd, via.index, via.name});
            continue;
        }
        if (unasked_.empty())
            unaskedError_ = errno;
        unasked_.push_back(via);
    }
    if (interfaces.empty()) {
        // No interface qualifies (or none can be listed): the routing table picks one.
        int fd = SendToGroup(message, to, loopback_, nullptr);
        if (fd >= 0)
            channels_.push_back({fd, 0, std::string()});
        else
            unaskedError_ = errno;
    }
}

void MulticastSender::StartAddresses(const std::string& message) {
    int fd = -1;
    size_t onSocket = AddressesPerSocket;
    for (const std::string& address : addresses_) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port_));
        if (::inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1) {
            unaskedAddresses_.push_back(address);
            continue;
        }
        if (onSocket == AddressesPerSocket) {
            fd = OpenSocket();
            if (fd >= 0) {
                int on = 1; // a broadcast address given by the user is sent to, not refused
                ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
                channels_.push_back({fd, 0, std::string()});
                onSocket = 0;
            } else if (unaskedAddresses_.empty()) {
                unaskedError_ = errno;
            }
        }
        if (fd < 0 || !SendOn(fd, message, to)) {
            if (fd >= 0 && unaskedAddresses_.empty())
                unaskedError_ = errno;
            unaskedAddresses_.push_back(address);
            continue;
        }
        ++onSocket;
    }
}

size_t MulticastSender::PollEntries(std::vector<pollfd>& entries) const {
    for (const Channel& c : channels_)
        entries.push_back({c.open ? c.fd : -1, POLLIN, 0});
    return channels_.size();
}

bool MulticastSender::Finished(Clock::time_point now) const {
    if (channels_.empty() || now >= deadline_ || (maxReplies_ > 0 && replies_.size() >= maxReplies_))
        return true;
    return std::none_of(channels_.begin(), channels_.end(), [](const Channel& c) { return c.open; });
}

void MulticastSender::Receive(const std::vector<pollfd>& entries, size_t first,
                              std::string& buffer) {
    if (buffer.size() < MaxDatagram)
        buffer.resize(MaxDatagram);
    for (size_t i = 0; i < channels_.size() && first + i < entries.size(); ++i) {
        Channel& channel = channels_[i];
        if (!channel.open || entries[first + i].revents == 0)
            continue;
        // Everything waiting is read, so that one poll serves a burst of answers.
        while (replies_.size() < maxReplies_ || maxReplies_ == 0) {
            sockaddr_in from{};
            char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
            iovec part{buffer.data(), buffer.size()};
            msghdr header{};
            header.msg_name = &from;
            header.msg_namelen = sizeof from;
            header.msg_iov = &part;
            header.msg_iovlen = 1;
            header.msg_control = control;
            header.msg_controllen = sizeof control;
            ssize_t n = ::recvmsg(channel.fd, &header, 0);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                // With one destination an error (an ICMP refusal) ends what can come here; with
                // many it says nothing of the other addresses.
                if (errno != EAGAIN && errno != EWOULDBLOCK && addresses_.empty())
                    channel.open = false;
                break;
            }
            unsigned arrival = 0;
            for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c))
                if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                    in_pktinfo info{};
                    std::memcpy(&info, CMSG_DATA(c), sizeof info);
                    arrival = static_cast<unsigned>(info.ipi_ifindex);
                }
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
            std::string key(reinterpret_cast<const char*>(&from.sin_addr), 4);
            key.append(reinterpret_cast<const char*>(&from.sin_port), 2);
            Take(i, std::string(buffer.data(), static_cast<size_t>(n)), key, text, arrival);
        }
    }
}

void MulticastSender::Take(size_t channel, std::string bytes, const std::string& sender,
                           const char* from, unsigned arrival) {
    if (accept_ && !accept_(bytes))
        return;
    std::string key = sender + bytes;
    if (!addresses_.empty()) {
        if (!seen_.emplace(std::move(key), std::vector<unsigned>()).second)
            return;
    } else if (channels_.size() > 1) {
        std::vector<unsigned>& counts = seen_[key];
        counts.resize(channels_.size(), 0);
        const unsigned most = *std::max_element(counts.begin(), counts.end());
        if (++counts[channel] <= most)
            return;
    }
    if (replies_.empty() && settleMs_ > 0)
        deadline_ = std::min(deadline_, Clock::now() + std::chrono::milliseconds(settleMs_));
    const Channel& c = channels_[channel];
    replies_.push_back(
        {std::move(bytes), c.index, from, c.name.empty() ? InterfaceName(arrival) : c.name});
}
