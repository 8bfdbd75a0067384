#include "JsonLines.h"

JsonObject JsonAddress(const std::string& text) {
    if (text.empty() || text == "n/a")
        return nullptr;
    return text;
}

std::string JsonLine(const JsonObject& value) {
    // ASCII only; a byte that is no UTF-8 becomes U+FFFD instead of ending the program.
    return value.dump(-1, ' ', true, nlohmann::ordered_json::error_handler_t::replace);
}

std::string JsonArrayLines(const std::vector<JsonObject>& elements) {
    if (elements.empty())
        return "[]\n";
    std::string text = "[\n";
    for (size_t i = 0; i < elements.size(); ++i)
        text += (i == 0 ? "" : ",\n") + JsonLine(elements[i]);
    return text + "\n]\n";
}
