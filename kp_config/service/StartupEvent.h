#pragma once

#include <semaphore.h>

#include <string>

// The named start-up event: a POSIX named semaphore that the radio service posts when it is
// ready. Its name is handed to the service on the command line.
class StartupEvent {
public:
    StartupEvent() = default;
    ~StartupEvent(); // Close
    StartupEvent(const StartupEvent&) = delete;
    StartupEvent& operator=(const StartupEvent&) = delete;

    // Creates (or opens a left-over) semaphore of this name and drains it, so that a signal from
    // an earlier service does not count. False when it cannot be had.
    bool Create(const std::string& name);

    // True when the event was posted within ms milliseconds.
    bool Wait(int ms);

    // Closes and removes the name; a service that opens it later finds none.
    void Close();

private:
    sem_t* sem_ = SEM_FAILED;
    std::string name_;
};
