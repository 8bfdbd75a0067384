#pragma once

// The device side of the protocol for one simulated device: which requests it takes, what it
// answers and how its state moves. Works on byte strings only; the socket lives elsewhere.

#include "LanIfSimulator.h"

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace lanifsim::detail {

using Clock = std::chrono::steady_clock;

inline constexpr size_t kTypeLength = 8;
inline constexpr size_t kSerialLength = 10;
inline constexpr size_t kRequestHeaderLength = kTypeLength + kSerialLength + 1;
inline constexpr const char* kBootloaderType = "vK7LanBl";
inline constexpr size_t kMaxBlockLength = 1024;
// Bootloaders from this version (thousandths) on expect a block counter in front of each block.
inline constexpr uint16_t kFirstCountingBootloader = 10;

// value cut or padded with NUL bytes to length.
std::string PadField(const std::string& value, size_t length);
// Compares a request's address field with a device's padded value; '*' in the request matches
// everything from its position to the end of the field.
bool FieldMatches(std::string_view requestField, std::string_view deviceField);
// Splits a datagram into the fields of a record; false when it is too short to be a request.
bool DecodeRequest(const std::string& datagram, RecordedRequest* out);

class DeviceModel {
public:
    explicit DeviceModel(const SimDevice& device);

    // Completes a restart whose silence is over.
    void Settle(Clock::time_point now);

    const SimDevice& Device() const { return device_; }
    SimDevice& MutableDevice() { return device_; }
    const std::vector<std::string>& Blocks() const { return blocks_; }
    std::string CurrentType() const;

    // Whether a request with these address fields is meant for this device.
    bool Addressed(std::string_view typeField, std::string_view serialField) const;

    // Carries out a request addressed to this device. Returns the whole reply datagram, or
    // nothing when the device does not answer. Fills the decryption fields of record when an
    // envelope decrypts.
    std::optional<std::string> Handle(const RecordedRequest& request, Clock::time_point now,
                                      RecordedRequest* record);

private:
    std::optional<std::string> CarryOut(char command, const std::string& payload,
                                        bool authenticated, bool padded, Clock::time_point now);
    std::optional<std::string> OpenEnvelope(const std::string& payload, Clock::time_point now,
                                            RecordedRequest* record);
    std::string WriteBlock(const std::string& payload, bool padded, Clock::time_point now);
    std::string Challenge(char command);
    std::string Reply(char command, std::string payload) const;
    bool HasKey() const { return device_.key.size() == 16; }
    void Restart(Clock::time_point now, bool intoBootloader);

    SimDevice device_;
    bool restarting_ = false;
    bool restartIntoBootloader_ = false;
    bool restartEndsUpdate_ = false; // the restart was announced by a firmware block
    Clock::time_point restartDone_{};
    std::string lastIv_;         // IV of the last challenge, empty once used or after a restart
    std::set<char> droppedOnce_; // command letters whose first request was already dropped
    std::vector<std::string> blocks_;
    int blockIndex_ = 0; // index of the next block, counted from U or bootloader start
};

} // namespace lanifsim::detail
