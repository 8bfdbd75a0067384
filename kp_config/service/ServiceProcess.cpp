#include "ServiceProcess.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

// This C library's header declares the pidfd calls without C linkage.
extern "C" {
#include <sys/pidfd.h>
}

extern char** environ;

ServiceProcess::~ServiceProcess() {
    Terminate();
}

bool ServiceProcess::Spawn(const std::string& program, const std::vector<std::string>& args) {
    Terminate();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    // The service gets none of this program's sockets or files.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // Signals blocked or ignored here (SIGPIPE, say) are the service's own business.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        return false;

    // The child cannot be reaped by anyone but this process, so its id still names it here.
    int fd = pidfd_open(pid, 0);
    if (fd < 0) {
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return false;
    }
    pid_ = pid;
    pidfd_ = fd;
    return true;
}

bool ServiceProcess::HasExited() const {
    if (pidfd_ < 0)
        return true;
    pollfd p{pidfd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

void ServiceProcess::Terminate() {
    if (pidfd_ < 0)
        return;
    // A child that has already ended is a zombie until reaped: the signal cannot reach anyone else.
    pidfd_send_signal(pidfd_, SIGKILL, nullptr, 0);
    siginfo_t info{};
    while (::waitid(P_PIDFD, static_cast<id_t>(pidfd_), &info, WEXITED) < 0 && errno == EINTR) {
    }
    ::close(pidfd_);
    pidfd_ = -1;
    pid_ = 0;
}
