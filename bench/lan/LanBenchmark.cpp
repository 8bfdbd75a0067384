// Speed of the LAN tools against the simulator. Run it inside a private network namespace:
//   scripts/netns-run.sh build/default/bin/bench_lan
// Prints wall times and their ratios against baselines measured in the same run.
#include "TimeLancfg.h"
#include "LanIfSimulator.h"
#include "LanInterface.h"
#include "SimNetwork.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}


template <typename F> double Best(int runs, F f) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        double t = f();
        if (t < best)
            best = t;
    }
    return best;
}

void Report(const char* what, double measured, const char* baselineName, double baseline,
            double target) {
    std::printf("%-44s %8.3f s  baseline %-28s %8.3f s  ratio %5.2f  (target <= %.2f)\n", what,
                measured, baselineName, baseline, measured / baseline, target);
}

} // namespace

int main() {
    lanifsim::Simulator sim;
    for (int i = 0; i < 250; ++i) {
        lanifsim::SimDevice d;
        char serial[16];
        std::snprintf(serial, sizeof serial, "BEN%07d", i);
        d.serial = serial;
        sim.AddDevice(d);
    }
    lanifsim::SimDevice boot;
    boot.serial = "BOOT000001";
    boot.inBootloader = true;
    boot.bootloaderVersion = 10;
    sim.AddDevice(boot);
    if (!sim.Start()) {
        std::fprintf(stderr, "bench_lan: the simulator could not start; run it inside a network "
                             "namespace (scripts/netns-run.sh)\n");
        return 1;
    }

    // 1. list against 251 answering devices, against the fixed 2.0 s discovery window.
    double list = Best(3, [] { return TimeLancfg({"list"}); });
    Report("lancfg list, 251 devices", list, "discovery window", 2.0, 1.10);

    // 2. show against one device: must not wait out any reply window.
    double startup = Best(5, [] { return TimeLancfg({}); });
    double show = Best(5, [] { return TimeLancfg({"show", "BEN0000007"}); });
    Report("lancfg show", show, "0.1 s budget", 0.1, 1.0);
    std::printf("%-44s %8.3f s  (process start and usage text, for reference)\n",
                "lancfg without arguments", startup);

    // 3. 256 firmware blocks of 1024 bytes, against 256 plain exchanges in the same run.
    std::string path = "/tmp/bench_lan_firmware.hex";
    {
        std::ofstream f(path);
        for (int b = 0; b < 256; ++b) {
            f << "0400";
            for (int i = 0; i < 1024; ++i) {
                char hex[3];
                std::snprintf(hex, sizeof hex, "%02X", (b + i) & 0xFF);
                f << hex;
            }
        }
    }
    LanInterface device;
    if (!device.FindBySerial("BOOT000001")) {
        std::fprintf(stderr, "bench_lan: bootloader device not found\n");
        return 1;
    }
    struct Quiet : ProgressObserver {
        void OnProgress(int, const std::string&) override {}
    } quiet;
    double blocks = Best(3, [&] {
        auto start = Clock::now();
        LanResult r = device.UpdateFirmware(path, quiet);
        auto took = Seconds(Clock::now() - start);
        return r == ResultOk ? took : 1e9;
    });
    double exchanges = Best(3, [&] {
        auto start = Clock::now();
        for (int i = 0; i < 256; ++i)
            device.Transact('N', std::string());
        return Seconds(Clock::now() - start);
    });
    Report("firmware update, 256 blocks of 1024 bytes", blocks, "256 plain exchanges", exchanges,
           1.5);
    std::remove(path.c_str());
    sim.Stop();

    // 3b. list when one host answers the search for ten devices and then stays silent, against
    // the search window and one reply window: the reads of all devices wait at the same time.
    {
        lanifsim::Simulator silent;
        for (int i = 0; i < 10; ++i) {
            lanifsim::SimDevice d;
            d.serial = "GHOST0000" + std::to_string(i);
            d.answersOnlySearch = true;
            silent.AddDevice(d);
        }
        if (!silent.Start()) {
            std::fprintf(stderr, "bench_lan: %s\n", silent.LastError().c_str());
            return 1;
        }
        double ghosts = Best(2, [] { return TimeLancfg({"list"}); });
        Report("lancfg list, 10 devices silent after search", ghosts, "search + reply window", 4.0,
               1.05);
    }

    // 4. list over two networks of 20 devices each, each behind a link of its own, against the
    // same window: the datagram per network and the replies of both within one wait.
    lanifsim::SimNetwork networks[2] = {lanifsim::SimNetwork(1), lanifsim::SimNetwork(2)};
    for (int n = 0; n < 2; ++n) {
        std::vector<lanifsim::SimDevice> devices(20);
        for (int i = 0; i < 20; ++i) {
            char serial[16];
            std::snprintf(serial, sizeof serial, "NET%d%06d", n + 1, i);
            devices[i].serial = serial;
        }
        if (!networks[n].Start(devices)) {
            std::fprintf(stderr, "bench_lan: network %d: %s\n", n + 1,
                         networks[n].LastError().c_str());
            return 1;
        }
    }
    double twoNetworks = Best(3, [] { return TimeLancfg({"list"}); });
    Report("lancfg list, two networks of 20 devices", twoNetworks, "discovery window", 2.0, 1.02);
    for (auto& network : networks)
        network.Stop();

    // 5. list of 1,000 devices within 1 GB of address space, against the discovery window: the
    // reads of all devices wait together on one thread, not on a thread each.
    {
        lanifsim::Simulator site;
        for (int i = 0; i < 1000; ++i) {
            lanifsim::SimDevice d;
            char serial[16];
            std::snprintf(serial, sizeof serial, "SITE%06d", i);
            d.serial = serial;
            site.AddDevice(d);
        }
        if (!site.Start()) {
            std::fprintf(stderr, "bench_lan: %s\n", site.LastError().c_str());
            return 1;
        }
        MeasuredRun best;
        for (int i = 0; i < 3; ++i) {
            MeasuredRun run = MeasureLancfg({"list"}, rlim_t(1) << 30);
            if (best.seconds < 0 || (run.exitCode == 0 && run.seconds < best.seconds))
                best = run;
        }
        Report("lancfg list, 1000 devices, 1 GB address space", best.seconds, "discovery window",
               2.0, 1.05);
        std::printf("%-44s exit %d%s, peak RSS %ld KiB, at most %d threads\n", "", best.exitCode,
                    best.signal ? (" (signal " + std::to_string(best.signal) + ")").c_str() : "",
                    best.maxRssKb, best.maxThreads);
    }
    return 0;
}
