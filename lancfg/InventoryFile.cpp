#include "InventoryFile.h"

#include "Inventory.h"
#include "JsonLines.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <iterator>
#include <string>
#include <unordered_map>

namespace {

using Json = nlohmann::json;

// The members of an entry, each one bit.
enum Member : unsigned {
    Serial = 1,
    Address = 2,
    Network = 4,
    Version = 8,
    State = 16,
    FirstSeen = 32,
    LastSeen = 64,
    AllMembers = 127,
};

// Builds the entries straight from the parser's events: {"devices": [{...}, ...]}, anything
// else around them passed over.
class EntryReader : public nlohmann::json_sax<Json> {
public:
    explicit EntryReader(std::vector<InventoryEntry>* entries) : entries_(entries) {}

    bool null() override { return Scalar(); }
    bool boolean(bool) override { return Scalar(); }
    bool number_integer(number_integer_t) override { return Scalar(); }
    bool number_unsigned(number_unsigned_t) override { return Scalar(); }
    bool number_float(number_float_t, const string_t&) override { return Scalar(); }
    bool binary(binary_t&) override { return Scalar(); }

    bool string(string_t& value) override {
        if (skip_ > 0 || level_ != InEntry || member_ == 0)
            return Scalar();
        seen_ |= member_;
        switch (member_) {
        case Serial:
            entry_.serialNumber = std::move(value);
            break;
        case Address:
            entry_.address = std::move(value);
            break;
        case Network:
            entry_.network = std::move(value);
            break;
        case Version:
            entry_.version = std::move(value);
            break;
        case State:
            entry_.state = std::move(value);
            break;
        default:
            return Time(value, member_ == FirstSeen ? &entry_.firstSeen : &entry_.lastSeen);
        }
        member_ = 0;
        return true;
    }

    bool key(string_t& name) override {
        if (skip_ > 0)
            return true;
        if (level_ == InTop) {
            devicesNext_ = name == "devices";
            return true;
        }
        static const std::unordered_map<std::string, Member> members = {
            {"serialNumber", Serial}, {"address", Address},     {"network", Network},
            {"version", Version},     {"state", State},         {"firstSeen", FirstSeen},
            {"lastSeen", LastSeen}};
        const auto found = members.find(name);
        member_ = found == members.end() ? 0u : static_cast<unsigned>(found->second);
        return true;
    }

    bool start_object(std::size_t) override {
        if (skip_ > 0 || (level_ == InTop && !devicesNext_) || (level_ == InEntry)) {
            if (level_ == InEntry && member_ != 0)
                return Fail(); // a member that must be text
            ++skip_;
            return true;
        }
        if (level_ == Outside) {
            level_ = InTop;
            return true;
        }
        if (level_ == InDevices) {
            level_ = InEntry;
            entry_ = InventoryEntry();
            seen_ = 0;
            member_ = 0;
            return true;
        }
        return Fail(); // "devices" that is an object
    }

    bool end_object() override {
        if (skip_ > 0) {
            --skip_;
            return true;
        }
        if (level_ == InEntry) {
            if (seen_ != AllMembers || entry_.serialNumber.empty())
                return Fail();
            entries_->push_back(std::move(entry_));
            level_ = InDevices;
            return true;
        }
        level_ = Done;
        return true;
    }

    bool start_array(std::size_t) override {
        if (skip_ == 0 && level_ == InTop && devicesNext_) {
            level_ = InDevices;
            sawDevices_ = true;
            return true;
        }
        if (skip_ == 0 && (level_ == Outside || level_ == InDevices ||
                           (level_ == InEntry && member_ != 0)))
            return Fail();
        ++skip_;
        return true;
    }

    bool end_array() override {
        if (skip_ > 0) {
            --skip_;
            return true;
        }
        level_ = InTop;
        devicesNext_ = false;
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        notJson_ = true;
        return false;
    }

    bool NotJson() const { return notJson_; }
    bool Complete() const { return level_ == Done && sawDevices_; }
    // The entry that was not a device (counted from 1), or 0.
    size_t BadEntry() const { return badEntry_; }

private:
    enum Level { Outside, InTop, InDevices, InEntry, Done };

    // A value that is not text: passed over outside an entry's members, refused for them.
    bool Scalar() {
        if (skip_ > 0)
            return true;
        if (level_ == Outside || level_ == InDevices || (level_ == InEntry && member_ != 0) ||
            (level_ == InTop && devicesNext_))
            return Fail();
        return true;
    }

    bool Time(const std::string& text, int64_t* seconds) {
        // Most entries of a file share a few times: each is read once.
        const auto known = times_.find(text);
        if (known != times_.end()) {
            *seconds = known->second;
        } else if (ParseIsoTime(text, seconds)) {
            times_.emplace(text, *seconds);
        } else {
            return Fail();
        }
        member_ = 0;
        return true;
    }

    bool Fail() {
        if (level_ == InEntry || level_ == InDevices)
            badEntry_ = entries_->size() + 1;
        return false;
    }

    std::vector<InventoryEntry>* entries_;
    InventoryEntry entry_;
    Level level_ = Outside;
    unsigned member_ = 0, seen_ = 0;
    int skip_ = 0;
    bool devicesNext_ = false, sawDevices_ = false, notJson_ = false;
    size_t badEntry_ = 0;
    std::unordered_map<std::string, int64_t> times_;
};

bool IsPlain(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F ||
            c == '"' || c == '\\')
            return false;
    return true;
}

