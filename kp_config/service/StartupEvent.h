#pragma once

#include <semaphore.h>

#include <functional>
#include <string>

// The named start-up event: a POSIX named semaphore that the radio service posts when it is
// ready. Its name is handed to the service on the command line.
//
// Named semaphores live in a directory every local user can write to, so the name carries 128
// random bits and the semaphore is created exclusively with owner-only access: nobody else can
// have made it beforehand (that would keep the service from starting) or post it (that would
// pass a service off as ready before it is).
class StartupEvent {
public:
    StartupEvent() = default;
    ~StartupEvent(); // Close
    StartupEvent(const StartupEvent&) = delete;
    StartupEvent& operator=(const StartupEvent&) = delete;

    // Creates a new semaphore named prefix, "-" and 32 random hexadecimal digits. A name that
    // exists already is never opened: another one is drawn. False when none can be had.
    bool Create(const std::string& prefix);

    // The name made by Create (empty before); the service gets it on its command line.
    const std::string& Name() const { return name_; }

    // True when the event was posted within ms milliseconds. keepWaiting is asked every few
    // milliseconds and ends the wait early when it returns false (the service has ended, say);
    // a post that came before that still counts.
    bool Wait(int ms, const std::function<bool()>& keepWaiting = {});

    // Removes the name, so that nobody can open it any more, and closes the semaphore.
    void Close();

private:
    sem_t* sem_ = SEM_FAILED;
    std::string name_;
};
