#pragma once

// A simulator of LAN interfaces: one process answers as one or many devices on UDP port 23272.
// It builds and reads frames with its own code, independent of the client module, so that tests
// hold two readings of the protocol against each other. Run it only inside a private network
// namespace (the tests and scripts of this project make one).

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lanifsim {

// Where the devices listen.
inline constexpr const char* kMulticastGroup = "224.0.0.1";
inline constexpr uint16_t kPort = 23272;

using Address = std::array<uint8_t, 4>;

// One simulated device: its identity, its network settings and how it misbehaves.
struct SimDevice {
    // Identity.
    std::string type = "vK7LanIf";   // device type while the application runs (8 bytes max)
    std::string serial;              // serial number (10 bytes max)
    uint16_t version = 1234;         // application version in thousandths
    uint16_t bootloaderVersion = 10; // bootloader version in thousandths
    bool inBootloader = false;       // starts in its bootloader (type "vK7LanBl")

    // Addresses in effect (answer to N), in the order address, gateway, netmask, 4th, 5th.
    Address currentIp{192, 168, 1, 50};
    Address currentGateway{192, 168, 1, 1};
    Address currentNetmask{255, 255, 255, 0};
    Address currentAddress4{0, 0, 0, 0};
    Address currentAddress5{0, 0, 0, 0};
    // Stored configuration (answer to c, replaced by C).
    Address staticIp{192, 168, 1, 50};
    Address staticGateway{192, 168, 1, 1};
    Address staticNetmask{255, 255, 255, 0};
    Address staticAddress4{0, 0, 0, 0};
    Address staticAddress5{0, 0, 0, 0};
    bool dhcp = false;
    bool crypt = false;

    // Encryption: with a 16-byte key, the commands C and B (and N and c when challengeReads)
    // are answered with a challenge (code 3 and a fresh 16-byte IV); the same request inside an
    // envelope encrypted with the key and that IV is then carried out. An envelope that does not
    // decrypt to the tag gets a new challenge, and so does a second envelope for the same IV.
    std::string key;             // raw 16 bytes, empty: no key demanded
    bool challengeReads = false; // N and c need the envelope too

    // Reply codes.
    uint8_t writeConfigCode = 1; // answer to C: 0 refused, 1 taken, 2 taken and restart, 3 key
    bool keepsOldConfig = false; // answers C as writeConfigCode says, but stores nothing
    uint8_t bootloaderCode = 2;  // answer to B while the application runs
    uint8_t bootloaderCodeInBootloader = 1; // answer to B while the bootloader runs
    int restartAfterBlock = -1; // the block with this index (0-based) is answered with 2 and the
                                // device restarts into the application (-1: never)
    int refuseBlock = -1;       // the block with this index is answered with code 0 (-1: none)
    // After the restart that restartAfterBlock announces: the application comes back with this
    // version (0: the version it had), or, with silentAfterUpdate, never answers again.
    uint16_t versionAfterUpdate = 0;
    bool silentAfterUpdate = false;
    bool bootloaderAfterUpdate = false; // comes back in its bootloader: the firmware did not take

    // Restarts: after code 2 the device stays silent for restartSilenceMs, then answers again.
    int restartSilenceMs = 1000;
    bool restartIntoApplication = false; // B with code 2 restarts into the application

    // Misbehaviour.
    bool silent = false;          // answers nothing at all
    std::string dropFirstReplyTo; // command letters whose first request gets no reply (it is
                                  // lost: not carried out either)
    int identPayloadLength = 8;   // length of the identification payload (>= 6 normally)
    int extraReplyBytes = 0;      // zero bytes appended to every reply payload except I
    bool answersOnlySearch = false; // answers identification requests only, then stays silent
    bool impostor = false; // takes every request as its own, whatever serial it names, and
                           // answers it with its own serial (a foreign host on the segment)
};

// One request as the simulator saw it.
struct RecordedRequest {
    std::string bytes;       // the datagram, whole
    std::string typeField;   // bytes 0..7
    std::string serialField; // bytes 8..17
    char command = 0;        // byte 18
    std::string payload;     // bytes 19..
    // For an envelope ('*') that decrypted with the tag: the wrapped command and payload
    // (payload with the trailing zero bytes of the padding still on), and the plaintext.
    bool decrypted = false;
    char innerCommand = 0;
    std::string innerPayload;
    std::string plaintext;
    std::vector<std::string> answeredBy; // serials of the devices that answered
};

class Simulator {
public:
    Simulator();
    ~Simulator(); // stops
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    void AddDevice(const SimDevice& device);
    // Reads devices from a property file: one section per device, keys as in SimDevice
    // (addresses dotted, key as 32 hexadecimal digits). False on a file it cannot read.
    // A section with "count = N" makes N devices whose serials are the serial value followed by
    // a zero-padded running number from 1, together 10 characters. Nothing is added when any
    // section is wrong (unknown key, bad value); the second form tells what was wrong.
    bool LoadConfig(const std::string& path);
    bool LoadConfig(const std::string& path, std::string* error);
    size_t DeviceCount() const;

    // Binds 0.0.0.0:23272 (SO_REUSEADDR), joins 224.0.0.1 on the loopback interface and answers
    // on a thread of its own until Stop. The devices answer as soon as Start returns true.
    // Refuses (false, see LastError) unless InIsolatedNetwork.
    bool Start();
    void Stop(); // idempotent; the destructor stops too
    bool Running() const;
    std::string LastError() const;

    // Called on the serving thread after each datagram was handled and answered, with its
    // record; set it before Start. Keep it short: the next datagram waits for it. It may use the
    // accessors below, but must not call Stop.
    void SetRequestObserver(std::function<void(const RecordedRequest&)> observer);

    // True when the process sees no network interface but loopback, as in the private network
    // namespaces that scripts/netns-run.sh makes: nothing sent from there leaves the machine.
    static bool InIsolatedNetwork();

    // Thread-safe views and changes.
    std::vector<RecordedRequest> Requests() const;
    void ClearRequests();
    bool GetDevice(const std::string& serial, SimDevice* out) const;
    // Runs change on the device under the simulator's lock; false when no such device.
    bool ModifyDevice(const std::string& serial, const std::function<void(SimDevice&)>& change);
    // The firmware blocks a device took (data bytes of each W, in order), since its last U.
    std::vector<std::string> ReceivedBlocks(const std::string& serial) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace lanifsim
