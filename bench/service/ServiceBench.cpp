// Measures what the supervision of the radio service costs and how fast Stop is:
//  - CPU time used by this process over a period in each of the states Unreachable,
//    InterfaceDown and Connected (the main thread only sleeps meanwhile), and of the
//    supervision thread alone;
//  - the time Stop takes while a probe waits on its 15-second time-out in state Connected;
//  - what the probe's look at the service's process and port costs, against its call;
//  - how the time to read the service's configuration file grows with its number of keys;
//  - the start-up scan of a service log whose first line is 300 MB long, against a log of the
//    same size in lines of 100 characters, in time and in memory.
// Uses the program's own poll periods and time-outs, and the stand-in service beside this program
// over loopback TCP. Usage: service_bench [seconds per state, default 30] [stop rounds, default 5]

#include "CServiceController.h"
#include "LoopbackPorts.h"
#include "OSCompat.h"
#include "ProcessTable.h"
#include "PropertyMap.h"
#include "RpcClient.h"
#include "ServiceLogScan.h"
#include "ServiceProcess.h"

#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

double ProcessCpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of the supervision thread, from the run time its task entry reports in ns.
double SupervisionCpuSeconds() {
    double total = 0;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            std::string base = std::string("/proc/self/task/") + e->d_name;
            std::ifstream comm(base + "/comm");
            std::string name;
            std::getline(comm, name);
            if (name != SupervisionThreadName)
                continue;
            std::ifstream schedstat(base + "/schedstat");
            unsigned long long runNs = 0;
            if (schedstat >> runNs)
                total += static_cast<double>(runNs) / 1e9;
        }
        ::closedir(d);
    }
    return total;
}

// The stand-in service child of this process, found by its name.
pid_t ServiceChild() {
    for (const proctable::Process& p : proctable::ReadAll())
        if (p.parent == ::getpid() && p.name == "nrd")
            return p.pid;
    return 0;
}

ServiceControllerOptions WithBehaviour(const char* behaviour) {
    ServiceControllerOptions o;
    o.extraArguments = {"-t", behaviour};
    return o;
}

bool WaitForState(const CServiceController& c, ServiceState s, int ms) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        if (c.GetState() == s)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool MeasureState(const char* label, CServiceController& c, const ConnectionSettings& s,
                  ServiceState expected, int seconds) {
    if (!c.Start(s) || !WaitForState(c, expected, 10000)) {
        std::printf("%-14s could not be reached (state %s)\n", label, StateName(c.GetState()));
        return false;
    }
    double cpu0 = ProcessCpuSeconds();
    double thread0 = SupervisionCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    double cpu = ProcessCpuSeconds() - cpu0;
    double thread = SupervisionCpuSeconds() - thread0;
    ServiceState end = c.GetState();
    c.Stop();
    std::printf("%-14s %3d s   process CPU %8.1f ms   supervision thread %8.1f ms   (%.3f %% of a "
                "core)%s\n",
                label, seconds, cpu * 1000, thread * 1000, cpu * 100 / seconds,
                end == expected ? "" : "   state changed!");
    return true;
}

