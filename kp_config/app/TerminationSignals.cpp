#include "TerminationSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {

int s_pipe[2] = {-1, -1}; // written by the signal handler, read by the event loop

void OnTerminationSignal(int) {
    const char byte = 1;
    const int saved = errno;
    [[maybe_unused]] ssize_t n = ::write(s_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

bool TerminationSignals::Catch() {
    if (s_pipe[0] >= 0)
        return true;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, s_pipe) != 0) {
        s_pipe[0] = s_pipe[1] = -1;
        return false;
    }
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    return true;
}

bool TerminationSignals::Pending() {
    if (s_pipe[0] < 0)
        return false;
    pollfd p{s_pipe[0], POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

TerminationSignals::TerminationSignals(std::function<void()> onSignal)
    : onSignal_(std::move(onSignal)) {
    if (!Catch())
        return;
    notifier_ = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(s_pipe[0], buffer, sizeof buffer) > 0) {
        }
        onSignal_();
    });
}

TerminationSignals::~TerminationSignals() {
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
    delete notifier_;
    for (int& fd : s_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}
