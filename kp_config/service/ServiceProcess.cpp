#include "ServiceProcess.h"

#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

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
    reaped_ = false;
    listenerFd_.clear();
    listenerLink_.clear();
    listenerUnknown_ = false;
    return true;
}

bool ServiceProcess::Reap(bool wait) {
    if (reaped_)
        return true;
    siginfo_t info{};
    int rc;
    while ((rc = ::waitid(P_PIDFD, static_cast<id_t>(pidfd_), &info,
                          WEXITED | (wait ? 0 : WNOHANG))) < 0 &&
           errno == EINTR) {
    }
    if (rc < 0 && errno == ECHILD) {
        reaped_ = true; // someone else has reaped it: it is gone all the same
        endCode_ = 0;   // how, nobody here knows
        return true;
    }
    if (rc < 0 || info.si_pid == 0)
        return false; // still running
    reaped_ = true;
    endCode_ = info.si_code;
    endStatus_ = info.si_status;
    return true;
}

bool ServiceProcess::HasExited() {
    return pidfd_ < 0 || Reap(false);
}

bool ServiceProcess::HoldsListener(int port) {
    if (pidfd_ < 0 || reaped_)
        return false;
    if (listenerUnknown_)
        return true;
    if (!listenerLink_.empty()) {
        // The same socket under the same descriptor: nobody else can listen on its port.
        char target[64];
        const ssize_t n = ::readlink(listenerFd_.c_str(), target, sizeof target);
        if (n > 0 &&
            listenerLink_.compare(0, std::string::npos, target, static_cast<size_t>(n)) == 0)
            return true;
        listenerFd_.clear(); // closed, or another socket now: learnt anew
        listenerLink_.clear();
    }
    // Which of the system's listening sockets on the port is the child's.
    std::vector<std::string> listeners; // by the link text their descriptors show
    bool told = false;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        if (!std::getline(in, line)) // the column names
            continue;
        told = true;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >>
                  uid >> timeout >> inode))
                continue;
            const size_t colon = local.rfind(':');
            if (state != "0A" || colon == std::string::npos ||
                std::strtol(local.c_str() + colon + 1, nullptr, 16) != port)
                continue;
            if (inode == "0")
                told = false; // the system does not tell whose it is
            listeners.push_back("socket:[" + inode + "]");
        }
    }
    const std::string fdDir = "/proc/" + std::to_string(pid_) + "/fd";
    DIR* fds = told ? ::opendir(fdDir.c_str()) : nullptr;
    if (fds == nullptr) {
        listenerUnknown_ = true; // the port's owner cannot be seen here: liveness must do
        return true;
    }
    char target[64];
    while (dirent* e = ::readdir(fds)) {
        const ssize_t n = ::readlinkat(::dirfd(fds), e->d_name, target, sizeof target - 1);
        if (n <= 0)
            continue;
        target[n] = '\0';
        if (std::find(listeners.begin(), listeners.end(), target) != listeners.end()) {
            listenerFd_ = fdDir + "/" + e->d_name;
            listenerLink_ = target;
            break;
        }
    }
    ::closedir(fds);
    return !listenerLink_.empty(); // none: nobody listens there, or another program does
}

std::string ServiceProcess::EndText() const {
    if (!reaped_)
        return std::string();
    if (endCode_ == CLD_EXITED)
        return "exit status " + std::to_string(endStatus_);
    if (endCode_ == CLD_KILLED || endCode_ == CLD_DUMPED)
        return "signal " + std::to_string(endStatus_);
    return "reaped elsewhere";
}

void ServiceProcess::Terminate() {
    if (pidfd_ < 0)
        return;
    // A reaped child is gone, and one that has ended is a zombie until reaped: either way the
    // signal, sent through the descriptor, cannot reach anyone else.
    if (!reaped_) {
        pidfd_send_signal(pidfd_, SIGKILL, nullptr, 0);
        Reap(true);
    }
    ::close(pidfd_);
    pidfd_ = -1;
    pid_ = 0;
    reaped_ = false;
}
