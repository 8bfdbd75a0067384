#include "TerminationWatch.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

constexpr int Watched[] = {SIGINT, SIGTERM, SIGHUP};

// Shared with the signal handler, which may touch nothing else.
std::atomic<int> s_count{0};
std::atomic<int> s_last{0};
int s_pipe[2] = {-1, -1};
struct sigaction s_previous[3];

void OnTermination(int signal) {
    const int saved = errno;
    s_last.store(signal);
    s_count.fetch_add(1);
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(s_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TerminationWatch::TerminationWatch() {
    static_assert(std::atomic<int>::is_always_lock_free, "the handler needs lock-free counters");
    if (s_pipe[0] >= 0 || ::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    s_count = 0;
    s_last = 0;
    struct sigaction action {};
    action.sa_handler = OnTermination;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // a blocking wait is interrupted, so that its caller looks at once
    for (size_t i = 0; i < 3; ++i)
        ::sigaction(Watched[i], &action, &s_previous[i]);
    installed_ = true;
}

TerminationWatch::~TerminationWatch() {
    if (!installed_)
        return;
    for (size_t i = 0; i < 3; ++i)
        ::sigaction(Watched[i], &s_previous[i], nullptr);
    for (int& fd : s_pipe) {
        ::close(fd);
        fd = -1;
    }
}

int TerminationWatch::Count() const {
    return s_count.load();
}

int TerminationWatch::Last() const {
    return s_last.load();
}

int TerminationWatch::WakeFd() const {
    return s_pipe[0];
}

void TerminationWatch::Drain() {
    char buffer[64];
    while (s_pipe[0] >= 0 && ::read(s_pipe[0], buffer, sizeof buffer) > 0) {
    }
}

void TerminationWatch::IgnoreBrokenPipes() {
    ::signal(SIGPIPE, SIG_IGN);
}
