// Speed of firmware rollouts with one command. Run it inside a private network namespace:
//   scripts/netns-run.sh build/default/bin/bench_lan_fleet
// 250 and 1,000 simulated devices updated at once against one device updated alone with the
// same file, all measured in this run, with the peak memory and threads of the rollout.
#include "TimeLancfg.h"
#include "FleetScenarios.h"
#include "LanIfSimulator.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kRecords = 8;

void Report(const char* what, const MeasuredRun& run, double alone, const char* target) {
    std::printf("%-46s %8.3f s  baseline one device alone %8.3f s  ratio %5.2f  (target %s)\n",
                what, run.seconds, alone, run.seconds / alone, target);
    std::printf("%-46s exit %d, peak RSS %ld KiB, at most %d threads\n", "", run.exitCode,
                run.maxRssKb, run.maxThreads);
}

// A rollout of every device of a fresh simulated site of count devices.
MeasuredRun Rollout(int count, const std::string& file, const std::vector<std::string>& extra) {
    lanifsim::Simulator sim;
    for (int n = 1; n <= count; ++n)
        sim.AddDevice(lanifsim::FleetDevice(n, kRecords));
    if (!sim.Start()) {
        std::fprintf(stderr, "bench_lan_fleet: %s\n", sim.LastError().c_str());
        return MeasuredRun();
    }
    std::vector<std::string> words = {"fwupdate", "--all", "-f", file, "--yes", "--json"};
    words.insert(words.end(), extra.begin(), extra.end());
    return MeasureLancfg(words, rlim_t(4) << 30);
}

} // namespace

int main() {
    const std::string path = "/tmp/bench_lan_fleet_firmware.hex";
    {
        std::ofstream f(path);
        for (int b = 0; b < kRecords; ++b) {
            f << "0400";
            for (int i = 0; i < 1024; ++i) {
                char hex[3];
                std::snprintf(hex, sizeof hex, "%02X", (b + i) & 0xFF);
                f << hex;
            }
        }
    }
    // The baseline: one device, verified back with its new version, as a fleet device is.
    double alone = -1;
    {
        lanifsim::Simulator sim;
        sim.AddDevice(lanifsim::FleetDevice(1, kRecords));
        if (!sim.Start()) {
            std::fprintf(stderr, "bench_lan_fleet: the simulator could not start; run it inside "
                                 "a network namespace (scripts/netns-run.sh)\n");
            return 1;
        }
        int code = -1;
        alone = TimeLancfg({"fwupdate", lanifsim::FleetSerial(1), "-f", path, "--verify"}, &code);
        if (code != 0)
            alone = -1;
    }
    if (alone <= 0) {
        std::fprintf(stderr, "bench_lan_fleet: the single update failed\n");
        return 1;
    }
    // At the defaults, at most 64 devices are between their B and their result at once, so a
    // site larger than that takes rounds; with -j as large as the site, one round.
    Report("fwupdate --all, 250 devices, default -j 64", Rollout(250, path, {}), alone,
           "<= 1.5");
    Report("fwupdate --all, 250 devices, -j 250", Rollout(250, path, {"-j", "250"}), alone,
           "<= 1.5");
    Report("fwupdate --all, 1000 devices, -j 1000", Rollout(1000, path, {"-j", "1000"}), alone,
           "<= 2, RSS <= 64 MB, threads <= 8");
    Report("fwupdate --all, 1000 devices, default -j 64", Rollout(1000, path, {}), alone,
           "<= 2");
    std::remove(path.c_str());
    return 0;
}
