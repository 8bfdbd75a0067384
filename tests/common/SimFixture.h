#pragma once

// Shared scenario pieces of the tests that talk to simulated LAN interfaces. Every test program
// that includes this runs each test in a private network namespace of its own.

#include "LanIfSimulator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace simtest {

inline const std::string kPlainSerial = "KPL0000001";
inline const std::string kCryptSerial = "KPL0000002";
inline const std::string kBootSerial = "KPL0000003";
inline const std::string kLoopbackSerial = "KPL0000004";
inline const std::string kKeyText = "000102030405060708090A0B0C0D0E0F";
inline const std::string
    kKeyBytes("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F", 16);
inline const std::string kWrongKeyText = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF";

// A running device with a static configuration.
inline lanifsim::SimDevice PlainDevice(const std::string& serial = kPlainSerial) {
    lanifsim::SimDevice d;
    d.serial = serial;
    d.version = 1234;
    d.currentIp = {192, 168, 1, 50};
    d.currentGateway = {192, 168, 1, 1};
    d.currentNetmask = {255, 255, 255, 0};
    d.staticIp = {192, 168, 1, 50};
    d.staticGateway = {192, 168, 1, 1};
    d.staticNetmask = {255, 255, 255, 0};
    d.staticAddress4 = {10, 0, 0, 4};
    d.staticAddress5 = {10, 0, 0, 5};
    d.restartSilenceMs = 300;
    return d;
}

// A device that wants its key for writes and restarts to apply a configuration.
inline lanifsim::SimDevice CryptDevice() {
    lanifsim::SimDevice d = PlainDevice(kCryptSerial);
    d.key = kKeyBytes;
    d.crypt = true;
    d.writeConfigCode = 2;
    return d;
}

inline lanifsim::SimDevice BootloaderDevice() {
    lanifsim::SimDevice d = PlainDevice(kBootSerial);
    d.inBootloader = true;
    d.bootloaderVersion = 10;
    return d;
}

inline lanifsim::SimDevice LoopbackDevice() {
    lanifsim::SimDevice d = PlainDevice(kLoopbackSerial);
    d.currentIp = {127, 0, 0, 1};
    d.currentAddress4 = {1, 2, 3, 4};
    d.currentAddress5 = {5, 6, 7, 8};
    return d;
}

// Starts a simulator with the given devices for one test.
class SimTest : public ::testing::Test {
protected:
    void StartWith(const std::vector<lanifsim::SimDevice>& devices) {
        for (const auto& d : devices)
            sim.AddDevice(d);
        ASSERT_TRUE(sim.Start()) << "the simulator must run inside a network namespace";
    }
    void TearDown() override { sim.Stop(); }

    // The command letters of the requests the simulator saw, in order.
    std::string Commands() const {
        std::string letters;
        for (const auto& r : sim.Requests())
            letters += r.command;
        return letters;
    }

    lanifsim::Simulator sim;
};

} // namespace simtest
