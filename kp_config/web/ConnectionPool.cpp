#include "ConnectionPool.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

struct Connection {
    int fd = -1;
    uint32_t address = 0; // of the client, network order
    int port = 0;         // of the client
};

// Calls `visit` with every descriptor of this process.
template <typename Visit> void ForEachDescriptor(Visit visit) {
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return;
    const int own = ::dirfd(dir);
    while (dirent* e = ::readdir(dir)) {
        const int fd = std::atoi(e->d_name);
        if (e->d_name[0] != '.' && fd != own)
            visit(fd);
    }
    ::closedir(dir);
}

// The sockets of this process that are the server's end of a TCP connection on `port`. The
// engine keeps them to itself; they are found by their own addresses, never by a table that
// may be stale.
std::vector<Connection> ServerConnections(int port) {
    std::vector<Connection> found;
    ForEachDescriptor([&](int fd) {
        sockaddr_in local{}, peer{};
        socklen_t length = sizeof local;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
            local.sin_family != AF_INET || ntohs(local.sin_port) != port)
            return;
        length = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0)
            return; // the listening socket, or one that was never connected
        found.push_back({fd, peer.sin_addr.s_addr, ntohs(peer.sin_port)});
    });
    return found;
}

// True for a connection that waits for its client: established both ways, with nothing unread
// (what is unread, its worker is about to read, or the engine has not handed it to one yet).
// `silence` is how long ago the client last sent anything (or connected), in milliseconds.
bool IsWaiting(int fd, unsigned& silence) {
    tcp_info info{};
    socklen_t length = sizeof info;
    int unread = 0;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        info.tcpi_state != TCP_ESTABLISHED || ::ioctl(fd, SIOCINQ, &unread) != 0 || unread > 0)
        return false;
    silence = info.tcpi_last_data_recv;
    return true;
}

uint32_t AddressOf(const std::string& text) {
    in_addr address{};
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1 ? address.s_addr : 0;
}

} // namespace

void ConnectionPool::Opened(const void* connection) {
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        started_.erase(connection);
        waiting_.insert(connection);
        if (waiting_.size() <= maxWaiting_)
            return;
    }
    // A look-up that runs already sees to it; this worker does not wait for it.
    std::unique_lock<std::mutex> sockets(socketMutex_, std::try_to_lock);
    if (sockets.owns_lock())
        EndLongestWaiting();
}

bool ConnectionPool::HasStarted(const Remote& remote) const {
    for (const auto& [connection, from] : started_)
        if (from == remote)
            return true;
    return false;
}

void ConnectionPool::EndLongestWaiting() {
    const int port = port_;
    if (port <= 0)
        return;
    // Every connection whose client owes the next byte, found without stateMutex_: a request
    // that starts meanwhile is seen below, before its connection could be ended.
    struct Candidate {
        Connection connection;
        Clock::time_point since;
        unsigned silence = 0;
    };
    std::vector<Candidate> candidates;
    const auto now = Clock::now();
    for (const Connection& c : ServerConnections(port)) {
        Candidate candidate{c, now};
        if (IsWaiting(c.fd, candidate.silence))
            candidates.push_back(candidate);
    }
    std::lock_guard<std::mutex> lock(stateMutex_);
    std::map<Remote, Clock::time_point> seen;
    std::vector<Candidate> waiting;
    for (Candidate& candidate : candidates) {
        const Remote remote{candidate.connection.address, candidate.connection.port};
        if (HasStarted(remote))
            continue;
        if (const auto known = seen_.find(remote); known != seen_.end())
            candidate.since = known->second;
        seen[remote] = candidate.since;
        waiting.push_back(candidate);
    }
    seen_ = std::move(seen);

    // Oldest first, so that a client that sends its head at once is never the one; among those
    // first seen together, the one silent longest.
    std::sort(waiting.begin(), waiting.end(), [](const Candidate& a, const Candidate& b) {
        return a.since != b.since ? a.since < b.since : a.silence > b.silence;
    });
    for (size_t i = 0; i + maxWaiting_ < waiting.size(); ++i) {
        ::shutdown(waiting[i].connection.fd, SHUT_RDWR);
        seen_.erase({waiting[i].connection.address, waiting[i].connection.port});
    }
}

void ConnectionPool::Started(const void* connection, const std::string& remoteAddr,
                             int remotePort) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    waiting_.erase(connection);
    started_[connection] = {AddressOf(remoteAddr), remotePort};
}

void ConnectionPool::Closed(const void* connection) {
    std::lock_guard<std::mutex> sockets(socketMutex_);
    std::lock_guard<std::mutex> lock(stateMutex_);
    waiting_.erase(connection);
    started_.erase(connection);
}

int ConnectionPool::SocketOf(const std::string& remoteAddr, int remotePort) const {
    const uint32_t address = AddressOf(remoteAddr);
    std::lock_guard<std::mutex> lock(socketMutex_);
    for (const Connection& c : ServerConnections(port_))
        if (c.address == address && c.port == remotePort)
            return c.fd;
    return -1;
}

void ConnectionPool::EndAll() const {
    std::lock_guard<std::mutex> lock(socketMutex_);
    for (const Connection& c : ServerConnections(port_))
        ::shutdown(c.fd, SHUT_RDWR);
}

bool ConnectionPool::DeferAccept(int seconds) const {
    const int port = port_;
    bool set = false;
    ForEachDescriptor([&](int fd) {
        int listening = 0;
        socklen_t length = sizeof listening;
        sockaddr_in local{};
        socklen_t localLength = sizeof local;
        if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) == 0 &&
            local.sin_family == AF_INET && ntohs(local.sin_port) == port)
            set = ::setsockopt(fd, IPPROTO_TCP, TCP_DEFER_ACCEPT, &seconds, sizeof seconds) == 0;
    });
    return set;
}
