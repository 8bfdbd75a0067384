#include "SimConfig.h"

#include "PropertyMap.h"

#include <charconv>
#include <functional>
#include <limits>
#include <map>

namespace lanifsim::detail {

namespace {

template <typename Int> bool ParseInt(const std::string& text, Int min, Int max, Int* out) {
    long long value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < static_cast<long long>(min) ||
        value > static_cast<long long>(max))
        return false;
    *out = static_cast<Int>(value);
    return true;
}

bool ParseBool(const std::string& text, bool* out) {
    if (text == "1" || text == "true" || text == "yes" || text == "on") {
        *out = true;
        return true;
    }
    if (text == "0" || text == "false" || text == "no" || text == "off") {
        *out = false;
        return true;
    }
    return false;
}

// Strict dotted decimal: four numbers 0..255, nothing else.
bool ParseAddress(const std::string& text, Address* out) {
    Address a{};
    size_t pos = 0;
    for (size_t i = 0; i < 4; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return false;
            ++pos;
        }
        size_t start = pos;
        unsigned value = 0;
        while (pos < text.size() && pos - start < 3 && text[pos] >= '0' && text[pos] <= '9')
            value = value * 10 + static_cast<unsigned>(text[pos++] - '0');
        if (pos == start || value > 255)
            return false;
        a[i] = static_cast<uint8_t>(value);
    }
    if (pos != text.size())
        return false;
    *out = a;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Empty (no key) or exactly 32 hexadecimal digits.
bool ParseKey(const std::string& text, std::string* out) {
    if (text.empty()) {
        out->clear();
        return true;
    }
    if (text.size() != 32)
        return false;
    std::string key;
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = HexDigit(text[i]);
        int lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        key += static_cast<char>(hi << 4 | lo);
    }
    *out = key;
    return true;
}

using Setter = std::function<bool(SimDevice&, const std::string&)>;

template <typename Int> Setter IntField(Int SimDevice::*field, Int min, Int max) {
    return [=](SimDevice& d, const std::string& v) { return ParseInt(v, min, max, &(d.*field)); };
}

Setter BoolField(bool SimDevice::*field) {
    return [=](SimDevice& d, const std::string& v) { return ParseBool(v, &(d.*field)); };
}

Setter AddressField(Address SimDevice::*field) {
    return [=](SimDevice& d, const std::string& v) { return ParseAddress(v, &(d.*field)); };
}

Setter TextField(std::string SimDevice::*field, size_t maxLength) {
    return [=](SimDevice& d, const std::string& v) {
        if (v.empty() || v.size() > maxLength)
            return false;
        d.*field = v;
        return true;
    };
}

