// What remembering the devices costs a search: lancfg list of 1,000 simulated devices with the
// inventory against the same list with --no-inventory, measured in the same run, alternately.
// Run it inside a private network namespace:
//   scripts/netns-run.sh build/default/bin/bench_inventory
#include "TimeLancfg.h"
#include "LanIfSimulator.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int Devices = 1000;
constexpr int Runs = 40;

double Median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main() {
    lanifsim::Simulator sim;
    for (int i = 0; i < Devices; ++i) {
        lanifsim::SimDevice d;
        char serial[16];
        std::snprintf(serial, sizeof serial, "INV%07d", i);
        d.serial = serial;
        sim.AddDevice(d);
    }
    if (!sim.Start()) {
        std::fprintf(stderr, "bench_inventory: the simulator could not start; run it inside a "
                             "network namespace (scripts/netns-run.sh)\n");
        return 1;
    }
    char folder[] = "/tmp/benchinventoryXXXXXX";
    if (!mkdtemp(folder))
        return 1;
    // The programs started below keep their inventory here, not in the user's home.
    setenv("XDG_STATE_HOME", folder, 1);
    unsetenv("LANCFG_NO_INVENTORY");

    int code = 0;
    TimeLancfg({"list"}, &code); // the inventory holds the 1,000 devices from here on
    // Alternately, so that a busy moment of the machine weighs on both; the medians compare.
    std::vector<double> with, without;
    for (int run = 0; run < Runs && code == 0; ++run) {
        with.push_back(TimeLancfg({"list"}, &code));
        if (code == 0)
            without.push_back(TimeLancfg({"list", "--no-inventory"}, &code));
    }
    std::system(("rm -rf '" + std::string(folder) + "'").c_str());
    if (code != 0) {
        std::fprintf(stderr, "bench_inventory: lancfg list failed with %d\n", code);
        return 1;
    }
    const double a = Median(with), b = Median(without);
    std::printf("%-44s %8.3f s  baseline %-32s %8.3f s  ratio %5.3f  (target <= 1.02; medians "
                "of %d runs)\n",
                "lancfg list, 1000 devices, inventory", a, "the same with --no-inventory", b,
                a / b, Runs);
    return 0;
}
