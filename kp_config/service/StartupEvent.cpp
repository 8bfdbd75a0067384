#include "StartupEvent.h"

#include <fcntl.h>
#include <sys/random.h>

#include <cerrno>
#include <ctime>

namespace {

// How often a wait looks whether it should go on.
constexpr long WaitSliceMs = 10;

// Attempts at a free name before giving up; with 128 random bits a second one is already rare.
constexpr int NameAttempts = 8;

bool RandomHex(std::string& out) {
    unsigned char bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        got += static_cast<size_t>(n);
    }
    static const char digits[] = "0123456789abcdef";
    out.clear();
    for (unsigned char b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return true;
}

timespec After(const timespec& from, long ms) {
    timespec t = from;
    t.tv_sec += ms / 1000;
    t.tv_nsec += (ms % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}

bool Before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

} // namespace

StartupEvent::~StartupEvent() {
    Close();
}

bool StartupEvent::Create(const std::string& prefix) {
    Close();
    std::string random;
    for (int attempt = 0; attempt < NameAttempts; ++attempt) {
        if (!RandomHex(random))
            return false;
        const std::string name = prefix + "-" + random;
        sem_t* sem = ::sem_open(name.c_str(), O_CREAT | O_EXCL, 0600, 0);
        if (sem != SEM_FAILED) {
            sem_ = sem;
            name_ = name;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool StartupEvent::Wait(int ms, const std::function<bool()>& keepWaiting) {
    if (sem_ == SEM_FAILED)
        return false;
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const timespec deadline = After(now, ms);
    for (;;) {
        timespec slice = keepWaiting ? After(now, WaitSliceMs) : deadline;
        if (Before(deadline, slice))
            slice = deadline;
        if (::sem_clockwait(sem_, CLOCK_MONOTONIC, &slice) == 0)
            return true;
        if (errno != EINTR && errno != ETIMEDOUT)
            return false;
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        if (!Before(now, deadline))
            return false;
        if (keepWaiting && !keepWaiting())
            return ::sem_trywait(sem_) == 0; // posted just before the end
    }
}

void StartupEvent::Close() {
    if (sem_ == SEM_FAILED)
        return;
    ::sem_unlink(name_.c_str());
    ::sem_close(sem_);
    sem_ = SEM_FAILED;
    name_.clear();
}
