#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a call on the GUI thread, so that a terminated program shuts
// down the way a closed window does. The signal handler only writes a byte into a pipe; the
// event loop reads it. Catch() installs the handlers at the very start of the program, before
// anything exists that a default termination would leave behind; a signal that comes before the
// event loop runs waits in the pipe and takes effect once it runs. One object per process; the
// handlers are reset when it is destroyed.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers (once); needs no application object.
    static bool Catch();
    // True once a signal has come that the event loop has not yet taken: the program is being
    // ended, so a wait on the GUI thread (the service's start-up) should give up.
    static bool Pending();

    explicit TerminationSignals(std::function<void()> onSignal);
    ~TerminationSignals() override;

    bool IsInstalled() const { return notifier_ != nullptr; }

private:
    std::function<void()> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};
