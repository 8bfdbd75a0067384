#include "PropertyMap.h"

#include "TextUtil.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

enum class Place { Section, Key, Value };

// The text of a name, key or value as it stands in the file; see the header for the rules.
std::string Escape(const std::string& s, Place place) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const bool atEnd = i == 0 || i + 1 == s.size();
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c < 0x20 || c == 0x7F || (c == ' ' && atEnd)) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else if ((place == Place::Key &&
                    (c == '=' || (i == 0 && (c == '[' || c == '#' || c == ';')))) ||
                   (place == Place::Section && c == ']')) {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
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

std::string Unescape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char n = s[++i];
        if (n == 'n')
            out += '\n';
        else if (n == 'r')
            out += '\r';
        else if (n == 't')
            out += '\t';
        else if (n == 'x' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 &&
                 HexDigit(s[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
            i += 2;
        } else
            out += n;
    }
    return out;
}

// The position of the first `stop` character that no backslash escapes, or npos.
size_t FindUnescaped(const std::string& s, char stop, size_t from) {
    for (size_t i = from; i < s.size(); ++i) {
        if (s[i] == '\\')
            ++i;
        else if (s[i] == stop)
            return i;
    }
    return std::string::npos;
}

} // namespace

PropertyMap::PropertyMap() {
    Clear();
}

void PropertyMap::Clear() {
    sections_.assign(1, Section{});
    keyIndex_.assign(1, {});
    sectionIndex_.clear();
    sectionIndex_.emplace("", 0);
    current_ = 0;
}

bool PropertyMap::SetCurrentSection(const std::string& name) {
    auto [it, added] = sectionIndex_.emplace(name, sections_.size());
    if (added) {
        sections_.push_back(Section{name, {}});
        keyIndex_.emplace_back();
    }
    current_ = it->second;
    return true;
}

void PropertyMap::SetStringValue(const std::string& key, const std::string& value) {
    auto& entries = sections_[current_].entries;
    auto [it, added] = keyIndex_[current_].emplace(key, entries.size());
    if (added)
        entries.emplace_back(key, value);
    else
        entries[it->second].second = value;
}

void PropertyMap::SetIntValue(const std::string& key, int value) {
    SetStringValue(key, std::to_string(value));
}

std::string PropertyMap::ToText() const {
    std::string text;
    for (size_t i = 0; i < sections_.size(); ++i) {
        const Section& section = sections_[i];
        if (i > 0) {
            if (!text.empty())
                text += '\n';
            text += '[' + Escape(section.name, Place::Section) + "]\n";
        }
        for (const auto& [key, value] : section.entries)
            text += Escape(key, Place::Key) + " = " + Escape(value, Place::Value) + '\n';
    }
    return text;
}

int PropertyMap::WriteToFile(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return -1;
    out << ToText();
    out.flush();
    return out ? 0 : -1;
}

bool PropertyMap::ReadFromText(const std::string& text) {
    Clear();
    bool ok = true;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string t = TrimText(text.substr(pos, end - pos));
        pos = end + 1;
        if (t.empty() || t[0] == '#' || t[0] == ';')
            continue;
        if (t[0] == '[') {
            size_t close = FindUnescaped(t, ']', 1);
            if (close != t.size() - 1) {
                ok = false;
                continue;
            }
            SetCurrentSection(Unescape(TrimText(t.substr(1, close - 1))));
            continue;
        }
        size_t eq = FindUnescaped(t, '=', 0);
        if (eq == std::string::npos) {
            ok = false;
            continue;
        }
        SetStringValue(Unescape(TrimText(t.substr(0, eq))), Unescape(TrimText(t.substr(eq + 1))));
    }
    current_ = 0;
    return ok;
}

bool PropertyMap::ReadFromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    return ReadFromText(text.str());
}

const std::string* PropertyMap::Find(const std::string& section, const std::string& key) const {
    auto s = sectionIndex_.find(section);
    if (s == sectionIndex_.end())
        return nullptr;
    auto k = keyIndex_[s->second].find(key);
    return k == keyIndex_[s->second].end() ? nullptr
                                           : &sections_[s->second].entries[k->second].second;
}

bool PropertyMap::HasValue(const std::string& section, const std::string& key) const {
    return Find(section, key) != nullptr;
}

std::string PropertyMap::GetStringValue(const std::string& section, const std::string& key,
                                        const std::string& fallback) const {
    const std::string* v = Find(section, key);
    return v ? *v : fallback;
}

int PropertyMap::GetIntValue(const std::string& section, const std::string& key,
                             int fallback) const {
    const std::string* v = Find(section, key);
    if (!v || v->empty())
        return fallback;
    errno = 0;
    char* end = nullptr;
    long n = std::strtol(v->c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || n < INT_MIN || n > INT_MAX)
        return fallback;
    return static_cast<int>(n);
}
