#include "PropertyMap.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string Trim(const std::string& s) {
    const char* ws = " \t\r";
    size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

std::string Escape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string Unescape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char n = s[++i];
            out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            out += s[i];
        }
    }
    return out;
}

} // namespace

PropertyMap::PropertyMap() : sections_(1) {}

bool PropertyMap::SetCurrentSection(const std::string& name) {
    for (size_t i = 0; i < sections_.size(); ++i) {
        if (sections_[i].name == name) {
            current_ = i;
            return true;
        }
    }
    sections_.push_back(Section{name, {}});
    current_ = sections_.size() - 1;
    return true;
}

void PropertyMap::SetStringValue(const std::string& key, const std::string& value) {
    auto& entries = sections_[current_].entries;
    for (auto& entry : entries) {
        if (entry.first == key) {
            entry.second = value;
            return;
        }
    }
    entries.emplace_back(key, value);
}

void PropertyMap::SetIntValue(const std::string& key, int value) {
    SetStringValue(key, std::to_string(value));
}

std::string PropertyMap::ToText() const {
    std::string text;
    for (const auto& section : sections_) {
        if (!section.name.empty()) {
            if (!text.empty())
                text += '\n';
            text += '[' + section.name + "]\n";
        }
        for (const auto& [key, value] : section.entries)
            text += key + " = " + Escape(value) + '\n';
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
    sections_.assign(1, Section{});
    current_ = 0;
    std::istringstream in(text);
    std::string line;
    bool ok = true;
    while (std::getline(in, line)) {
        std::string t = Trim(line);
        if (t.empty() || t[0] == '#' || t[0] == ';')
            continue;
        if (t.front() == '[' && t.back() == ']') {
            SetCurrentSection(Trim(t.substr(1, t.size() - 2)));
            continue;
        }
        size_t eq = t.find('=');
        if (eq == std::string::npos || eq == 0) {
            ok = false;
            continue;
        }
        SetStringValue(Trim(t.substr(0, eq)), Unescape(Trim(t.substr(eq + 1))));
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
    for (const auto& s : sections_) {
        if (s.name != section)
            continue;
        for (const auto& entry : s.entries)
            if (entry.first == key)
                return &entry.second;
    }
    return nullptr;
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
