#include "StartupEvent.h"

#include <fcntl.h>

#include <cerrno>
#include <ctime>

StartupEvent::~StartupEvent() {
    Close();
}

bool StartupEvent::Create(const std::string& name) {
    Close();
    sem_ = ::sem_open(name.c_str(), O_CREAT, 0600, 0);
    if (sem_ == SEM_FAILED)
        return false;
    name_ = name;
    while (::sem_trywait(sem_) == 0) {
    }
    return true;
}

bool StartupEvent::Wait(int ms) {
    if (sem_ == SEM_FAILED)
        return false;
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    for (;;) {
        if (::sem_clockwait(sem_, CLOCK_MONOTONIC, &deadline) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

void StartupEvent::Close() {
    if (sem_ == SEM_FAILED)
        return;
    ::sem_close(sem_);
    ::sem_unlink(name_.c_str());
    sem_ = SEM_FAILED;
    name_.clear();
}
