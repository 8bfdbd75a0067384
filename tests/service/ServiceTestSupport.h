#pragma once

// Shared by the controller tests: controller options that run the stand-in service from the
// build's program folder with start-up events named after this test process, and polling
// helpers.

#include "CServiceController.h"
#include "LoopbackPorts.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

namespace servicetest {

inline ConnectionSettings Usb(const std::string& serial = "") {
    ConnectionSettings s;
    s.connection = ConnectionType::Usb;
    s.usbSerial = serial;
    return s;
}

inline ConnectionSettings Remote(const std::string& host, int port) {
    ConnectionSettings s;
    s.connection = ConnectionType::RemoteService;
    s.serviceHost = host;
    s.servicePort = port;
    return s;
}

inline ServiceControllerOptions StandIn(std::vector<std::string> behaviours = {}) {
    ServiceControllerOptions o;
    o.servicePath = std::string(VK_BIN_DIR) + "/nrd";
    o.eventPrefix = "/vk7-test-" + std::to_string(::getpid());
    // The stand-in looks for USB interfaces in a tree that does not exist unless a test names
    // its own (a later -t wins): a test never touches the machine's own HID devices.
    const std::string noHid = std::string(VK_BINARY_DIR) + "/no-such-hid-tree";
    o.extraArguments = {"-t", "sysroot=" + noHid, "-t", "devroot=" + noHid};
    o.hidSysRoot = noHid;
    o.hidDevRoot = noHid;
    for (const std::string& b : behaviours) {
        o.extraArguments.push_back("-t");
        o.extraArguments.push_back(b);
    }
    o.startupTimeoutMs = 5000;
    o.interfaceDownPollMs = 100;
    o.connectedPollMs = 200;
    return o;
}

// Polls condition every 20 ms for at most ms milliseconds.
inline bool WaitFor(const std::function<bool()>& condition, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

inline bool WaitForState(const CServiceController& c, ServiceState s, int ms) {
    return WaitFor([&] { return c.GetState() == s; }, ms);
}

// Supervision threads of this process, found by their name, to see that none is left behind.
inline int SupervisionThreads() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
            std::string name;
            std::getline(comm, name);
            if (name == SupervisionThreadName)
                ++n;
        }
        ::closedir(d);
    }
    return n;
}

inline long ElapsedMs(std::chrono::steady_clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - since)
                                 .count());
}

} // namespace servicetest
