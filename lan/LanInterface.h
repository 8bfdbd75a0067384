#pragma once

#include "LanProtocol.h" // FormatIpAddress, ParseIpAddress
#include "ProgressObserver.h"

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

enum LanState : int32_t {
    StateUnknown = 1,
    StateDisconnected = 2,
    StateRun = 3,
    StateMaintenance = 4, // the bootloader runs
    StateBooting = 5,     // the device announced a restart
};

// The word for a state that users read: "Error", "Disconnected", "Run", "Maintenance", "Booting".
const char* StateWord(int32_t state);

enum LanResult : int {
    ResultFailed = 0,
    ResultOk = 1,
    ResultKeyError = 2, // crypt key missing or rejected
};

// Why a configuration write did not end well (WriteKept when it did).
enum WriteFailure : int {
    WriteKept = 0,
    WriteNoAnswer,       // no answer to C
    WriteRefused,        // C answered with 0 (refused) or 3 (key missing or rejected)
    WriteReadBackFailed, // taken, but the configuration could not be read back
    WriteNotKept,        // taken, but reading it back gives other values than were written
};

// What the programs know of one LAN interface, with the protocol operations on it. A plain
// copyable value; every operation blocks its caller until the exchange is over.
class LanInterface {
public:
    bool dhcp = false;
    bool crypt = false;
    std::string staticIp;
    std::string staticNetmask;
    std::string staticGateway;
    std::string staticAddress4;
    std::string staticAddress5;
    std::string currentIp;
    std::string currentNetmask;
    std::string currentGateway;
    std::string currentAddress4;
    std::string currentAddress5;
    std::string serialNumber; // 10 bytes from the identification reply, NUL padded
    std::string deviceType;   // 8 bytes from the last reply
    std::string version;      // "%u.%03u"
    std::string cryptKey;     // 16 bytes when set
    int32_t state = StateUnknown;
    int64_t stateTime = 0; // seconds since 1970
    int32_t blockCounter = 0;
    // Where the requests to this device go: empty for the group, else the address the user gave
    // (a device behind a router).
    std::string unicastAddress;
    // The network interface the device's last reply came by, so that later requests reach it by
    // that network only and it never sees a request twice; 0 sends to the group by every one.
    unsigned interfaceIndex = 0;
    // Where the device's identification reply came from (dotted), and the name of the network
    // interface it came by ("eth0"; empty when the routing table chose the way), so that users
    // can tell two devices of one serial number apart.
    std::string address;
    std::string network;

    LanInterface();

    // Discovery and identification. FindBySerial asks unicastAddress when it is set, else the
    // group on every network.
    bool FindBySerial(const std::string& serial);
    bool ParseIdentification(const std::string& reply);

    // Configuration exchange.
    std::string Transact(char command, const std::string& payload);
    bool ReadStatus();
    bool ReadConfig();
    // ReadStatus, then ReadConfig when that succeeded; ResultKeyError when the device answered
    // a read with a challenge (it wants its key for reads, none is set or it was refused).
    LanResult Read();
    // C, and for a write taken without a restart the read-back, which must give what was
    // written: ResultFailed when it does not (why, when given, says which failure it was).
    LanResult WriteConfig(WriteFailure* why = nullptr);
    bool Identify();
    void SetCryptKey(const std::string& keyText);

    // Firmware update.
    LanResult UpdateFirmware(const std::string& path, ProgressObserver& observer);
    // The same; when the file is refused before the device is touched, refusal receives why.
    LanResult UpdateFirmware(const std::string& path, ProgressObserver& observer,
                             std::string* refusal);
    // The same for a firmware text that LoadFirmwareFile has read and checked, so that many
    // devices get the bytes of one reading. When the update fails, failure (when given) receives
    // the step that failed, for the user ("no answer to U", "refused block 3").
    LanResult UpdateFirmwareDigits(const std::string& digits, ProgressObserver& observer,
                                   std::string* failure);
    LanResult EnterBootloader();
    bool SendFirmwareBlock(std::istream& file);
    // After an update: identifies the device again until it answers as its application, for at
    // most allowanceMs, and then holds the version it runs. False when it did not come back.
    bool WaitForApplication(unsigned allowanceMs);

    // The serial number as text: the bytes up to the first NUL.
    std::string SerialText() const;

private:
    void SetState(int32_t newState);
};

// The networks a search to the group could not be sent on, for example when the process ran out
// of descriptors with very many interfaces.
struct UnaskedNetworks {
    std::vector<std::string> names; // "eth0", in the order the system lists them
    std::string reason;             // the system's text for the first failure
};

// Searches for all devices whose type matches pattern and appends one record per accepted
// reply. False only when the request could not be sent (the list is then unchanged).
bool DiscoverLanInterfaces(const std::string& pattern, std::vector<LanInterface>& list);
// The same search sent to one address instead of the group (empty: the group); the records keep
// the address for their later requests. unasked, when given, is set to the networks the request
// could not be sent on.
bool DiscoverLanInterfaces(const std::string& pattern, std::vector<LanInterface>& list,
                           const std::string& address, UnaskedNetworks* unasked = nullptr);

