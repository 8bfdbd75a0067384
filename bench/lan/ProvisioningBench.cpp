// Speed of lancfg apply and of -a over a range, against the simulator. Run it inside a private
// network namespace:
//   scripts/netns-run.sh build/default/bin/bench_provisioning
// Prints wall times and their ratios against baselines measured in the same run.
#include "TimeLancfg.h"
#include "LanIfSimulator.h"
#include "SimNetwork.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// One run of lancfg; -1, and a line on standard error, when it did not exit with 0.
double TimedRun(const std::vector<std::string>& words) {
    int code = -1;
    const double took = TimeLancfg(words, &code);
    if (code != 0) {
        std::fprintf(stderr, "bench_provisioning: lancfg %s failed\n", words[0].c_str());
        return -1;
    }
    return took;
}

void Report(const char* what, double t, const char* baseline, double b, double target) {
    std::printf("%-44s %8.3f s  baseline %-32s %8.3f s  ratio %5.2f  (target <= %.2f)\n", what, t,
                baseline, b, t / b, target);
}

constexpr int Devices = 50;
constexpr int Changed = 10;
constexpr int Runs = 3;
constexpr double DiscoveryWindow = 2.0; // seconds a search waits for answers

std::string Serial(int i) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "BEN%07d", i);
    return serial;
}

// apply of a site file for 50 devices, 10 of which differ, against show of one device plus the
// window of one search: applying a site should cost about what finding it costs.
bool ApplyBench() {
    lanifsim::Simulator sim;
    for (int i = 0; i < Devices; ++i) {
        lanifsim::SimDevice d;
        d.serial = Serial(i);
        d.version = 1234;
        d.currentIp = d.staticIp = {192, 168, 1, static_cast<uint8_t>(10 + i)};
        d.currentNetmask = d.staticNetmask = {255, 255, 255, 0};
        d.currentGateway = d.staticGateway = {192, 168, 1, 1};
        sim.AddDevice(d);
    }
    if (!sim.Start()) {
        std::fprintf(stderr, "bench_provisioning: the simulator could not start; run it inside a "
                             "network namespace\n");
        return false;
    }
    char folder[] = "/tmp/benchprovXXXXXX";
    if (!mkdtemp(folder))
        return false;
    const std::string plan = std::string(folder) + "/site.json";
    {
        std::ofstream out(plan);
        out << "[\n";
        for (int i = 0; i < Devices; ++i)
            out << (i ? ",\n" : "") << "{\"serialNumber\":\"" << Serial(i)
                << "\",\"ip\":\"192.168.1." << (10 + i + (i < Changed ? 100 : 0))
                << "\",\"netmask\":\"255.255.255.0\",\"gateway\":\"192.168.1.1\","
                   "\"dhcp\":false,\"encryption\":false}";
        out << "\n]\n";
    }
    double apply = 1e9;
    for (int run = 0; run < Runs; ++run) {
        for (int i = 0; i < Changed; ++i) // back to the values the file changes
            sim.ModifyDevice(Serial(i), [&](lanifsim::SimDevice& d) {
                d.staticIp = {192, 168, 1, static_cast<uint8_t>(10 + i)};
            });
        apply = std::min(apply, TimedRun({"apply", plan}));
    }
    double show = 1e9;
    for (int run = 0; run < Runs; ++run)
        show = std::min(show, TimedRun({"show", Serial(0)}));
    Report("apply of 50 devices, 10 changed", apply, "show of one + discovery window",
           show + DiscoveryWindow, 1.1);
    sim.Stop();
    std::system(("rm -rf '" + std::string(folder) + "'").c_str());
    return true;
}

// list -a over a /24 against list by multicast, with the device on a network of its own.
bool RangeBench() {
    lanifsim::SimNetwork network(1);
    lanifsim::SimDevice d;
    d.serial = Serial(99);
    d.version = 1234;
    if (!network.Start({d})) {
        std::fprintf(stderr, "bench_provisioning: %s\n", network.LastError().c_str());
        return false;
    }
    double range = 1e9, multicast = 1e9;
    for (int run = 0; run < Runs; ++run) {
        range = std::min(range, TimedRun({"list", "-a", "10.77.1.0/24"}));
        multicast = std::min(multicast, TimedRun({"list"}));
    }
    Report("list -a 10.77.1.0/24", range, "list by multicast", multicast, 1.05);
    return true;
}

} // namespace

int main() {
    return ApplyBench() && RangeBench() ? 0 : 1;
}
