#include "ConfigPlan.h"

#include "LanProtocol.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

using nlohmann::json;

namespace {

// Larger than any site's file, small enough that reading it whole is harmless.
constexpr long long MaxPlanSize = 16 * 1024 * 1024;

} // namespace

bool IsStrictAddress(const std::string& text) {
    std::istringstream parts(text);
    std::string part;
    int count = 0;
    if (text.empty() || text.back() == '.')
        return false;
    while (std::getline(parts, part, '.')) {
        if (++count > 4 || part.empty() || part.size() > 3 ||
            part.find_first_not_of("0123456789") != std::string::npos ||
            (part.size() > 1 && part[0] == '0') || std::stoi(part) > 255)
            return false;
    }
    return count == 4;
}

bool ConfigPlan::Load(const std::string& path, std::string* error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = "Error: " + path + ": not a readable file";
        return false;
    }
    if (info.st_size > MaxPlanSize) {
        *error = "Error: " + path + ": larger than 16 MiB";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "Error: " + path + ": not a readable file";
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return Parse(text, path, error);
}

bool ConfigPlan::Parse(const std::string& text, const std::string& name, std::string* error) {
    entries.clear();
    json document;
    try {
        document = json::parse(text);
    } catch (const json::exception& e) {
        std::string what = e.what();
        const size_t bracket = what.find("] ");
        if (bracket != std::string::npos)
            what = what.substr(bracket + 2);
        *error = "Error: " + name + ": not JSON: " + what;
        return false;
    }
    if (document.is_object())
        document = json::array({document});
    if (!document.is_array()) {
        *error = "Error: " + name + ": expected an array of device objects";
        return false;
    }
    std::set<std::string> serials;
    size_t number = 0;
    for (const json& item : document) {
        ++number;
        std::string where = "Error: " + name + ": entry " + std::to_string(number);
        auto fail = [&](const std::string& field, const std::string& why) {
            *error = where + ": \"" + field + "\" " + why;
            entries.clear();
            return false;
        };
        if (!item.is_object()) {
            *error = where + ": not an object";
            entries.clear();
            return false;
        }
        PlanEntry entry;
        const auto serial = item.find("serialNumber");
        if (serial == item.end())
            return fail("serialNumber", "is missing");
        if (!serial->is_string())
            return fail("serialNumber", "is not a string");
        entry.serialNumber = serial->get<std::string>();
        if (entry.serialNumber.empty() || !lanproto::IsSingleSerial(entry.serialNumber) ||
            entry.serialNumber.size() > lanproto::SerialFieldSize)
            return fail("serialNumber",
                        "is not the serial number of one device (1 to 10 printable ASCII "
                        "characters without '*')");
        where += " (" + entry.serialNumber + ")";
        if (!serials.insert(entry.serialNumber).second)
            return fail("serialNumber", "names a device that an earlier entry names too");
        for (const auto& [key, value] : item.items()) {
            if (key == "serialNumber")
                continue;
            if (key == "ip" || key == "netmask" || key == "gateway") {
                if (value.is_null())
                    continue; // not known when it was saved: the device's value stays
                if (!value.is_string())
                    return fail(key, "is neither an address text nor null");
                const std::string address = value.get<std::string>();
                if (!IsStrictAddress(address))
                    return fail(key, "is not an IPv4 address (four numbers 0 to 255 without "
                                     "leading zeros)");
                if (key == "ip") {
                    entry.hasIp = true;
                    entry.ip = address;
                } else if (key == "netmask") {
                    entry.hasNetmask = true;
                    entry.netmask = address;
                } else {
                    entry.hasGateway = true;
                    entry.gateway = address;
                }
            } else if (key == "dhcp" || key == "encryption") {
                if (!value.is_boolean())
                    return fail(key, "is not true or false");
                if (key == "dhcp") {
                    entry.hasDhcp = true;
                    entry.dhcp = value.get<bool>();
                } else {
                    entry.hasEncryption = true;
                    entry.encryption = value.get<bool>();
                }
            } else {
                return fail(lanproto::PrintableText(key),
                            "is not a field of a device (serialNumber, ip, netmask, gateway, "
                            "dhcp, encryption)");
            }
        }
        entries.push_back(entry);
    }
    return true;
}
