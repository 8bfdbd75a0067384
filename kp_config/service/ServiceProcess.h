#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// One child process of the radio service. It is held through a pidfd, so that it is never
// confused with another process that later gets the same id; terminating always reaps it.
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

    // True when the child has ended (it is not reaped here: that is Terminate's work).
    bool HasExited() const;

    // Kills the child if it still runs, reaps it and forgets it. Nothing when none.
    void Terminate();

private:
    pid_t pid_ = 0;
    int pidfd_ = -1;
};
