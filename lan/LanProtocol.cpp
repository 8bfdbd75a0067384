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

bool IsChallenge(const std::string& reply) {
    return reply.size() >= ChallengeSize && static_cast<uint8_t>(reply[20]) == CodeKeyError;
}

bool IsChallengeFor(char command, const std::string& reply) {
    if (!IsChallenge(reply))
        return false;
    switch (command) {
    case CmdReadStatus:
        return reply.size() < ReplyHeaderSize + StatusPayloadSize;
    case CmdReadConfig:
        return reply.size() < ReplyHeaderSize + ConfigPayloadMinSize;
    default:
        return true;
    }
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
