#pragma once

// A network of simulated devices apart from the caller's: a fresh network namespace with a
// simulator in it, linked to the caller's namespace by a virtual Ethernet link, or by two links
// bridged on the far side (a PC with two ports on one segment). For tests and benchmarks that
// already run in a private network namespace: it refuses to link a namespace that holds any
// interface but loopback and the links made here, and it needs CAP_NET_ADMIN and iproute2.
//
// Network n (1 to 254) is 10.77.n.0/24: the far side has 10.77.n.2, the caller's end of the
// first link 10.77.n.1 (named "vklan<n>") and of the second 10.77.n.3 ("vklan<n>b").

#include "LanIfSimulator.h"

#include <set>
#include <string>
#include <vector>

namespace lanifsim {

class SimNetwork {
public:
    explicit SimNetwork(int number);
    ~SimNetwork(); // stops and removes the links and the namespace
    SimNetwork(const SimNetwork&) = delete;
    SimNetwork& operator=(const SimNetwork&) = delete;

    // Makes the namespace, starts a simulator with the devices there and links it. links is 1
    // or 2. False, with LastError, when any step failed (nothing is left behind then).
    bool Start(const std::vector<SimDevice>& devices, int links = 1);
    void Stop();
    std::string LastError() const { return error_; }

    Simulator& Sim() { return sim_; }
    std::string DeviceAddress() const; // the far side's address
    std::string LinkName(int link = 0) const;
    std::string LocalAddress(int link = 0) const;

private:
    bool Fail(const std::string& error);

    int number_;
    int links_ = 0;
    int namespaceFd_ = -1;
    Simulator sim_;
    std::string error_;
};

namespace detail {
// True when every network interface of the calling thread's namespace is a loopback one or
// carries one of the given names.
bool OnlyLoopbackBesides(const std::set<std::string>& names);
} // namespace detail

} // namespace lanifsim
