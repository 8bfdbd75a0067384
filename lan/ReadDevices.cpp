#include "ReadDevices.h"

#include "LanProtocol.h"
#include "ParallelRunner.h"

#include <sys/resource.h>

#include <algorithm>

namespace {

// Each read holds one socket while it waits. Leave room below the process's descriptor limit
// for what else is open, so that no read fails for want of a descriptor.
unsigned ReadsAtOnce(size_t wanted) {
    constexpr rlim_t Reserve = 64;
    constexpr rlim_t Most = lanproto::DiscoverMaxReplies; // as many as one search can list
    rlim_t room = Most;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        room = limit.rlim_cur > 2 * Reserve ? limit.rlim_cur - Reserve : limit.rlim_cur / 2;
    room = std::clamp<rlim_t>(room, 1, Most);
    return static_cast<unsigned>(std::min<rlim_t>(room, std::max<size_t>(wanted, 1)));
}

} // namespace

void ReadDevices(std::vector<LanInterface>& devices) {
    std::vector<LanInterface*> running;
    for (LanInterface& device : devices)
        if (device.state == StateRun)
            running.push_back(&device);
    RunParallel(running.size(), ReadsAtOnce(running.size()), [&running](size_t i) {
        LanInterface& device = *running[i];
        if (!device.ReadStatus() && device.state == StateDisconnected)
            return; // silent: a second request would only wait out another window
        device.ReadConfig();
    });
}