const std::map<std::string, Setter>& Setters() {
    constexpr int kIntMax = std::numeric_limits<int>::max();
    static const std::map<std::string, Setter> setters = {
        {"type", TextField(&SimDevice::type, 8)},
        {"serial", TextField(&SimDevice::serial, 10)},
        {"version", IntField<uint16_t>(&SimDevice::version, 0, 65535)},
        {"bootloaderVersion", IntField<uint16_t>(&SimDevice::bootloaderVersion, 0, 65535)},
        {"inBootloader", BoolField(&SimDevice::inBootloader)},
        {"currentIp", AddressField(&SimDevice::currentIp)},
        {"currentGateway", AddressField(&SimDevice::currentGateway)},
        {"currentNetmask", AddressField(&SimDevice::currentNetmask)},
        {"currentAddress4", AddressField(&SimDevice::currentAddress4)},
        {"currentAddress5", AddressField(&SimDevice::currentAddress5)},
        {"staticIp", AddressField(&SimDevice::staticIp)},
        {"staticGateway", AddressField(&SimDevice::staticGateway)},
        {"staticNetmask", AddressField(&SimDevice::staticNetmask)},
        {"staticAddress4", AddressField(&SimDevice::staticAddress4)},
        {"staticAddress5", AddressField(&SimDevice::staticAddress5)},
        {"dhcp", BoolField(&SimDevice::dhcp)},
        {"crypt", BoolField(&SimDevice::crypt)},
        {"key", [](SimDevice& d, const std::string& v) { return ParseKey(v, &d.key); }},
        {"challengeReads", BoolField(&SimDevice::challengeReads)},
        {"writeConfigCode", IntField<uint8_t>(&SimDevice::writeConfigCode, 0, 255)},
        {"keepsOldConfig", BoolField(&SimDevice::keepsOldConfig)},
        {"bootloaderAfterUpdate", BoolField(&SimDevice::bootloaderAfterUpdate)},
        {"answersOnlySearch", BoolField(&SimDevice::answersOnlySearch)},
        {"bootloaderCode", IntField<uint8_t>(&SimDevice::bootloaderCode, 0, 255)},
        {"bootloaderCodeInBootloader",
         IntField<uint8_t>(&SimDevice::bootloaderCodeInBootloader, 0, 255)},
        {"restartAfterBlock", IntField<int>(&SimDevice::restartAfterBlock, -1, kIntMax)},
        {"refuseBlock", IntField<int>(&SimDevice::refuseBlock, -1, kIntMax)},
        {"versionAfterUpdate", IntField<uint16_t>(&SimDevice::versionAfterUpdate, 0, 65535)},
        {"silentAfterUpdate", BoolField(&SimDevice::silentAfterUpdate)},
        {"restartSilenceMs", IntField<int>(&SimDevice::restartSilenceMs, 0, 3600 * 1000)},
        {"restartIntoApplication", BoolField(&SimDevice::restartIntoApplication)},
        {"silent", BoolField(&SimDevice::silent)},
        {"dropFirstReplyTo",
         [](SimDevice& d, const std::string& v) {
             d.dropFirstReplyTo = v;
             return true;
         }},
        {"identPayloadLength", IntField<int>(&SimDevice::identPayloadLength, 0, 60000)},
        {"extraReplyBytes", IntField<int>(&SimDevice::extraReplyBytes, 0, 60000)},
    };
    return setters;
}

std::string Where(const std::string& section) {
    return section.empty() ? std::string("before the first section") : "[" + section + "]";
}

} // namespace

bool DevicesFromProperties(const PropertyMap& map, std::vector<SimDevice>* devices,
                           std::string* error) {
    std::vector<SimDevice> found;
    for (const auto& section : map.Sections()) {
        if (section.name.empty() && section.entries.empty())
            continue; // the map's leading section, unused
        if (section.name.empty()) {
            *error = "keys " + Where(section.name) + ": every device needs a section";
            return false;
        }
        SimDevice device;
        int count = 0;
        bool hasSerial = false;
        for (const auto& [key, value] : section.entries) {
            if (key == "count") {
                if (!ParseInt(value, 1, 100000, &count)) {
                    *error = Where(section.name) + ": count must be 1..100000, not '" + value + "'";
                    return false;
                }
                continue;
            }
            auto setter = Setters().find(key);
            if (setter == Setters().end()) {
                *error = Where(section.name) + ": unknown key '" + key + "'";
                return false;
            }
            if (!setter->second(device, value)) {
                *error = Where(section.name) + ": bad value '" + value + "' for " + key;
                return false;
            }
            hasSerial = hasSerial || key == "serial";
        }
        if (!hasSerial) {
            *error = Where(section.name) + ": no serial";
            return false;
        }
        if (count == 0) {
            found.push_back(device);
            continue;
        }
        // The serial is a prefix; a running number from 1 fills the remaining characters.
        const size_t width = 10 - device.serial.size();
        const size_t digits = std::to_string(count).size();
        if (width < digits) {
            *error = Where(section.name) + ": serial prefix '" + device.serial +
                     "' leaves too few characters for " + std::to_string(count) + " devices";
            return false;
        }
        const std::string prefix = device.serial;
        for (int i = 1; i <= count; ++i) {
            std::string number = std::to_string(i);
            device.serial = prefix + std::string(width - number.size(), '0') + number;
            found.push_back(device);
        }
    }
    devices->insert(devices->end(), found.begin(), found.end());
    return true;
}

} // namespace lanifsim::detail