// A JSON string: plain ASCII as it stands, anything else through the JSON library's escaping.
void AppendString(std::string& out, const std::string& text) {
    if (IsPlain(text)) {
        out += '"';
        out += text;
        out += '"';
    } else {
        out += JsonLine(JsonObject(text));
    }
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

// The members in the order Text writes them, each with what stands before its value.
constexpr const char* kWritten[] = {"{\"serialNumber\":", ",\"address\":",  ",\"network\":",
                                    ",\"version\":",      ",\"state\":",    ",\"firstSeen\":",
                                    ",\"lastSeen\":"};
constexpr const char kHead[] = "{\"devices\": [\n";
constexpr const char kTail[] = "]}\n";

// The file as Text writes it, with no escape in any value: read without the JSON parser, which
// takes several times as long. False on the first difference; the parser then reads the file.
bool ParseWritten(const std::string& text, std::vector<InventoryEntry>* entries) {
    const size_t head = sizeof kHead - 1, tail = sizeof kTail - 1;
    if (text.size() < head + tail || text.compare(0, head, kHead) != 0 ||
        text.compare(text.size() - tail, tail, kTail) != 0)
        return false;
    std::unordered_map<std::string, int64_t> times;
    size_t at = head;
    const size_t end = text.size() - tail;
    while (at < end) {
        InventoryEntry e;
        std::string* texts[] = {&e.serialNumber, &e.address, &e.network, &e.version, &e.state};
        std::string timeTexts[2];
        for (size_t m = 0; m < std::size(kWritten); ++m) {
            const size_t length = std::char_traits<char>::length(kWritten[m]);
            if (text.compare(at, length, kWritten[m]) != 0 || at + length >= end ||
                text[at + length] != '"')
                return false;
            const size_t from = at + length + 1, to = text.find('"', from);
            if (to == std::string::npos || to >= end ||
                std::find(text.begin() + from, text.begin() + to, '\\') != text.begin() + to)
                return false;
            (m < 5 ? *texts[m] : timeTexts[m - 5]).assign(text, from, to - from);
            at = to + 1;
        }
        for (int t = 0; t < 2; ++t) {
            int64_t* seconds = t == 0 ? &e.firstSeen : &e.lastSeen;
            const auto known = times.find(timeTexts[t]);
            if (known != times.end())
                *seconds = known->second;
            else if (ParseIsoTime(timeTexts[t], seconds))
                times.emplace(timeTexts[t], *seconds);
            else
                return false;
        }
        if (e.serialNumber.empty())
            return false;
        if (text.compare(at, 3, "},\n") == 0)
            at += 3;
        else if (text.compare(at, 2, "}\n") == 0 && at + 2 == end)
            at += 2;
        else
            return false;
        entries->push_back(std::move(e));
    }
    return true;
}

} // namespace

std::string IsoTime(int64_t seconds) {
    int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int64_t y = 0;
    unsigned m = 0, d = 0;
    CivilFromDays(days, &y, &m, &d);
    if (y < 0 || y > 9999)
        return std::string();
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(y), m, d,
                  static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                  static_cast<int>(rest % 60));
    return text;
}

bool ParseIsoTime(const std::string& text, int64_t* seconds) {
    // YYYY-MM-DDTHH:MM:SSZ, every digit where it belongs.
    static const char shape[] = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != sizeof shape - 1)
        return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (shape[i] == 'd' ? text[i] < '0' || text[i] > '9' : text[i] != shape[i])
            return false;
    auto number = [&text](size_t at, size_t digits) {
        unsigned n = 0;
        for (size_t i = at; i < at + digits; ++i)
            n = n * 10 + static_cast<unsigned>(text[i] - '0');
        return n;
    };
    const unsigned y = number(0, 4), m = number(5, 2), d = number(8, 2);
    const unsigned hh = number(11, 2), mm = number(14, 2), ss = number(17, 2);
    static const unsigned monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (m < 1 || m > 12 || d < 1 || d > monthDays[m - 1] || (m == 2 && d == 29 && !leap) ||
        hh > 23 || mm > 59 || ss > 59)
        return false;
    *seconds = DaysFromCivil(y, m, d) * 86400 + hh * 3600 + mm * 60 + ss;
    return true;
}

bool InventoryFile::Parse(const std::string& text, std::vector<InventoryEntry>* entries,
                          std::string* why) {
    if (ParseWritten(text, entries))
        return true;
    entries->clear();
    EntryReader reader(entries);
    const bool parsed = Json::sax_parse(text, &reader);
    if (parsed && reader.Complete())
        return true;
    if (reader.NotJson())
        *why = "it is not JSON";
    else if (reader.BadEntry() > 0)
        *why = "entry " + std::to_string(reader.BadEntry()) + " is not a device";
    else
        *why = "it holds no list of devices";
    entries->clear();
    return false;
}

std::string InventoryFile::Text(const std::vector<InventoryEntry>& entries) {
    std::unordered_map<int64_t, std::string> times;
    auto time = [&times](int64_t seconds) -> const std::string& {
        auto found = times.find(seconds);
        if (found == times.end())
            found = times.emplace(seconds, IsoTime(seconds)).first;
        return found->second;
    };
    std::string text = kHead;
    text.reserve(entries.size() * 180 + 32);
    for (size_t i = 0; i < entries.size(); ++i) {
        const InventoryEntry& e = entries[i];
        const std::string* values[] = {&e.serialNumber,    &e.address,        &e.network,
                                       &e.version,         &e.state,          &time(e.firstSeen),
                                       &time(e.lastSeen)};
        for (size_t m = 0; m < std::size(kWritten); ++m) {
            text += kWritten[m];
            AppendString(text, *values[m]);
        }
        text += i + 1 < entries.size() ? "},\n" : "}\n";
    }
    return text + kTail;
}
