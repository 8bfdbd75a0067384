#include "ConfigPlan.h"

#include "BoundedFile.h"
#include "LanProtocol.h"
#include "TextUtil.h"

#include <nlohmann/json.hpp>

#include <map>
#include <set>

using nlohmann::json;

namespace {

// What the parse noticed that the document it builds cannot show: nesting beyond the bound,
// which is cut off while parsing so that nothing deep is ever built, and the first member given
// twice in an entry, which the document would hold only once.
class PlanScan {
public:
    bool tooDeep = false;
    std::map<size_t, std::string> repeated; // entry number (from 1) to the member given twice

    bool Event(int depth, json::parse_event_t event, const json& parsed) {
        switch (event) {
        case json::parse_event_t::object_start:
        case json::parse_event_t::array_start:
            if (depth >= ConfigPlan::MaxDepth) {
                tooDeep = true;
                return false; // dropped: its contents are parsed but never kept
            }
            if (depth == 0)
                entryDepth_ = event == json::parse_event_t::array_start ? 1 : 0;
            Count(depth);
            if (event == json::parse_event_t::object_start) {
                members_.resize(static_cast<size_t>(depth) + 1);
                members_[static_cast<size_t>(depth)].clear();
            }
            return true;
        case json::parse_event_t::key: {
            // A key belongs to the object one level up; only entries' members are tracked.
            const size_t object = static_cast<size_t>(depth) - 1;
            if (static_cast<int>(object) != entryDepth_ || object >= members_.size())
                return true;
            const std::string name = parsed.get<std::string>();
            if (!members_[object].insert(name).second && !repeated.count(entry_))
                repeated[entry_] = name;
            return true;
        }
        case json::parse_event_t::value:
            Count(depth);
            return true;
        default:
            return true;
        }
    }

private:
    void Count(int depth) {
        if (depth == entryDepth_)
            ++entry_;
    }

    int entryDepth_ = 0;
    size_t entry_ = 0;
    std::vector<std::set<std::string>> members_; // the member names of each open object by depth
};

// The member of an entry that holds an address: where it goes in the entry.
struct AddressMember {
    const char* name;
    bool PlanEntry::*has;
    std::string PlanEntry::*value;
};
constexpr AddressMember kAddressMembers[] = {
    {"ip", &PlanEntry::hasIp, &PlanEntry::ip},
    {"netmask", &PlanEntry::hasNetmask, &PlanEntry::netmask},
    {"gateway", &PlanEntry::hasGateway, &PlanEntry::gateway},
};

// Takes one member of an entry. Returns what is wrong with its value, or nothing.
std::string TakeMember(const std::string& key, const json& value, PlanEntry& entry) {
    for (const AddressMember& member : kAddressMembers) {
        if (key != member.name)
            continue;
        if (value.is_null())
            return std::string(); // not known when it was saved: the device's value stays
        if (!value.is_string())
            return "is neither an address text nor null";
        if (!IsIpv4Text(value.get<std::string>()))
            return "is not an IPv4 address (four numbers 0 to 255 without leading zeros)";
        entry.*member.has = true;
        entry.*member.value = value.get<std::string>();
        return std::string();
    }
    if (key == "dhcp" || key == "encryption") {
        if (!value.is_boolean())
            return "is not true or false";
        (key == "dhcp" ? entry.hasDhcp : entry.hasEncryption) = true;
        (key == "dhcp" ? entry.dhcp : entry.encryption) = value.get<bool>();
        return std::string();
    }
    if (key == "address" || key == "network") {
        if (!value.is_string() && !value.is_null())
            return "is neither a text nor null";
        if (value.is_string())
            (key == "address" ? entry.address : entry.network) = value.get<std::string>();
        return std::string();
    }
    return "is not a field of a device (serialNumber, ip, netmask, gateway, dhcp, encryption, "
           "address, network)";
}

// Reads one entry; repeated is the member given twice in it, if any. Returns what is wrong,
// beginning with the serial number when it is known (" (KPL0000001): \"ip\" is ..."), or
// nothing.
std::string ReadEntry(const json& item, const std::string& repeated, PlanEntry* entry) {
    auto member = [](const std::string& field, const std::string& why) {
        return ": \"" + lanproto::PrintableText(field) + "\" " + why;
    };
    if (!item.is_object())
        return ": not an object";
    // The last of two serial numbers would win, and target another device than the first.
    if (repeated == "serialNumber")
        return member("serialNumber", "is given twice");
    const auto serial = item.find("serialNumber");
    if (serial == item.end())
        return member("serialNumber", "is missing");
    if (!serial->is_string())
        return member("serialNumber", "is not a string");
    entry->serialNumber = serial->get<std::string>();
    if (entry->serialNumber.empty() || !lanproto::IsSingleSerial(entry->serialNumber) ||
        entry->serialNumber.size() > lanproto::SerialFieldSize)
        return member("serialNumber", "is not the serial number of one device (1 to 10 printable "
                                      "ASCII characters without '*')");
    const std::string where = " (" + entry->serialNumber + ")";
    if (!repeated.empty())
        return where + member(repeated, "is given twice");
    for (const auto& [key, value] : item.items()) {
        const std::string why =
            key == "serialNumber" ? std::string() : TakeMember(key, value, *entry);
        if (!why.empty())
            return where + member(key, why);
    }
    return std::string();
}

} // namespace

bool ConfigPlan::Load(const std::string& path, std::string* error) {
    BoundedFile file(MaxFileSize);
    switch (file.Read(path)) {
    case BoundedFile::ReadOk:
        return Parse(file.Text(), path, error);
    case BoundedFile::TooLarge:
        *error = path + ": larger than 16 MiB";
        return false;
    default:
        *error = path + ": not a readable file";
        return false;
    }
}

bool ConfigPlan::Parse(const std::string& text, const std::string& name, std::string* error) {
    entries.clear();
    PlanScan scan;
    json document;
    try {
        document = json::parse(text, [&scan](int depth, json::parse_event_t event, json& parsed) {
            return scan.Event(depth, event, parsed);
        });
    } catch (const json::exception& e) {
        std::string what = e.what();
        const size_t bracket = what.find("] ");
        if (bracket != std::string::npos)
            what = what.substr(bracket + 2);
        *error = name + ": not JSON: " + what;
        return false;
    }
    if (scan.tooDeep) {
        *error = name + ": nested deeper than " + std::to_string(MaxDepth) +
                 " levels; a plan is an array of flat device objects";
        return false;
    }
    if (document.is_object())
        document = json::array({document});
    if (!document.is_array()) {
        *error = name + ": expected an array of device objects";
        return false;
    }
    std::set<std::string> serials;
    for (size_t number = 1; number <= document.size(); ++number) {
        const auto twice = scan.repeated.find(number);
        PlanEntry entry;
        const std::string problem =
            ReadEntry(document[number - 1],
                      twice == scan.repeated.end() ? std::string() : twice->second, &entry);
        const std::string where = name + ": entry " + std::to_string(number);
        if (!problem.empty()) {
            *error = where + problem;
            entries.clear();
            return false;
        }
        if (!serials.insert(entry.serialNumber).second) {
            *error = where + " (" + entry.serialNumber +
                     "): \"serialNumber\" names a device that an earlier entry names too";
            entries.clear();
            return false;
        }
        entries.push_back(entry);
    }
    return true;
}
