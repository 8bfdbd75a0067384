#pragma once

// Turns the termination signals (SIGINT, SIGTERM, SIGHUP) into something a long operation can
// look at, so that it winds down in order instead of dying half-way: the handler only counts
// the signal and writes a byte into a pipe whose reading end a poll can wait on. While a watch
// exists, the signals no longer end the process; its owner decides what each one means. One
// watch per process at a time; the handlers in place before it come back when it is destroyed.
class TerminationWatch {
public:
    TerminationWatch();
    ~TerminationWatch();
    TerminationWatch(const TerminationWatch&) = delete;
    TerminationWatch& operator=(const TerminationWatch&) = delete;

    bool Installed() const { return installed_; }
    // How many termination signals came since the watch was made.
    int Count() const;
    // The most recent one (SIGINT, SIGTERM or SIGHUP; 0 before the first).
    int Last() const;
    // Readable after each signal; Drain reads what waits there.
    int WakeFd() const;
    void Drain();

    // Writes to a closed pipe or socket then fail with EPIPE instead of ending the process, so
    // that a reader that went away never stops work under way.
    static void IgnoreBrokenPipes();

private:
    bool installed_ = false;
};
