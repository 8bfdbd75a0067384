#include "DeviceModel.h"

#include "AesCipher.h"
#include "CryptModeCBC.h"

#include <sys/random.h>

#include <cstring>
#include <random>

namespace lanifsim::detail {

namespace {

constexpr char kEnvelopeTag[16] = {'V', 'e', 'l', 'a', 'n', 't', 'r', 'i',
                                   'x', '-', 'C', 'r', 'y', 'p', 't', '\0'};
constexpr size_t kConfigPayloadLength = 22;
constexpr uint8_t kCodeRefused = 0;
constexpr uint8_t kCodeTaken = 1;
constexpr uint8_t kCodeRestart = 2;
constexpr uint8_t kCodeKey = 3;

std::string Code(uint8_t code) {
    return std::string(1, static_cast<char>(code));
}

void AppendAddress(std::string& out, const Address& a) {
    for (uint8_t b : a)
        out += static_cast<char>(b);
}

Address AddressAt(const std::string& s, size_t offset) {
    Address a{};
    for (size_t i = 0; i < 4; ++i)
        a[i] = static_cast<uint8_t>(s[offset + i]);
    return a;
}

unsigned Be16(const std::string& s, size_t offset) {
    return static_cast<unsigned>(static_cast<uint8_t>(s[offset])) << 8 |
           static_cast<uint8_t>(s[offset + 1]);
}

std::string RandomIv() {
    std::string iv(16, '\0');
    size_t got = 0;
    while (got < iv.size()) {
        ssize_t n = ::getrandom(iv.data() + got, iv.size() - got, 0);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    if (got < iv.size()) {
        // getrandom is missing or failed: an IV only has to differ between challenges here.
        static thread_local std::mt19937 fallback{std::random_device{}()};
        for (char& c : iv)
            c = static_cast<char>(fallback() & 0xFF);
    }
    return iv;
}

} // namespace

std::string PadField(const std::string& value, size_t length) {
    std::string field = value.substr(0, length);
    field.resize(length, '\0');
    return field;
}

bool FieldMatches(std::string_view requestField, std::string_view deviceField) {
    for (size_t i = 0; i < requestField.size() && i < deviceField.size(); ++i) {
        if (requestField[i] == '*')
            return true;
        if (requestField[i] != deviceField[i])
            return false;
    }
    return requestField.size() == deviceField.size();
}

bool DecodeRequest(const std::string& datagram, RecordedRequest* out) {
    out->bytes = datagram;
    if (datagram.size() < kRequestHeaderLength)
        return false;
    out->typeField = datagram.substr(0, kTypeLength);
    out->serialField = datagram.substr(kTypeLength, kSerialLength);
    out->command = datagram[kTypeLength + kSerialLength];
    out->payload = datagram.substr(kRequestHeaderLength);
    return true;
}

DeviceModel::DeviceModel(const SimDevice& device) : device_(device) {}

std::string DeviceModel::CurrentType() const {
    return device_.inBootloader ? std::string(kBootloaderType) : device_.type;
}

bool DeviceModel::Addressed(std::string_view typeField, std::string_view serialField) const {
    if (device_.impostor)
        return true;
    return FieldMatches(typeField, PadField(CurrentType(), kTypeLength)) &&
           FieldMatches(serialField, PadField(device_.serial, kSerialLength));
}

void DeviceModel::Settle(Clock::time_point now) {
    if (!restarting_ || now < restartDone_)
        return;
    restarting_ = false;
    device_.inBootloader = restartIntoBootloader_;
    if (restartEndsUpdate_) {
        restartEndsUpdate_ = false;
        if (device_.versionAfterUpdate != 0)
            device_.version = device_.versionAfterUpdate;
        if (device_.silentAfterUpdate)
            device_.silent = true;
    }
    blockIndex_ = 0;
    lastIv_.clear();
    // A device with a fixed address comes back with its stored configuration in effect; with
    // DHCP it keeps what it had, which is as good a guess as any for a lease.
    if (!device_.dhcp) {
        device_.currentIp = device_.staticIp;
        device_.currentGateway = device_.staticGateway;
        device_.currentNetmask = device_.staticNetmask;
        device_.currentAddress4 = device_.staticAddress4;
        device_.currentAddress5 = device_.staticAddress5;
    }
}

void DeviceModel::Restart(Clock::time_point now, bool intoBootloader) {
    restarting_ = true;
    restartIntoBootloader_ = intoBootloader;
    restartEndsUpdate_ = false;
    restartDone_ = now + std::chrono::milliseconds(
                             device_.restartSilenceMs > 0 ? device_.restartSilenceMs : 0);
}

std::string DeviceModel::Reply(char command, std::string payload) const {
    std::string reply = PadField(CurrentType(), kTypeLength);
    reply += PadField(device_.serial, kSerialLength);
    reply += '>';
    reply += command;
    if (command != 'I' && device_.extraReplyBytes > 0)
        payload.append(static_cast<size_t>(device_.extraReplyBytes), '\0');
    return reply + payload;
}

std::string DeviceModel::Challenge(char command) {
    lastIv_ = RandomIv();
    return Reply(command, Code(kCodeKey) + lastIv_);
}

std::optional<std::string> DeviceModel::Handle(const RecordedRequest& request,
                                               Clock::time_point now, RecordedRequest* record) {
    Settle(now);
    if (restarting_ || device_.silent)
        return std::nullopt;
    const char command = request.command;
    if (device_.answersOnlySearch && command != 'I')
        return std::nullopt;
    if (device_.dropFirstReplyTo.find(command) != std::string::npos &&
        droppedOnce_.insert(command).second) {
        // Lost on the way: the request is not carried out either, so a retry finds the device
        // as it was.
        return std::nullopt;
    }
    if (command == '*')
        return OpenEnvelope(request.payload, now, record);
    return CarryOut(command, request.payload, false, false, now);
}

std::optional<std::string> DeviceModel::OpenEnvelope(const std::string& payload,
                                                     Clock::time_point now,
                                                     RecordedRequest* record) {
    if (!HasKey())
        return Reply('*', Code(kCodeRefused));
    if (lastIv_.empty() || payload.empty() || payload.size() % 16 != 0)
        return Challenge('*');

    std::string plain(payload.size(), '\0');
    CryptModeCBC cbc(new AesCipher(reinterpret_cast<const uint8_t*>(device_.key.data()), 16), false,
                     reinterpret_cast<const uint8_t*>(lastIv_.data()));
    if (!cbc.ProcessData(reinterpret_cast<const uint8_t*>(payload.data()),
                         reinterpret_cast<uint8_t*>(plain.data()), plain.size()))
        return Challenge('*');
    if (plain.size() <= sizeof kEnvelopeTag ||
        std::memcmp(plain.data(), kEnvelopeTag, sizeof kEnvelopeTag) != 0)
        return Challenge('*'); // wrong key, or an IV of another challenge

    // The IV answers one challenge only: a replayed envelope gets a fresh challenge.
    lastIv_.clear();
    const char inner = plain[sizeof kEnvelopeTag];
    if (record && !record->decrypted) {
        record->decrypted = true;
        record->innerCommand = inner;
        record->innerPayload = plain.substr(sizeof kEnvelopeTag + 1);
        record->plaintext = plain;
    }
    if (inner == '*')
        return Challenge('*');
    return CarryOut(inner, plain.substr(sizeof kEnvelopeTag + 1), true, true, now);
}

std::optional<std::string> DeviceModel::CarryOut(char command, const std::string& payload,
                                                 bool authenticated, bool padded,
                                                 Clock::time_point now) {
    const bool locked = HasKey() && !authenticated;
    switch (command) {
    case 'I': {
        const uint16_t version = device_.inBootloader ? device_.bootloaderVersion : device_.version;
        const size_t length =
            device_.identPayloadLength > 0 ? static_cast<size_t>(device_.identPayloadLength) : 0;
        std::string p(length < 6 ? 6 : length, '\0');
        p[4] = static_cast<char>(version >> 8);
        p[5] = static_cast<char>(version & 0xFF);
        p.resize(length);
        return Reply('I', p);
    }
    case 'N': {
        if (locked && device_.challengeReads)
            return Challenge(command);
        std::string p;
        for (const Address* a :
             {&device_.currentIp, &device_.currentGateway, &device_.currentNetmask,
              &device_.currentAddress4, &device_.currentAddress5})
            AppendAddress(p, *a);
        return Reply(command, p);
    }
    case 'c': {
        if (locked && device_.challengeReads)
            return Challenge(command);
        std::string p;
        for (const Address* a : {&device_.staticIp, &device_.staticGateway, &device_.staticNetmask,
                                 &device_.staticAddress4, &device_.staticAddress5})
            AppendAddress(p, *a);
        p += static_cast<char>(device_.dhcp ? 1 : 0);
        p += static_cast<char>(device_.crypt ? 1 : 0);
        return Reply(command, p);
    }
    case 'C': {
        if (locked)
            return Challenge(command);
        const bool wellFormed = padded ? payload.size() >= kConfigPayloadLength
                                       : payload.size() == kConfigPayloadLength;
        if (!wellFormed)
            return Reply(command, Code(kCodeRefused));
        const uint8_t code = device_.writeConfigCode;
        if (code != kCodeRefused && code != kCodeKey && !device_.keepsOldConfig) {
            device_.staticIp = AddressAt(payload, 0);
            device_.staticGateway = AddressAt(payload, 4);
            device_.staticNetmask = AddressAt(payload, 8);
            device_.staticAddress4 = AddressAt(payload, 12);
            device_.staticAddress5 = AddressAt(payload, 16);
            device_.dhcp = payload[20] != 0;
            device_.crypt = payload[21] != 0;
        }
        std::string reply = Reply(command, Code(code));
        if (code == kCodeRestart)
            Restart(now, false);
        return reply;
    }
    case 'B': {
        if (locked)
            return Challenge(command);
        const uint8_t code =
            device_.inBootloader ? device_.bootloaderCodeInBootloader : device_.bootloaderCode;
        std::string reply = Reply(command, Code(code));
        if (code == kCodeRestart)
            Restart(now, device_.inBootloader || !device_.restartIntoApplication);
        return reply;
    }
    case 'U':
        if (!device_.inBootloader)
            return Reply(command, Code(kCodeRefused));
        blocks_.clear();
        blockIndex_ = 0;
        return Reply(command, Code(kCodeTaken));
    case 'W':
        return Reply(command, WriteBlock(payload, padded, now));
    default:
        return std::nullopt; // a command this device does not know
    }
}

std::string DeviceModel::WriteBlock(const std::string& payload, bool padded,
                                    Clock::time_point now) {
    if (!device_.inBootloader)
        return Code(kCodeRefused);
    const bool counted = device_.bootloaderVersion >= kFirstCountingBootloader;
    const size_t header = counted ? 4 : 2;
    if (payload.size() < header)
        return Code(kCodeRefused);
    const size_t length = Be16(payload, header - 2);
    if (length > kMaxBlockLength)
        return Code(kCodeRefused);
    const bool wellFormed =
        padded ? payload.size() >= header + length : payload.size() == header + length;
    if (!wellFormed)
        return Code(kCodeRefused);
    if (counted && Be16(payload, 0) != static_cast<unsigned>(blockIndex_ & 0xFFFF))
        return Code(kCodeRefused);
    if (blockIndex_ == device_.refuseBlock)
        return Code(kCodeRefused);

    blocks_.push_back(payload.substr(header, length));
    if (blockIndex_++ == device_.restartAfterBlock) {
        Restart(now, device_.bootloaderAfterUpdate);
        restartEndsUpdate_ = true;
        return Code(kCodeRestart);
    }
    return Code(kCodeTaken);
}

} // namespace lanifsim::detail
