#include "LanInterface.h"

#include "FirmwareFile.h"
#include "LanProtocol.h"
#include "MulticastSender.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <streambuf>
#include <thread>
#include <utility>

using namespace lanproto;

namespace {

int64_t Now() {
    return static_cast<int64_t>(std::time(nullptr));
}

uint8_t Byte(const std::string& s, size_t i) {
    return static_cast<uint8_t>(s[i]);
}

// Fills five address texts from the 20 bytes at the start of a payload.
void ReadAddresses(const std::string& p, std::string* const (&fields)[5]) {
    for (size_t i = 0; i < 5; ++i)
        *fields[i] = FormatIpAddress(p.substr(4 * i, 4));
}

// The stream's position as a byte count, for the progress share.
long long Position(std::istream& in) {
    auto pos = in.tellg();
    return pos < 0 ? 0 : static_cast<long long>(pos);
}

// Reads a text in place as a stream, without a copy; tellg tells the position.
class TextReader : public std::streambuf {
public:
    explicit TextReader(const std::string& text) {
        char* begin = const_cast<char*>(text.data()); // only ever read
        setg(begin, begin, begin + text.size());
    }

protected:
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
        if (off != 0 || dir != std::ios_base::cur)
            return pos_type(off_type(-1));
        return pos_type(gptr() - eback());
    }
};

} // namespace

LanInterface::LanInterface() : stateTime(Now()) {}

void LanInterface::SetState(int32_t newState) {
    state = newState;
    stateTime = Now();
}

std::string LanInterface::SerialText() const {
    return serialNumber.substr(0, serialNumber.find('\0'));
}

bool SendMulticast(const std::string& request, std::vector<std::string>& replies, unsigned waitMs,
                   unsigned maxReplies) {
    MulticastSender sender(MulticastGroup, Port, true);
    return sender.SendUDPMessage(request, &replies, waitMs, maxReplies);
}

namespace {

// One exchange to address (the group when empty), by one interface when interfaceIndex is not 0.
// With a serial, only replies that name it count: any host on the segment can answer, and a
// reply naming another device (or a challenge with an IV of its choosing) is not this device's.
bool Exchange(const std::string& request, const std::string& address, unsigned interfaceIndex,
              unsigned waitMs, unsigned maxReplies, std::vector<MulticastSender::Reply>& replies,
              const std::string* serial = nullptr, UnaskedNetworks* unasked = nullptr) {
    MulticastSender sender(address.empty() ? MulticastGroup : address.c_str(), Port, true);
    sender.SetInterface(interfaceIndex);
    if (serial)
        sender.SetAcceptor([serial](const std::string& reply) { return NamesSerial(reply, *serial); });
    const bool sent = sender.Exchange(request, &replies, waitMs, maxReplies);
    if (unasked) {
        *unasked = UnaskedNetworks();
        for (const MulticastSender::Interface& network : sender.Unasked())
            unasked->names.push_back(network.name);
        if (!unasked->names.empty())
            unasked->reason = std::strerror(sender.UnaskedError());
    }
    return sent;
}

} // namespace

std::string FormatIpAddress(const std::string& bytes) {
    if (bytes.size() != 4)
        return std::string();
    return std::to_string(Byte(bytes, 0)) + '.' + std::to_string(Byte(bytes, 1)) + '.' +
           std::to_string(Byte(bytes, 2)) + '.' + std::to_string(Byte(bytes, 3));
}

