// lanif-sim: answers as the LAN interfaces of a configuration file until SIGINT or SIGTERM.
//
//   lanif-sim -c <config file> [-l <request log file>]
//
// Prints "lanif-sim: N devices ready" on standard output once the devices answer. With -l, each
// received datagram appends one line: its command letter ('?' for none or an unprintable one),
// a space and the whole datagram in hexadecimal.

#include "LanIfSimulator.h"

#include <signal.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Usage(const char* message) {
    if (message)
        std::fprintf(stderr, "lanif-sim: %s\n", message);
    std::fprintf(stderr, "usage: lanif-sim -c <config file> [-l <request log file>]\n");
    return 2;
}

std::string LogLine(const lanifsim::RecordedRequest& request) {
    static const char* digits = "0123456789abcdef";
    unsigned char letter = static_cast<unsigned char>(request.command);
    std::string line(
        1, request.bytes.size() > 18 && std::isgraph(letter) ? static_cast<char>(letter) : '?');
    line += ' ';
    for (char c : request.bytes) {
        auto b = static_cast<unsigned char>(c);
        line += digits[b >> 4];
        line += digits[b & 0x0F];
    }
    line += '\n';
    return line;
}

} // namespace

int main(int argc, char** argv) {
    std::string configPath;
    std::string logPath;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if ((arg == "-c" || arg == "-l") && i + 1 < argc) {
            (arg == "-c" ? configPath : logPath) = argv[++i];
        } else if (arg == "-h" || arg == "--help") {
            std::printf("usage: lanif-sim -c <config file> [-l <request log file>]\n");
            return 0;
        } else {
            return Usage(("unexpected argument '" + arg + "'").c_str());
        }
    }
    if (configPath.empty())
        return Usage("a configuration file (-c) is needed");

    lanifsim::Simulator simulator;
    std::string error;
    if (!simulator.LoadConfig(configPath, &error)) {
        std::fprintf(stderr, "lanif-sim: %s\n", error.c_str());
        return 2;
    }
    if (simulator.DeviceCount() == 0) {
        std::fprintf(stderr, "lanif-sim: %s defines no device\n", configPath.c_str());
        return 2;
    }

    std::FILE* log = nullptr;
    if (!logPath.empty()) {
        log = std::fopen(logPath.c_str(), "a");
        if (!log) {
            std::fprintf(stderr, "lanif-sim: cannot open %s: %s\n", logPath.c_str(),
                         std::strerror(errno));
            return 2;
        }
    }
    // The log is the program's record; the simulator's own list would only grow while it runs.
    simulator.SetRequestObserver([log, &simulator](const lanifsim::RecordedRequest& request) {
        if (log) {
            std::string line = LogLine(request);
            std::fwrite(line.data(), 1, line.size(), log);
            std::fflush(log);
        }
        simulator.ClearRequests();
    });

    // The signals are taken by sigwait below; blocked before Start so that the serving thread
    // inherits the mask and never runs a handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    if (!simulator.Start()) {
        std::fprintf(stderr, "lanif-sim: %s\n", simulator.LastError().c_str());
        if (log)
            std::fclose(log);
        return 1;
    }
    std::printf("lanif-sim: %zu devices ready\n", simulator.DeviceCount());
    std::fflush(stdout);

    int signal = 0;
    while (sigwait(&stopSignals, &signal) != 0) {
    }
    simulator.Stop();
    if (log)
        std::fclose(log);
    return 0;
}
