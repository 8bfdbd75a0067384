#include "LanProtocol.h"

#include "AesCipher.h"
#include "CryptModeCBC.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace lanproto {

std::string PadField(const std::string& text, size_t size) {
    std::string field = text.substr(0, size);
    field.resize(size, '\0');
    return field;
}

std::string BuildRequest(const std::string& type, const std::string& serial, char command,
                         const std::string& payload) {
    std::string request = PadField(type, TypeFieldSize);
    request += PadField(serial, SerialFieldSize);
    request += command;
    request += payload;
    return request;
}

std::string BuildDiscoverRequest(const std::string& pattern) {
    return BuildRequest(pattern, std::string(SerialFieldSize, Wildcard), CmdIdentify);
}

std::string BuildFindRequest(const std::string& serial) {
    return BuildRequest(std::string(TypeFieldSize, Wildcard), serial, CmdIdentify);
}

std::string BuildDeviceRequest(const std::string& serial, char command,
                               const std::string& payload) {
    return BuildRequest(std::string(1, Wildcard), serial, command, payload);
}

namespace {

// A field of a request against the same field of a reply: equal up to the first '*' of the
// request's, which stands for the rest.
bool FieldMatches(const std::string& request, const std::string& reply, size_t at, size_t size) {
    for (size_t i = at; i < at + size; ++i) {
        if (request[i] == Wildcard)
            return true;
        if (request[i] != reply[i])
            return false;
    }
    return true;
}

uint8_t Byte(const std::string& s, size_t i) {
    return static_cast<uint8_t>(s[i]);
}

} // namespace

bool AcceptsReply(const std::string& request, const std::string& reply) {
    if (request.size() < RequestHeaderSize || reply.size() < TypeFieldSize + SerialFieldSize)
        return false;
    if (!FieldMatches(request, reply, 0, TypeFieldSize) ||
        !FieldMatches(request, reply, TypeFieldSize, SerialFieldSize))
        return false;
    if (request[RequestHeaderSize - 1] != CmdIdentify)
        return true;
    return reply.size() >= ReplyHeaderSize && reply[18] == '>' && reply[19] == CmdIdentify;
}

bool DecodeIdentification(const std::string& reply, Identity* identity) {
    // The version sits at payload offsets 4 and 5: a shorter reply cannot be used.
    if (reply.size() < ReplyHeaderSize + 6 || reply[18] != '>' || reply[19] != CmdIdentify)
        return false;
    identity->type = reply.substr(0, TypeFieldSize);
    identity->serial = reply.substr(TypeFieldSize, SerialFieldSize);
    identity->version = Byte(reply, 24) * 256u + Byte(reply, 25);
    return true;
}

bool DecodeIdentifyPayload(const std::string& payload, unsigned* version) {
    if (payload.size() < 6)
        return false;
    *version = Byte(payload, 4) * 256u + Byte(payload, 5);
    return true;
}

namespace {

void DecodeFive(const std::string& p, AddressSet* a) {
    std::string* const fields[] = {&a->ip, &a->gateway, &a->netmask, &a->address4, &a->address5};
    for (size_t i = 0; i < 5; ++i)
        *fields[i] = FormatIpAddress(p.substr(4 * i, 4));
}

} // namespace

bool DecodeAddresses(const std::string& payload, AddressSet* addresses) {
    if (payload.size() < StatusPayloadSize)
        return false;
    DecodeFive(payload, addresses);
    return true;
}

bool DecodeConfig(const std::string& payload, StoredConfig* config) {
    if (payload.size() < ConfigPayloadMinSize)
        return false;
    DecodeFive(payload, &config->addresses);
    config->dhcp = payload[20] != 0;
    config->crypt = payload.size() > 21 && payload[21] != 0;
    return true;
}

std::string EncodeConfig(const StoredConfig& config) {
    const AddressSet& a = config.addresses;
    std::string payload = ParseIpAddress(a.ip) + ParseIpAddress(a.gateway) +
                          ParseIpAddress(a.netmask) + ParseIpAddress(a.address4) +
                          ParseIpAddress(a.address5);
    payload += static_cast<char>(config.dhcp ? 1 : 0);
    payload += static_cast<char>(config.crypt ? 1 : 0);
    return payload;
}

bool DecodeChallenge(const std::string& reply, std::string* iv) {
    if (!IsChallenge(reply))
        return false;
    *iv = reply.substr(21, 16);
    return true;
}

size_t AnswerSize(char command) {
    switch (command) {
    case CmdReadStatus:
        return ReplyHeaderSize + StatusPayloadSize;
    case CmdReadConfig:
        return ReplyHeaderSize + ConfigPayloadMinSize;
    default:
        return 0;
    }
}

bool IsChallenge(const std::string& reply) {
    return reply.size() >= ChallengeSize && static_cast<uint8_t>(reply[20]) == CodeKeyError;
}

bool IsChallengeFor(char command, const std::string& reply) {
    const size_t answer = AnswerSize(command);
    return IsChallenge(reply) && (answer == 0 || reply.size() < answer);
}