std::string ParseIpAddress(const std::string& text) {
    unsigned parts[4] = {0, 0, 0, 0};
    std::sscanf(text.c_str(), "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]);
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>(parts[i] & 0xFF);
    return bytes;
}

bool DiscoverLanInterfaces(const std::string& pattern, std::vector<LanInterface>& list) {
    return DiscoverLanInterfaces(pattern, list, std::string());
}

bool DiscoverLanInterfaces(const std::string& pattern, std::vector<LanInterface>& list,
                           const std::string& address, UnaskedNetworks* unasked) {
    std::vector<MulticastSender::Reply> replies;
    if (!Exchange(BuildDiscoverRequest(pattern), address, 0, DiscoverWaitMs, DiscoverMaxReplies,
                  replies, nullptr, unasked))
        return false;
    std::vector<const std::string*> accepted;
    for (const auto& reply : replies) {
        // One device heard on several networks (or from several addresses) answers with the same
        // type, serial and payload each time: it is listed once, by the network heard first.
        auto same = [&](const std::string* earlier) { return *earlier == reply.bytes; };
        if (std::any_of(accepted.begin(), accepted.end(), same))
            continue;
        LanInterface device;
        device.unicastAddress = address;
        device.interfaceIndex = reply.interfaceIndex;
        device.address = reply.from;
        device.network = reply.network;
        if (device.ParseIdentification(reply.bytes)) {
            list.push_back(device);
            accepted.push_back(&reply.bytes);
        }
    }
    return true;
}

bool LanInterface::FindBySerial(const std::string& serial) {
    std::vector<MulticastSender::Reply> replies;
    if (!Exchange(BuildFindRequest(serial), unicastAddress, 0, FindWaitMs, 1, replies, &serial) ||
        replies.empty())
        return false;
    if (!ParseIdentification(replies.front().bytes))
        return false;
    interfaceIndex = replies.front().interfaceIndex;
    address = replies.front().from;
    network = replies.front().network;
    return true;
}

bool LanInterface::ParseIdentification(const std::string& reply) {
    // The version sits at payload offsets 4 and 5: a shorter reply cannot be used.
    if (reply.size() < ReplyHeaderSize + 6)
        return false;
    if (reply[18] != '>' || reply[19] != 'I')
        return false;
    serialNumber = reply.substr(8, SerialFieldSize);
    deviceType = reply.substr(0, TypeFieldSize);
    version = FormatVersion(Byte(reply, 24) * 256u + Byte(reply, 25));
    SetState(deviceType == BootloaderType ? StateMaintenance : StateRun);
    return true;
}

std::string LanInterface::Transact(char command, const std::string& payload) {
    return Transact(command, payload, command, nullptr);
}

std::string LanInterface::Transact(char command, const std::string& payload, bool* challenge) {
    return Transact(command, payload, command, challenge);
}

std::string LanInterface::Transact(char command, const std::string& payload, char answering,
                                   bool* challenge) {
    if (challenge)
        *challenge = false;
    // A serial number holding the wildcard (a reply may carry one) would address every device.
    if (serialNumber.find(Wildcard) != std::string::npos)
        return std::string();
    std::vector<MulticastSender::Reply> replies;
    bool sent = Exchange(BuildDeviceRequest(serialNumber, command, payload), unicastAddress,
                         interfaceIndex, TransactWaitMs, 1, replies, &serialNumber);
    if (!sent || replies.empty()) {
        // A restarting device is silent for a while; only after the grace period is it lost.
        if (state == StateBooting && Now() < stateTime + BootGraceSeconds)
            return std::string();
        SetState(StateDisconnected);
        return std::string();
    }
    const std::string& reply = replies.front().bytes;
    if (replies.front().interfaceIndex != 0)
        interfaceIndex = replies.front().interfaceIndex;
    SetState(deviceType == BootloaderType ? StateMaintenance : StateRun);
    if (reply.size() < ReplyHeaderSize)
        return std::string();
    // The reply to an envelope is the plain answer to the command inside it.
    const bool isChallenge = IsChallengeFor(answering, reply);
    if (isChallenge && cryptKey.size() >= KeySize) {
        if (command == CmdEnvelope)
            return std::string(); // an envelope is never wrapped again
        std::string envelope = EncryptEnvelope(BuildEnvelopePlaintext(command, payload), cryptKey,
                                               reply.substr(21, 16));
        std::string answer = Transact(CmdEnvelope, envelope, command, nullptr);
        if (!answer.empty())
            return answer;
    }
    if (challenge)
        *challenge = isChallenge;
    deviceType = reply.substr(0, TypeFieldSize);
    return reply.substr(ReplyHeaderSize);
}

bool LanInterface::ReadStatus() {
    bool challenge = false;
    std::string p = Transact(CmdReadStatus, std::string(), &challenge);
    if (challenge || p.size() < 20)
        return false;
    ReadAddresses(
        p, {&currentIp, &currentGateway, &currentNetmask, &currentAddress4, &currentAddress5});
    if (currentIp.rfind("127.", 0) == 0 || currentIp == "0.0.0.0") {
        currentIp = "n/a";
        currentNetmask = "n/a";
        currentGateway = "n/a";
    }
    return true;
}

bool LanInterface::ReadConfig() {
    bool challenge = false;
    std::string p = Transact(CmdReadConfig, std::string(), &challenge);
    if (challenge || p.size() < 21)
        return false;
    ReadAddresses(p, {&staticIp, &staticGateway, &staticNetmask, &staticAddress4, &staticAddress5});
    dhcp = p[20] != 0;
    crypt = p.size() > 21 && p[21] != 0;
    return true;
}

LanResult LanInterface::WriteConfig() {
    std::string payload = ParseIpAddress(staticIp) + ParseIpAddress(staticGateway) +
                          ParseIpAddress(staticNetmask) + ParseIpAddress(staticAddress4) +
                          ParseIpAddress(staticAddress5);
    payload += static_cast<char>(dhcp ? 1 : 0);
    payload += static_cast<char>(crypt ? 1 : 0);
    std::string p = Transact(CmdWriteConfig, payload);
    if (p.empty())
        return ResultFailed;
    switch (Byte(p, 0)) {
    case 0:
        ReadConfig(); // the record shows what the device kept
        return ResultFailed;
    case 1:
        return ReadConfig() ? ResultOk : ResultFailed;
    default:
        return ResultOfCode(Byte(p, 0));
    }
}

LanResult LanInterface::ResultOfCode(uint8_t code) {
    if (code == 2) {
        SetState(StateBooting);
        return ResultOk;
    }
    return code == CodeKeyError ? ResultKeyError : ResultOk;
}

bool LanInterface::Identify() {
    std::string p = Transact(CmdIdentify, std::string());
    if (p.size() < 6)
        return false;
    version = FormatVersion(Byte(p, 4) * 256u + Byte(p, 5));
    SetState(deviceType == BootloaderType ? StateMaintenance : StateRun);
    return ReadStatus();
}

void LanInterface::SetCryptKey(const std::string& keyText) {
    cryptKey = ParseKeyText(keyText);
}

LanResult LanInterface::EnterBootloader() {
    std::string p = Transact(CmdBootloader, std::string());
    if (p.empty() || Byte(p, 0) == 0)
        return ResultFailed;
    return ResultOfCode(Byte(p, 0));
}

LanResult LanInterface::UpdateFirmware(const std::string& path, ProgressObserver& observer) {
    return UpdateFirmware(path, observer, nullptr);
}

LanResult LanInterface::UpdateFirmware(const std::string& path, ProgressObserver& observer,
                                       std::string* refusal) {
    // A file that is known bad before the update began never puts the device into its bootloader.
    std::string digits;
    if (!LoadFirmwareFile(path, &digits, refusal))
        return ResultFailed;
    return UpdateFirmwareDigits(digits, observer, nullptr);
}

LanResult LanInterface::UpdateFirmwareDigits(const std::string& digits, ProgressObserver& observer,
                                             std::string* failure) {
    auto fail = [failure](std::string why) {
        if (failure)
            *failure = std::move(why);
        return ResultFailed;
    };
    LanResult r = EnterBootloader();
    if (r == ResultFailed)
        return fail(state == StateDisconnected ? "no answer to B"
                                               : "refused to enter its bootloader");
    if (r != ResultOk)
        return r;
    while (state == StateBooting) {
        for (int i = 0; i < 50; ++i) {
            observer.OnProgress(0, "Waiting for device to enter bootloader");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        Identify();
    }
    if (state != StateMaintenance)
        return fail(state == StateRun ? "answered as its application, not its bootloader"
                                      : "did not come back as its bootloader");
    if (Transact(CmdStartUpdate, std::string()).empty())
        return fail("no answer to U");
    blockCounter = 0;

    const long long size = static_cast<long long>(digits.size());
    TextReader reader(digits); // read in place: many devices may read one text at once
    std::istream in(&reader);
    while (in.good()) {
        observer.OnProgress(static_cast<int>(Position(in) * 100 / size), "Performing update");
        const int32_t sentBefore = blockCounter;
        if (!SendFirmwareBlock(in)) {
            // The counter rises only for an answered block: unchanged, the block got no answer.
            const bool answered = blockCounter != sentBefore;
            return fail((answered ? "refused block " : "no answer to block ") +
                        std::to_string(sentBefore + 1));
        }
    }
    return ResultOk;
}

bool LanInterface::WaitForApplication(unsigned allowanceMs) {
    using Steady = std::chrono::steady_clock;
    const auto deadline = Steady::now() + std::chrono::milliseconds(allowanceMs);
    for (;;) {
        bool challenge = false;
        std::string p = Transact(CmdIdentify, std::string(), &challenge);
        if (!challenge && p.size() >= 6 && deviceType != BootloaderType) {
            version = FormatVersion(Byte(p, 4) * 256u + Byte(p, 5));
            SetState(StateRun);
            return true;
        }
        const auto now = Steady::now();
        if (now >= deadline)
            return false;
        // An answer from the bootloader comes at once: ask again after a pause, not in a burst.
        // Without an answer the exchange has already waited out its window.
        const auto pause = std::chrono::milliseconds(p.empty() ? 100 : 500);
        std::this_thread::sleep_for(std::min<Steady::duration>(pause, deadline - now));
    }
}

bool LanInterface::SendFirmwareBlock(std::istream& file) {
    std::string block;
    if (VersionThousandths(version) >= 10) {
        block += static_cast<char>((blockCounter >> 8) & 0xFF);
        block += static_cast<char>(blockCounter & 0xFF);
    }
    // Reads two characters as one byte; 0 after a read error.
    auto readByte = [&file]() -> uint8_t {
        char pair[2] = {0, 0};
        file.read(pair, 2);
        if (file.bad())
            return 0;
        return HexPairValue(pair, static_cast<size_t>(file.gcount()));
    };

    uint8_t high = readByte();
    uint8_t low = readByte();
    if (file.eof())
        return true;
    unsigned length = high * 256u + low;
    if (length > MaxRecordLength)
        return false;
    block += static_cast<char>(high);
    block += static_cast<char>(low);
    for (unsigned i = 0; i < length && !file.eof() && !file.bad(); ++i) {
        uint8_t value = readByte();
        if (file.eof())
            break;
        block += static_cast<char>(value);
    }
    if (file.eof())
        return true; // an incomplete last record is not sent
    if (file.bad())
        return false;

    std::string p = Transact(CmdWriteBlock, block);
    if (p.empty())
        p = Transact(CmdWriteBlock, block);
    if (p.empty())
        return false;
    ++blockCounter;
    switch (Byte(p, 0)) {
    case 1:
        return true;
    case 2:
        SetState(StateBooting);
        return true;
    default:
        return false;
    }
}

const char* StateWord(int32_t state) {
    switch (state) {
    case StateDisconnected:
        return "Disconnected";
    case StateRun:
        return "Run";
    case StateMaintenance:
        return "Maintenance";
    case StateBooting:
        return "Booting";
    default:
        return "Error";
    }
}
