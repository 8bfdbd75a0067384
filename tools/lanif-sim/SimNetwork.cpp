#include "SimNetwork.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

extern char** environ;

namespace lanifsim {

namespace {

// The caller-side links this process made, which the isolation check accepts.
std::mutex linksMutex;
std::set<std::string> ownLinks;

// Runs a program to its end; true when it exited with 0.
bool Run(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs work on a thread of its own inside the namespace: a thread's network namespace is its
// own, and sockets and child processes made there belong to it.
bool InNamespace(int namespaceFd, const std::function<bool()>& work) {
    bool ok = false;
    std::thread worker([&] { ok = ::setns(namespaceFd, CLONE_NEWNET) == 0 && work(); });
    worker.join();
    return ok;
}

int NewNamespace() {
    int fd = -1;
    std::thread maker([&] {
        if (::unshare(CLONE_NEWNET) == 0)
            fd = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    });
    maker.join();
    return fd;
}

} // namespace

namespace detail {

bool OnlyLoopbackBesides(const std::set<std::string>& names) {
    struct if_nameindex* interfaces = ::if_nameindex();
    if (!interfaces)
        return false;
    int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bool only = probe >= 0 && interfaces[0].if_index != 0;
    for (struct if_nameindex* i = interfaces; only && i->if_index != 0; ++i) {
        if (names.count(i->if_name))
            continue;
        ifreq request{};
        std::strncpy(request.ifr_name, i->if_name, IFNAMSIZ - 1);
        only = ::ioctl(probe, SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_LOOPBACK);
    }
    if (probe >= 0)
        ::close(probe);
    ::if_freenameindex(interfaces);
    return only;
}

} // namespace detail

SimNetwork::SimNetwork(int number) : number_(number) {}

SimNetwork::~SimNetwork() {
    Stop();
}

std::string SimNetwork::DeviceAddress() const {
    return "10.77." + std::to_string(number_) + ".2";
}

std::string SimNetwork::LinkName(int link) const {
    return "vklan" + std::to_string(number_) + (link == 0 ? "" : "b");
}

std::string SimNetwork::LocalAddress(int link) const {
    return "10.77." + std::to_string(number_) + "." + std::to_string(1 + 2 * link);
}

bool SimNetwork::Fail(const std::string& error) {
    Stop();
    error_ = error;
    return false;
}

bool SimNetwork::Start(const std::vector<SimDevice>& devices, int links) {
    if (namespaceFd_ >= 0)
        return Fail("already started");
    if (number_ < 1 || number_ > 254 || links < 1 || links > 2)
        return Fail("network 1 to 254 with 1 or 2 links");
    {
        std::lock_guard lock(linksMutex);
        if (!detail::OnlyLoopbackBesides(ownLinks))
            return Fail("the caller's namespace has interfaces of its own: run in a private "
                        "network namespace (scripts/netns-run.sh)");
    }
    namespaceFd_ = NewNamespace();
    if (namespaceFd_ < 0)
        return Fail(std::string("new network namespace: ") + std::strerror(errno));
    for (const auto& d : devices)
        sim_.AddDevice(d);
    // The simulator starts while the namespace holds nothing but its loopback interface, which
    // its own isolation check wants; the link added after leads to the caller's namespace only.
    if (!InNamespace(namespaceFd_, [this] {
            return Run({"ip", "link", "set", "lo", "up", "multicast", "on"}) && sim_.Start();
        }))
        return Fail("simulator in the new namespace: " + sim_.LastError());

    const std::string far =
        "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(namespaceFd_);
    const std::string prefix = "10.77." + std::to_string(number_) + ".";
    for (int k = 0; k < links; ++k) {
        const std::string farName = "lan" + std::to_string(k);
        if (!Run({"ip", "link", "add", LinkName(k), "type", "veth", "peer", "name", farName,
                  "netns", far}))
            return Fail("ip link add " + LinkName(k));
        links_ = k + 1;
        std::lock_guard lock(linksMutex);
        ownLinks.insert(LinkName(k));
    }
    const bool farReady = InNamespace(namespaceFd_, [&] {
        std::string port = "lan0";
        if (links == 2) {
            port = "br0";
            if (!Run({"ip", "link", "add", "br0", "type", "bridge"}) ||
                !Run({"ip", "link", "set", "lan0", "master", "br0"}) ||
                !Run({"ip", "link", "set", "lan1", "master", "br0"}) ||
                !Run({"ip", "link", "set", "lan1", "up"}))
                return false;
        }
        return Run({"ip", "addr", "add", prefix + "2/24", "dev", port}) &&
               Run({"ip", "link", "set", "lan0", "up"}) && Run({"ip", "link", "set", port, "up"});
    });
    if (!farReady)
        return Fail("configuring the far side");
    for (int k = 0; k < links; ++k) {
        if (!Run({"ip", "addr", "add", LocalAddress(k) + "/24", "dev", LinkName(k)}) ||
            !Run({"ip", "link", "set", LinkName(k), "up"}))
            return Fail("configuring " + LinkName(k));
    }
    return true;
}

void SimNetwork::Stop() {
    sim_.Stop();
    for (int k = 0; k < links_; ++k) {
        Run({"ip", "link", "del", LinkName(k)}); // takes the far end with it
        std::lock_guard lock(linksMutex);
        ownLinks.erase(LinkName(k));
    }
    links_ = 0;
    if (namespaceFd_ >= 0)
        ::close(namespaceFd_);
    namespaceFd_ = -1;
}

} // namespace lanifsim
