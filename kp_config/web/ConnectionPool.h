#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>

// The connections that clients hold to the web server, as far as the HTTP engine (which keeps
// their sockets to itself) lets them be seen.
//
// The engine gives each connection a worker of its own from the moment it takes it, and a client
// that sends no complete request head holds that worker until the head's deadline; any local
// user can open many such connections. So that they never keep the workers from the program's
// own requests, at most `maxWaiting` taken connections may wait for their request head: beyond
// that, the one waiting longest is ended (among those first seen together, the one silent
// longest), so a client that sends its head at once is never the one. A connection whose
// request has begun is never ended this way. And the listening socket hands a connection over only once its first
// bytes have come, so that a client that merely connects holds no worker at all.
//
// The engine's callbacks call Opened, Started and Closed from its worker threads. One look-up
// at a time ends connections, and no other worker waits for it.
class ConnectionPool {
public:
    explicit ConnectionPool(size_t maxWaiting) : maxWaiting_(maxWaiting) {}
    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

    // The port the server listens on; until it is set, nothing is looked up or ended.
    void SetPort(int port) { port_ = port; }

    // A worker has taken a new connection (the engine's connection object).
    void Opened(const void* connection);
    // Its request head has come, from remoteAddr:remotePort.
    void Started(const void* connection, const std::string& remoteAddr, int remotePort);
    // It is being closed; its socket is still open.
    void Closed(const void* connection);

    // The socket of the connection from remoteAddr:remotePort, or -1. Valid while that
    // connection's request runs.
    int SocketOf(const std::string& remoteAddr, int remotePort) const;
    // Ends every connection to the port (not the listening socket): a worker that waits on one
    // wakes at once.
    void EndAll() const;
    // The listening socket takes a connection only once data has come on it, or after `seconds`
    // without; false when that could not be set.
    bool DeferAccept(int seconds) const;

private:
    using Clock = std::chrono::steady_clock;
    using Remote = std::pair<uint32_t, int>; // address (network order) and port
    void EndLongestWaiting();
    bool HasStarted(const Remote& remote) const; // under stateMutex_

    const size_t maxWaiting_;
    std::atomic<int> port_{0};
    // Held while sockets are looked up and ended; Closed waits for it, so no socket looked up is
    // closed (and its number reused) meanwhile.
    mutable std::mutex socketMutex_;
    // Guards the rest; never held for longer than a few map operations and one shutdown, so a
    // request's start never waits for a look-up.
    mutable std::mutex stateMutex_;
    std::set<const void*> waiting_;         // taken, request head not yet come
    std::map<const void*, Remote> started_; // whose request runs, and from where
    std::map<Remote, Clock::time_point> seen_; // when a look-up first saw each connection
};
