// Speed of a firmware update of many devices with one command. Run it inside a private network
// namespace:
//   scripts/netns-run.sh build/default/bin/bench_lan_fleet
// 20 simulated devices updated at once against one device updated alone with the same file,
// and against the 20 updated one after the other, all measured in this run.
#include "TimeLancfg.h"
#include "FleetScenarios.h"
#include "LanIfSimulator.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDevices = 20;
constexpr int kRecords = 64;

// One run of lancfg; -1 when it did not exit with 0.
double TimedRun(const std::vector<std::string>& words) {
    int code = -1;
    const double took = TimeLancfg(words, &code);
    return code == 0 ? took : -1;
}

void Report(const char* what, double measured, const char* baselineName, double baseline,
            const char* target) {
    std::printf("%-44s %8.3f s  baseline %-28s %8.3f s  ratio %5.2f  (target %s)\n", what, measured,
                baselineName, baseline, measured / baseline, target);
}

} // namespace

int main() {
    lanifsim::Simulator sim;
    for (int n = 1; n <= kDevices; ++n)
        sim.AddDevice(lanifsim::FleetDevice(n, kRecords));
    if (!sim.Start()) {
        std::fprintf(stderr, "bench_lan_fleet: the simulator could not start; run it inside a "
                             "network namespace (scripts/netns-run.sh)\n");
        return 1;
    }
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

    // Every run waits until its devices are back, so the next one finds them ready.
    const double alone =
        TimedRun({"fwupdate", lanifsim::FleetSerial(1), "-f", path, "--confirm"});
    std::vector<std::string> fleet = {"fwupdate"};
    for (int n = 1; n <= kDevices; ++n)
        fleet.push_back(lanifsim::FleetSerial(n));
    fleet.insert(fleet.end(), {"-f", path});
    // All 20 at once; with the default of 16 at once the last 4 wait for a free place.
    std::vector<std::string> allAtOnce = fleet;
    allAtOnce.insert(allAtOnce.end(), {"-j", std::to_string(kDevices)});
    const double together = TimedRun(allAtOnce);
    const double byDefault = TimedRun(fleet);
    double oneByOne = 0;
    for (int n = 1; n <= kDevices && oneByOne >= 0; ++n) {
        const double t =
            TimedRun({"fwupdate", lanifsim::FleetSerial(n), "-f", path, "--confirm"});
        oneByOne = t < 0 ? -1 : oneByOne + t;
    }
    std::remove(path.c_str());
    sim.Stop();
    if (alone < 0 || together < 0 || byDefault < 0 || oneByOne < 0) {
        std::fprintf(stderr, "bench_lan_fleet: an update failed\n");
        return 1;
    }
    Report("fwupdate of 20 devices, -j 20", together, "one device alone", alone, "<= 1.20");
    Report("fwupdate of 20 devices, -j 20", together, "20 devices one after another", oneByOne,
           "near 0.05");
    Report("fwupdate of 20 devices, default -j 16", byDefault, "one device alone", alone,
           "about 2: two rounds");
    return 0;
}
