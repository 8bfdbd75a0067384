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

#include <sys/resource.h>

#include <fstream>
#include <thread>

// One run of lancfg under an address-space limit, with what it used.
struct MeasuredRun {
    double seconds = -1;
    int exitCode = -1;     // -1 when it did not exit normally (a signal: signal receives it)
    int signal = 0;
    long maxRssKb = 0;     // peak resident memory
    int maxThreads = 0;    // the most threads seen at once (sampled every 5 ms)
};

inline MeasuredRun MeasureLancfg(std::vector<std::string> words, rlim_t addressSpaceBytes) {
    using Clock = std::chrono::steady_clock;
    MeasuredRun run;
    std::string program = VK_BIN_DIR "/lancfg";
    words.insert(words.begin(), program);
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid < 0)
        return run;
    if (pid == 0) {
        rlimit limit{addressSpaceBytes, addressSpaceBytes};
        setrlimit(RLIMIT_AS, &limit);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    const std::string status = "/proc/" + std::to_string(pid) + "/status";
    int wstatus = 0;
    rusage usage{};
    for (;;) {
        std::ifstream in(status);
        for (std::string line; std::getline(in, line);)
            if (line.rfind("Threads:", 0) == 0)
                run.maxThreads = std::max(run.maxThreads, std::stoi(line.substr(8)));
        const pid_t done = wait4(pid, &wstatus, WNOHANG, &usage);
        if (done == pid)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.exitCode = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    run.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
    run.maxRssKb = usage.ru_maxrss;
    return run;
}
