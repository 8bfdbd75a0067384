#pragma once

// Framing, addressing and encodings of the LAN interface's UDP protocol, as small functions over
// byte strings so that they can be checked without a socket.

#include <cstdint>
#include <string>
#include <string_view>

namespace lanproto {

inline constexpr const char* MulticastGroup = "224.0.0.1";
inline constexpr unsigned Port = 23272;
inline const std::string BootloaderType("vK7LanBl", 8);
inline constexpr const char* SearchPattern = "vK7Lan*";
inline constexpr char Wildcard = '*';

inline constexpr size_t TypeFieldSize = 8;
inline constexpr size_t SerialFieldSize = 10;
inline constexpr size_t RequestHeaderSize = 19;
inline constexpr size_t ReplyHeaderSize = 20;
inline constexpr size_t ChallengeSize = 37;
// Payload sizes of the answers to N (five addresses) and c (five addresses and the DHCP flag; the
// encryption flag may follow).
inline constexpr size_t StatusPayloadSize = 20;
inline constexpr size_t ConfigPayloadMinSize = 21;

inline constexpr char CmdIdentify = 'I';
inline constexpr char CmdReadStatus = 'N';
inline constexpr char CmdReadConfig = 'c';
inline constexpr char CmdWriteConfig = 'C';
inline constexpr char CmdEnvelope = '*';
inline constexpr char CmdBootloader = 'B';
inline constexpr char CmdStartUpdate = 'U';
inline constexpr char CmdWriteBlock = 'W';

inline constexpr uint8_t CodeKeyError = 3;
inline const std::string EnvelopeTag("Velantrix-Crypt", 15);
inline constexpr size_t KeySize = 16;
inline constexpr int64_t BootGraceSeconds = 30;

inline constexpr unsigned DiscoverWaitMs = 2000;
inline constexpr unsigned DiscoverMaxReplies = 1000;
inline constexpr unsigned FindWaitMs = 200;
inline constexpr unsigned TransactWaitMs = 2000;

inline constexpr unsigned MaxRecordLength = 1024;
// The largest firmware file taken. The block counter has 16 bits, so a file holds at most 65536
// records, each at most 4 + 2 x 1024 characters; two more allow a line end after the last one.
inline constexpr size_t MaxFirmwareFileSize = 65536u * (4 + 2 * MaxRecordLength) + 2;

// A text padded with NUL bytes, or cut, to size bytes.
std::string PadField(const std::string& text, size_t size);

// Header (type field, serial field, command letter) followed by the payload.
std::string BuildRequest(const std::string& type, const std::string& serial, char command,
                         const std::string& payload = std::string());

// The three addressing forms of the protocol.
std::string BuildDiscoverRequest(const std::string& pattern);
std::string BuildFindRequest(const std::string& serial);
std::string BuildDeviceRequest(const std::string& serial, char command, const std::string& payload);

// Whether reply answers request: its type and serial fields match those of the request, a '*'
// in the request's field matching the rest of that field, and the answer to an identification
// request carries ">I" after them. Any host on the segment can send a datagram to the client;
// this one rule decides which of them is the device's answer, for the group and for addresses.
bool AcceptsReply(const std::string& request, const std::string& reply);

// The payloads, decoded and encoded. Decoders refuse (false, output unchanged) a payload too
// short for its fields; bytes after them are ignored.
struct Identity {
    std::string type;   // 8 bytes
    std::string serial; // 10 bytes, NUL padded
    unsigned version = 0; // thousandths
};
// An identification reply: header with ">I", then a payload whose bytes 4 and 5 are the version.
bool DecodeIdentification(const std::string& reply, Identity* identity);
// The version in the payload of an answer to I sent to one device.
bool DecodeIdentifyPayload(const std::string& payload, unsigned* version);

// Five IPv4 addresses as texts, in the protocol's order.
struct AddressSet {
    std::string ip, gateway, netmask, address4, address5;
    bool operator==(const AddressSet&) const = default;
};
// The answer to N: the five addresses in effect.
bool DecodeAddresses(const std::string& payload, AddressSet* addresses);
// The answer to c and the payload of C: five addresses, then the DHCP and encryption flags (the
// encryption flag may be missing from an answer: off).
struct StoredConfig {
    AddressSet addresses;
    bool dhcp = false;
    bool crypt = false;
    bool operator==(const StoredConfig&) const = default;
};
bool DecodeConfig(const std::string& payload, StoredConfig* config);
// 22 bytes: each address through ParseIpAddress, then one byte 1 or 0 per flag.
std::string EncodeConfig(const StoredConfig& config);

// A reply of at least 37 bytes whose byte 20 is 3: the device wants the encrypted envelope.
bool IsChallenge(const std::string& reply);
// The IV a challenge carries (bytes 21 to 36); false for a reply that is no challenge.
bool DecodeChallenge(const std::string& reply, std::string* iv);
// The size of the reply that answers N or c (header and payload), 0 for other commands.
size_t AnswerSize(char command);
// Whether reply is a challenge when it answers command, by its length alone. A status reply
// (40 bytes) or a configuration reply (41 or 42 bytes) of a device whose address begins with 3
// also has a 3 at byte 20, so for N and c a reply long enough to be their answer is taken as
// one; the exchange tells such a reply from a challenge by asking twice (a challenge carries a
// fresh IV each time), and uses this rule only where it cannot ask again.
bool IsChallengeFor(char command, const std::string& reply);
// Whether the serial field of reply (bytes 8 to 17) is serial, padded or cut to 10 bytes.
bool NamesSerial(const std::string& reply, const std::string& serial);

// Length of the envelope plaintext for a payload of n bytes: n + 32 with the low 4 bits cleared.
size_t EnvelopeLength(size_t payloadLength);
// Tag, NUL, command letter, payload, zero bytes up to EnvelopeLength.
std::string BuildEnvelopePlaintext(char command, const std::string& payload);
// AES-128-CBC of the plaintext with the first 16 key bytes and the 16-byte IV; empty when the key
// is shorter than 16 bytes or the IV is not 16 bytes.
std::string EncryptEnvelope(const std::string& plaintext, const std::string& key,
                            const std::string& iv);

// Two characters read as a hexadecimal number the way strtol(…, 16) reads them; 0 when none.
uint8_t HexPairValue(const char* pair, size_t length);
// Hexadecimal key text to bytes, two characters per byte (one at an odd end).
std::string ParseKeyText(const std::string& text);

// "%u.%03u" of a version in thousandths, and back.
std::string FormatVersion(unsigned thousandths);
// Reads a version text as a decimal number in thousandths (locale-independent).
unsigned VersionThousandths(const std::string& version);

// The outcome of checking a firmware file's text.
struct FirmwareTextCheck {
    bool ok = false;
    size_t digits = 0;  // length of the text without its trailing white space, when ok
    std::string reason; // why the text was refused, for the user ("bad character at byte 7")
};

// Checks a whole firmware file before anything is sent: hexadecimal digits only (ASCII white
// space allowed at the very end), complete records, record lengths at most 1024, not empty.
// Byte positions in the reason count from 1.
FirmwareTextCheck CheckFirmwareDigits(std::string_view text);
// The same check; on success digits receives the file without its trailing white space.
bool CheckFirmwareText(const std::string& text, std::string* digits);

// A text from the network made safe to print: the bytes up to the first NUL, each byte outside
// printable ASCII written as \xhh, so that no device can send escape sequences to a terminal.
std::string PrintableText(const std::string& bytes);

// True when serial names at most one device: printable ASCII without the wildcard.
bool IsSingleSerial(const std::string& serial);

} // namespace lanproto

// Exactly four bytes to "%u.%u.%u.%u"; any other length gives the empty text.
std::string FormatIpAddress(const std::string& bytes);
// Dotted decimal text to four bytes, read like "%u.%u.%u.%u"; unread numbers count as 0.
std::string ParseIpAddress(const std::string& text);
