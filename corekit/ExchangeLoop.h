#pragma once

#include "MulticastSender.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Waits for many datagram exchanges at once on the calling thread: each exchange is a
// MulticastSender that has sent its request, and one poll watches all their sockets, so that a
// thousand devices answering, or staying silent, cost one thread and one reply window. Timers
// let a caller pause between exchanges without holding up the others. Everything a caller gives
// the loop runs on the thread that calls Run, one callback at a time.
class ExchangeLoop {
public:
    using Clock = std::chrono::steady_clock;
    // Called when an exchange is over: sent tells whether its request went out at all; the
    // sender holds its replies and what it could not send to. It is destroyed afterwards.
    using Done = std::function<void(bool sent, MulticastSender& sender)>;

    ExchangeLoop();
    ~ExchangeLoop();
    ExchangeLoop(const ExchangeLoop&) = delete;
    ExchangeLoop& operator=(const ExchangeLoop&) = delete;

    // Sends message with sender (set up by the caller: destination, acceptor) and collects its
    // answers for waitMs or until maxReplies came. When as many exchanges run as the process has
    // descriptors to spare, it waits for one of them to end; its window begins when it is sent.
    // done is always called from Run, never from Start itself.
    void Start(std::unique_ptr<MulticastSender> sender, std::string message, unsigned waitMs,
               unsigned maxReplies, Done done);
    // Calls then from Run once delay has passed.
    void After(std::chrono::milliseconds delay, std::function<void()> then);
    // Also watches fd for input (a pipe that a signal handler writes to) and calls woken from
    // Run when it is readable, or when a signal interrupted the wait; woken reads what waits.
    void WatchWake(int fd, std::function<void()> woken);

    // Runs until no exchange and no timer is left, or until Stop.
    void Run();
    // Makes Run return after the callback that calls it; what is pending is dropped.
    void Stop() { stopped_ = true; }

    // How many exchanges may run at once: by default 256, or fewer when the descriptor limit
    // allows fewer; fewer still once the process ran out of descriptors.
    void SetMaxExchanges(size_t most) { maxExchanges_ = most > 0 ? most : 1; }
    size_t Running() const { return active_.size(); }

private:
    struct Exchange {
        std::unique_ptr<MulticastSender> sender;
        std::string message;
        unsigned waitMs = 0;
        unsigned maxReplies = 0;
        Done done;
        bool sent = false;
    };
    void StartWaiting();
    void FinishExchanges(Clock::time_point now);
    void FireTimers(Clock::time_point now);
    int PollTimeout(Clock::time_point now) const;

    std::vector<std::unique_ptr<Exchange>> active_;
    std::deque<std::unique_ptr<Exchange>> waiting_;
    std::multimap<Clock::time_point, std::function<void()>> timers_;
    size_t maxExchanges_;
    int wakeFd_ = -1;
    std::function<void()> woken_;
    bool stopped_ = false;
    std::string buffer_; // one datagram at a time, for every exchange
};
