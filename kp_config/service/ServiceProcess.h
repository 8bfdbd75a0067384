#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// One child process of the radio service. It is held through a pidfd, so that it is never
// confused with another process that later gets the same id; it is reaped as soon as it is seen
// to have ended, and terminating always reaps it.
class ServiceProcess {
public:
    ServiceProcess() = default;
    ~ServiceProcess(); // terminates a running child
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // Starts program (no search path) with args after argv[0]. The child inherits the
    // environment and the current directory, but none of the parent's descriptors beyond
    // standard input, output and error. False when it could not be started.
    bool Spawn(const std::string& program, const std::vector<std::string>& args);

    bool IsStarted() const { return pidfd_ >= 0; }
    pid_t Pid() const { return pid_; }

    // True when the child has ended. An ended child is reaped here, so that it does not stay a
    // zombie while this program runs; the descriptor stays until Terminate.
    bool HasExited();
    // How the reaped child ended: "exit status N", "signal N", or "reaped elsewhere" when
    // another part of the program reaped it; empty before it was reaped.
    std::string EndText() const;
    // False when the child does not hold the socket that listens on the TCP port: it has closed
    // its port, and nobody or another program listens there. Which of the child's descriptors
    // that socket is comes from the system's table of sockets, once; later calls look at that
    // descriptor alone while it stays the same. True also when the system does not tell.
    bool HoldsListener(int port);

    // Kills the child if it still runs, reaps it and forgets it. Nothing when none.
    void Terminate();

private:
    bool Reap(bool wait);

    pid_t pid_ = 0;
    int pidfd_ = -1;
    bool reaped_ = false;
    int endCode_ = 0;              // CLD_EXITED, CLD_KILLED or CLD_DUMPED once reaped
    int endStatus_ = 0;            // its exit status or signal
    std::string listenerFd_;       // "/proc/<pid>/fd/<n>" of its listening socket, once learnt
    std::string listenerLink_;     // what that descriptor showed then: "socket:[<inode>]"
    bool listenerUnknown_ = false; // the system does not tell who listens
};