// Seconds to read a file of `keys` keys in one section, best of three.
double ReadSeconds(int keys) {
    PropertyMap map;
    map.SetCurrentSection("Interface 0");
    for (int i = 0; i < keys; ++i)
        map.SetStringValue("Key " + std::to_string(i), " value " + std::to_string(i) + " ");
    const std::string text = map.ToText();
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        PropertyMap back;
        auto t0 = Clock::now();
        back.ReadFromText(text);
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

// A service log made up on the fly, so that hundreds of megabytes need neither disk nor memory:
// `size` bytes of text, a line end after every `lineLength` of them (0: none), then the ready
// line.
class GeneratedLog : public std::streambuf {
public:
    GeneratedLog(size_t size, size_t lineLength) : left_(size), lineLength_(lineLength) {
        tail_ = std::string("\n") + ServiceReadyText + "2001\n";
    }

protected:
    int_type underflow() override {
        if (left_ == 0 && tailDone_)
            return traits_type::eof();
        size_t n = 0;
        if (left_ > 0) {
            n = std::min(left_, sizeof buffer_);
            for (size_t i = 0; i < n; ++i, ++column_) {
                const bool end = lineLength_ > 0 && column_ % (lineLength_ + 1) == lineLength_;
                buffer_[i] = end ? '\n' : 'x';
            }
            left_ -= n;
        } else {
            n = tail_.size();
            std::memcpy(buffer_, tail_.data(), n);
            tailDone_ = true;
        }
        setg(buffer_, buffer_, buffer_ + n);
        return traits_type::to_int_type(buffer_[0]);
    }

private:
    char buffer_[1 << 16];
    size_t left_;
    size_t lineLength_;
    size_t column_ = 0;
    std::string tail_;
    bool tailDone_ = false;
};

long PeakRssKb() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Seconds to scan the generated log, and whether the ready line's port was found.
double ScanSeconds(size_t size, size_t lineLength, bool& found) {
    GeneratedLog buffer(size, lineLength);
    std::istream log(&buffer);
    auto t0 = Clock::now();
    ServiceLogScan scan = ScanServiceLog(log);
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    found = scan.result == ServiceLogScan::ScanReady && scan.port == "2001";
    return seconds;
}

// Microseconds per run of f, over n runs.
template <class F> double MicrosEach(int n, F f) {
    auto t0 = Clock::now();
    for (int i = 0; i < n; ++i)
        f();
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / n;
}

// What the probe's look at the service's process and port costs, against the call it guards:
// each on a stand-in service started here, `n` times.
bool MeasurePortCheck(int n) {
    char config[] = "/tmp/vk-bench-config-XXXXXX";
    char log[] = "/tmp/vk-bench-log-XXXXXX";
    ::close(::mkstemp(config));
    ::close(::mkstemp(log));
    PropertyMap map;
    map.SetIntValue("Listen Port", 0);
    map.SetStringValue("Log Filename", log);
    map.SetCurrentSection("Interface 0");
    map.SetStringValue("Type", "USB Interface");
    map.WriteToFile(config);
    ServiceProcess service;
    bool ok = service.Spawn(OSCompat::FixPath("nrd"),
                            {"-f", config, "-e", "/vk7-bench-unused", "-t", "present=up"});
    ServiceLogScan scan;
    for (int i = 0; ok && i < 500 && scan.result != ServiceLogScan::ScanReady; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream in(log);
        scan = ScanServiceLog(in);
    }
    const int port = std::atoi(scan.port.c_str());
    // The first look learns which of the service's descriptors listens, from the system's table.
    const double learn = MicrosEach(1, [&] { ok = ok && port > 0 && service.HoldsListener(port); });
    if (ok) {
        std::printf("first look (learns the listening socket): %.1f us\n", learn);
        const double check =
            MicrosEach(n, [&] { ok = !service.HasExited() && service.HoldsListener(port) && ok; });
        const double call = MicrosEach(n, [&] {
            RpcClient client("bin://127.0.0.1:" + std::to_string(port));
            XmlRpc::XmlRpcValue params, result;
            ok = client.Execute(ListInterfacesMethod, params, result) && ok;
        });
        std::printf("each later look: %.1f us, the call: %.1f us, ratio look / call %.3f%s\n",
                    check, call, check / call, ok ? "" : "   (a check or call failed!)");
    } else {
        std::printf("the stand-in service did not start\n");
    }
    service.Terminate();
    ::unlink(config);
    ::unlink(log);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::printf("CPU time of the supervision, %d s in each state\n", seconds);

    ConnectionSettings usb;
    ConnectionSettings remote;
    remote.connection = ConnectionType::RemoteService;
    remote.serviceHost = "127.0.0.1";
    remote.servicePort = FreePort(); // nobody listens: every probe is refused
    {
        CServiceController c;
        MeasureState("Unreachable", c, remote, ServiceState::Unreachable, seconds);
    }
    {
        CServiceController c(WithBehaviour("present=down"));
        MeasureState("InterfaceDown", c, usb, ServiceState::InterfaceDown, seconds);
    }
    {
        CServiceController c(WithBehaviour("present=up"));
        MeasureState("Connected", c, usb, ServiceState::Connected, seconds);
    }

    // Stop while a probe waits: a remote controller is Connected to a local service, which is
    // then frozen (SIGSTOP), so that the next probe waits on its 15-second time-out.
    std::printf("\nStop while a probe waits on its 15 s time-out, %d rounds\n", rounds);
    std::vector<double> latencies;
    for (int r = 0; r < rounds; ++r) {
        CServiceController service(WithBehaviour("present=up"));
        if (!service.Start(usb)) {
            std::printf("the stand-in service did not start\n");
            return 1;
        }
        pid_t child = ServiceChild();
        ConnectionSettings to = remote;
        to.servicePort = PortOf(service.GetServiceUrl());
        CServiceController watcher;
        if (!watcher.Start(to) || !WaitForState(watcher, ServiceState::Connected, 5000) ||
            child == 0) {
            std::printf("round %d: no Connected state\n", r);
            return 1;
        }
        ::kill(child, SIGSTOP);
        // The Connected poll period is 5 s: after 6 s the next probe is waiting for its answer.
        std::this_thread::sleep_for(std::chrono::milliseconds(6000));
        auto t0 = Clock::now();
        watcher.Stop();
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        latencies.push_back(ms);
        ::kill(child, SIGCONT);
        service.Stop();
        std::printf("round %d: Stop took %.2f ms\n", r + 1, ms);
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("Stop latency: min %.2f ms, median %.2f ms, max %.2f ms\n", latencies.front(),
                latencies[latencies.size() / 2], latencies.back());

    // Each probe of a local service looks at its process and at who holds its port, twice.
    std::printf("\nThe probe's look at the service's process and port, against its call (1000 "
                "each)\n");
    MeasurePortCheck(1000);

    // The configuration file reader must stay linear: ten times the keys, ten times the time.
    std::printf("\nReading a configuration file (best of 3)\n");
    const double small = ReadSeconds(10000), large = ReadSeconds(100000);
    std::printf("10,000 keys: %.1f ms, 100,000 keys: %.1f ms, ratio %.1f (linear: 10)\n",
                small * 1e3, large * 1e3, large / small);

    // The start-up scan runs on the window's thread: one huge line must cost no more than a log
    // of that size in ordinary lines, and must not be held in memory.
    std::printf("\nScanning a 300 MB service log before its ready line\n");
    const size_t logSize = 300u * 1000 * 1000;
    bool shortFound = false, longFound = false;
    const long rss0 = PeakRssKb();
    const double shortLines = ScanSeconds(logSize, 100, shortFound);
    const long rss1 = PeakRssKb();
    const double oneLine = ScanSeconds(logSize, 0, longFound);
    const long rss2 = PeakRssKb();
    std::printf("lines of 100 characters: %.0f ms (ready line %s), peak memory +%ld KiB\n",
                shortLines * 1e3, shortFound ? "found" : "MISSED", rss1 - rss0);
    std::printf("one line of 300 MB:      %.0f ms (ready line %s), peak memory +%ld KiB\n",
                oneLine * 1e3, longFound ? "found" : "MISSED", rss2 - rss1);
    std::printf("ratio one line / short lines: %.2f\n", oneLine / shortLines);
    return 0;
}
