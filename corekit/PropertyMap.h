#pragma once

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// A sectioned key/value file. Keys set before the first SetCurrentSection land in the leading
// (unnamed) section. Order of sections and keys is kept as they were first set.
//
// File syntax, one item per line:
//   [Section Name]
//   Key Name = value
// Blank lines and lines starting with '#' or ';' are ignored when reading, and blanks around
// names, keys and values are not part of them. Every string comes back as it was written: a
// backslash is written as \\, a line break as \n or \r, a tab as \t, any other control byte
// and a space at either end as \xHH; '=' in a key, ']' in a section name, and '[', '#' or ';'
// at the start of a key are preceded by a backslash. A backslash before any other character
// stands for that character.
class PropertyMap {
public:
    struct Section {
        std::string name; // empty for the leading section
        std::vector<std::pair<std::string, std::string>> entries;
    };

    PropertyMap();

    // Makes name the section that later Set calls write to, creating it when new.
    bool SetCurrentSection(const std::string& name);
    void SetStringValue(const std::string& key, const std::string& value);
    void SetIntValue(const std::string& key, int value);

    // Returns 0 on success, -1 when the file could not be written.
    int WriteToFile(const std::string& path) const;

    // Reader side. ReadFromFile replaces the map's content; false when the file cannot be read or
    // holds a line that is neither a section, a key/value pair, a comment nor blank.
    bool ReadFromFile(const std::string& path);
    bool ReadFromText(const std::string& text);
    std::string ToText() const;

    bool HasValue(const std::string& section, const std::string& key) const;
    std::string GetStringValue(const std::string& section, const std::string& key,
                               const std::string& fallback = "") const;
    int GetIntValue(const std::string& section, const std::string& key, int fallback = 0) const;

    const std::vector<Section>& Sections() const { return sections_; }

private:
    const std::string* Find(const std::string& section, const std::string& key) const;

    void Clear();

    std::vector<Section> sections_;
    size_t current_ = 0;
    // Where each name is, so that setting and reading stay linear in the number of keys.
    std::unordered_map<std::string, size_t> sectionIndex_;
    std::vector<std::unordered_map<std::string, size_t>> keyIndex_; // per section
};
