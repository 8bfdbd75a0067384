#include "JsonWriter.h"

std::string JsonQuote(const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    std::string quoted = "\"";
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (b >= 0x20 && b < 0x7F) {
            quoted += c;
        } else {
            quoted += "\\u00";
            quoted += hex[b >> 4];
            quoted += hex[b & 0x0F];
        }
    }
    return quoted + "\"";
}

void JsonWriter::Name(const char* name) {
    if (!members_.empty())
        members_ += ',';
    members_ += JsonQuote(name) + ':';
}

void JsonWriter::String(const char* name, const std::string& value) {
    Name(name);
    members_ += JsonQuote(value);
}

void JsonWriter::Bool(const char* name, bool value) {
    Name(name);
    members_ += value ? "true" : "false";
}

void JsonWriter::Null(const char* name) {
    Name(name);
    members_ += "null";
}

void JsonWriter::Address(const char* name, const std::string& text) {
    if (text.empty() || text == "n/a")
        Null(name);
    else
        String(name, text);
}
