#include "ExchangeLoop.h"

#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

// Each exchange holds at least one socket while it waits. Leave room below the descriptor limit
// for what else the process has open, so that no exchange fails for want of a descriptor.
size_t ExchangesTheLimitAllows() {
    constexpr rlim_t Reserve = 64;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 4096;
    const rlim_t room = limit.rlim_cur > 2 * Reserve ? limit.rlim_cur - Reserve : limit.rlim_cur / 2;
    return static_cast<size_t>(std::clamp<rlim_t>(room, 1, 65536));
}

} // namespace

// Requests waiting for an answer at once. Every device on a network hears every request sent to
// the group, and a burst of thousands overruns what a small device (or the host's own socket)
// can queue; this many keep a site busy without that, and leave room for the answers.
constexpr size_t MostAtOnce = 256;

ExchangeLoop::ExchangeLoop() : maxExchanges_(std::min(ExchangesTheLimitAllows(), MostAtOnce)) {}

ExchangeLoop::~ExchangeLoop() = default;

void ExchangeLoop::Start(std::unique_ptr<MulticastSender> sender, std::string message,
                         unsigned waitMs, unsigned maxReplies, Done done) {
    auto exchange = std::make_unique<Exchange>();
    exchange->sender = std::move(sender);
    exchange->message = std::move(message);
    exchange->waitMs = waitMs;
    exchange->maxReplies = maxReplies;
    exchange->done = std::move(done);
    waiting_.push_back(std::move(exchange));
}

void ExchangeLoop::After(std::chrono::milliseconds delay, std::function<void()> then) {
    timers_.emplace(Clock::now() + delay, std::move(then));
}

void ExchangeLoop::WatchWake(int fd, std::function<void()> woken) {
    wakeFd_ = fd;
    woken_ = std::move(woken);
}

void ExchangeLoop::StartWaiting() {
    while (!waiting_.empty() && active_.size() < maxExchanges_) {
        std::unique_ptr<Exchange> exchange = std::move(waiting_.front());
        waiting_.pop_front();
        exchange->sent =
            exchange->sender->Start(exchange->message, exchange->waitMs, exchange->maxReplies);
        const int reason = exchange->sender->UnaskedError();
        if (!exchange->sent && !active_.empty() && (reason == EMFILE || reason == ENFILE)) {
            // Out of descriptors: the others go on, and this one waits until one of them ends.
            maxExchanges_ = active_.size();
            waiting_.push_front(std::move(exchange));
            return;
        }
        active_.push_back(std::move(exchange));
    }
}

void ExchangeLoop::FinishExchanges(Clock::time_point now) {
    std::vector<std::unique_ptr<Exchange>> over;
    for (auto& exchange : active_)
        if (exchange->sender->Finished(now))
            over.push_back(std::move(exchange));
    if (over.empty())
        return;
    active_.erase(std::remove(active_.begin(), active_.end(), nullptr), active_.end());
    for (auto& exchange : over) {
        if (stopped_)
            return;
        exchange->done(exchange->sent, *exchange->sender);
    }
}

void ExchangeLoop::FireTimers(Clock::time_point now) {
    while (!stopped_ && !timers_.empty() && timers_.begin()->first <= now) {
        std::function<void()> then = std::move(timers_.begin()->second);
        timers_.erase(timers_.begin());
        then();
    }
}

int ExchangeLoop::PollTimeout(Clock::time_point now) const {
    Clock::time_point next = Clock::time_point::max();
    for (const auto& exchange : active_)
        next = std::min(next, exchange->sender->Deadline());
    if (!timers_.empty())
        next = std::min(next, timers_.begin()->first);
    if (next == Clock::time_point::max())
        return -1;
    if (next <= now)
        return 0;
    // Rounded up, so that a wake-up never comes a moment before what it waits for.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    return static_cast<int>(std::min<long long>(ms, 60000));
}

void ExchangeLoop::Run() {
    stopped_ = false;
    std::vector<pollfd> entries;
    std::vector<size_t> firsts;
    while (!stopped_) {
        StartWaiting();
        FinishExchanges(Clock::now());
        FireTimers(Clock::now());
        if (stopped_)
            break;
        StartWaiting();
        if (active_.empty() && timers_.empty() && waiting_.empty())
            break;
        const auto now = Clock::now();
        // Whatever a callback started may already be over (nothing could be sent).
        if (std::any_of(active_.begin(), active_.end(),
                        [&](const auto& e) { return e->sender->Finished(now); }))
            continue;
        entries.clear();
        firsts.clear();
        entries.push_back({wakeFd_, POLLIN, 0});
        for (const auto& exchange : active_) {
            firsts.push_back(entries.size());
            exchange->sender->PollEntries(entries);
        }
        const int ready = ::poll(entries.data(), entries.size(), PollTimeout(now));
        if (ready < 0 && errno != EINTR)
            break;
        if (woken_ && ((ready < 0 && errno == EINTR) || (ready > 0 && entries[0].revents != 0)))
            woken_();
        if (ready <= 0)
            continue;
        for (size_t i = 0; i < active_.size(); ++i)
            active_[i]->sender->Receive(entries, firsts[i], buffer_);
    }
}
