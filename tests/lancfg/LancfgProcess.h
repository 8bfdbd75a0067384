#pragma once

// The built lancfg program as a process of its own, for what only a process shows: signals, a
// closed pipe, a full disk, kill -9.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

class LancfgProcess {
public:
    // Starts lancfg with words; its standard output goes to a pipe read by Finish, or to
    // outPath when given ("/dev/full"); extra holds "NAME=value" entries for its environment.
    LancfgProcess(const std::vector<std::string>& words, const std::vector<std::string>& extra,
                  const std::string& outPath = std::string()) {
        std::vector<std::string> args = {VK_BIN_DIR "/lancfg"};
        args.insert(args.end(), words.begin(), words.end());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> env(extra);
        for (char** e = environ; *e; ++e)
            env.emplace_back(*e);
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        int out[2] = {-1, -1}, err[2] = {-1, -1};
        if (pipe2(err, O_CLOEXEC) != 0 || (outPath.empty() && pipe2(out, O_CLOEXEC) != 0))
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (outPath.empty())
            posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        else
            posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(err[1]);
        errFd_ = err[0];
        if (outPath.empty()) {
            close(out[1]);
            outFd_ = out[0];
        }
    }
    ~LancfgProcess() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int fd : {outFd_, errFd_})
            if (fd >= 0)
                close(fd);
    }

    bool Started() const { return pid_ > 0; }
    void Signal(int signal) const { kill(pid_, signal); }
    // Closes the reading end of its standard output, as a reader that went away does.
    void CloseOutput() {
        close(outFd_);
        outFd_ = -1;
    }

    // Reads its output until it ends, for at most limit. code: the exit status, or -1000 - the
    // signal that ended it, or -2000 when it did not end in time.
    struct Ended {
        int code = -2000;
        std::string out, err;
    };
    Ended Finish(std::chrono::milliseconds limit) {
        Ended ended;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (outFd_ >= 0 || errFd_ >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                return ended;
            pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
            if (poll(fds, 2, static_cast<int>(left)) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || fds[i].revents == 0)
                    continue;
                char buffer[4096];
                const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    (i == 0 ? ended.out : ended.err).append(buffer, static_cast<size_t>(n));
                } else {
                    close(fds[i].fd);
                    (i == 0 ? outFd_ : errFd_) = -1;
                }
            }
        }
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline)
                return ended;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        reaped_ = true;
        ended.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1000 - WTERMSIG(status);
        return ended;
    }

private:
    pid_t pid_ = -1;
    int outFd_ = -1, errFd_ = -1;
    bool reaped_ = false;
};
