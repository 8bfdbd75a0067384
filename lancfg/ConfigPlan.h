#pragma once

#include <string>
#include <vector>

// What one entry of a configuration file asks of one device. A field left out, or an address
// given as null, keeps the device's value.
struct PlanEntry {
    std::string serialNumber;
    bool hasIp = false, hasNetmask = false, hasGateway = false, hasDhcp = false,
         hasEncryption = false;
    std::string ip, netmask, gateway;
    bool dhcp = false, encryption = false;
    // Where the device was found when the file was saved; for the reader only, never written.
    std::string address, network;
};

// A configuration file: one JSON array of the objects that show --json prints, or one such
// object. The whole file is checked before anything is taken from it.
class ConfigPlan {
public:
    // Reads the file named path (a regular file of at most 16 MiB). False, with one line for the
    // user in error, when it cannot be read or fails the check of Parse.
    bool Load(const std::string& path, std::string* error);
    // Checks text; name is the file's name for the message. False, with one line naming the
    // entry and the field, on anything but JSON, nesting deeper than any plan needs, a member
    // given twice in one object, an unknown field, a wrong type, an address that is not four
    // numbers 0 to 255 without leading zeros, a serial number that is not one device's, or a
    // serial number given twice.
    bool Parse(const std::string& text, const std::string& name, std::string* error);

    std::vector<PlanEntry> entries;

    static constexpr size_t MaxFileSize = 16 * 1024 * 1024;
    // Arrays and objects inside one another: the array of entries, an entry, and a member's
    // value that is refused by its type; more cannot be a plan.
    static constexpr int MaxDepth = 8;
};
