#pragma once

// Runs the built lancfg program once with its standard output thrown away, for the benchmarks.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

// The wall time of one run in seconds, -1 when the program could not be started; exitCode
// receives its exit status (-1 when it did not exit normally).
inline double TimeLancfg(std::vector<std::string> words, int* exitCode = nullptr) {
    using Clock = std::chrono::steady_clock;
    std::string program = VK_BIN_DIR "/lancfg";
    words.insert(words.begin(), program);
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    if (exitCode)
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return took;
}
