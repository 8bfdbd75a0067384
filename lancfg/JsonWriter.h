#pragma once

#include <string>

// Builds one JSON object on one line, members in the order they are added. Every string is
// escaped, so that bytes from the network cannot break the document.
class JsonWriter {
public:
    void String(const char* name, const std::string& value);
    void Bool(const char* name, bool value);
    void Null(const char* name);
    // An address text, or null when it is not known (empty or "n/a").
    void Address(const char* name, const std::string& text);
    std::string Object() const { return "{" + members_ + "}"; }

private:
    void Name(const char* name);
    std::string members_;
};

// text as a JSON string: quotes and backslashes escaped, every byte outside printable ASCII
// written as \u00hh.
std::string JsonQuote(const std::string& text);