bool NamesSerial(const std::string& reply, const std::string& serial) {
    return reply.size() >= TypeFieldSize + SerialFieldSize &&
           reply.compare(TypeFieldSize, SerialFieldSize, PadField(serial, SerialFieldSize)) == 0;
}

size_t EnvelopeLength(size_t payloadLength) {
    return (payloadLength + 32) & ~static_cast<size_t>(15);
}

std::string BuildEnvelopePlaintext(char command, const std::string& payload) {
    std::string plain = EnvelopeTag;
    plain += '\0';
    plain += command;
    plain += payload;
    plain.resize(EnvelopeLength(payload.size()), '\0');
    return plain;
}

std::string EncryptEnvelope(const std::string& plaintext, const std::string& key,
                            const std::string& iv) {
    if (key.size() < KeySize || iv.size() != 16 || plaintext.size() % 16 != 0)
        return std::string();
    std::string out = plaintext;
    CryptModeCBC mode(new AesCipher(reinterpret_cast<const uint8_t*>(key.data()), KeySize), true,
                      reinterpret_cast<const uint8_t*>(iv.data()));
    auto* bytes = reinterpret_cast<uint8_t*>(out.data());
    if (!mode.ProcessData(bytes, bytes, out.size()))
        return std::string();
    return out;
}

uint8_t HexPairValue(const char* pair, size_t length) {
    char buf[3] = {0, 0, 0};
    for (size_t i = 0; i < length && i < 2; ++i)
        buf[i] = pair[i];
    return static_cast<uint8_t>(std::strtol(buf, nullptr, 16) & 0xFF);
}

std::string ParseKeyText(const std::string& text) {
    std::string key;
    for (size_t i = 0; i < text.size(); i += 2)
        key += static_cast<char>(HexPairValue(text.data() + i, text.size() - i));
    return key;
}

std::string FormatVersion(unsigned thousandths) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%u.%03u", thousandths / 1000, thousandths % 1000);
    return buf;
}

unsigned VersionThousandths(const std::string& version) {
    unsigned whole = 0;
    size_t i = 0;
    while (i < version.size() && std::isdigit(static_cast<unsigned char>(version[i])))
        whole = whole * 10 + static_cast<unsigned>(version[i++] - '0');
    unsigned fraction = 0;
    if (i < version.size() && version[i] == '.') {
        ++i;
        for (unsigned scale = 100; scale > 0 && i < version.size() &&
                                   std::isdigit(static_cast<unsigned char>(version[i]));
             scale /= 10)
            fraction += scale * static_cast<unsigned>(version[i++] - '0');
    }
    return whole * 1000 + fraction;
}

FirmwareTextCheck CheckFirmwareDigits(std::string_view text) {
    FirmwareTextCheck check;
    size_t end = text.size();
    while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    if (end == 0) {
        check.reason = "holds no record";
        return check;
    }
    for (size_t i = 0; i < end; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) {
            check.reason = "bad character at byte " + std::to_string(i + 1);
            return check;
        }
    }
    size_t pos = 0;
    while (pos < end) {
        const std::string at = " at byte " + std::to_string(pos + 1);
        if (end - pos < 4) {
            check.reason = "record" + at + " cut short";
            return check;
        }
        unsigned length =
            HexPairValue(text.data() + pos, 2) * 256u + HexPairValue(text.data() + pos + 2, 2);
        if (length > MaxRecordLength) {
            check.reason = "record" + at + " longer than 1024 bytes";
            return check;
        }
        if (end - pos - 4 < 2u * length) {
            check.reason = "record" + at + " cut short";
            return check;
        }
        pos += 4 + 2u * length;
    }
    check.ok = true;
    check.digits = end;
    return check;
}

bool CheckFirmwareText(const std::string& text, std::string* digits) {
    FirmwareTextCheck check = CheckFirmwareDigits(text);
    if (check.ok && digits)
        *digits = text.substr(0, check.digits);
    return check.ok;
}

std::string PrintableText(const std::string& bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b == 0)
            break;
        if (b >= 0x20 && b < 0x7F) {
            text += c;
        } else {
            text += "\\x";
            text += hex[b >> 4];
            text += hex[b & 0x0F];
        }
    }
    return text;
}

bool IsSingleSerial(const std::string& serial) {
    for (char c : serial) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F || c == Wildcard)
            return false;
    }
    return true;
}

} // namespace lanproto

std::string FormatIpAddress(const std::string& bytes) {
    if (bytes.size() != 4)
        return std::string();
    auto b = [&](size_t i) { return std::to_string(static_cast<uint8_t>(bytes[i])); };
    return b(0) + '.' + b(1) + '.' + b(2) + '.' + b(3);
}

std::string ParseIpAddress(const std::string& text) {
    unsigned parts[4] = {0, 0, 0, 0};
    std::sscanf(text.c_str(), "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]);
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>(parts[i] & 0xFF);
    return bytes;
}
