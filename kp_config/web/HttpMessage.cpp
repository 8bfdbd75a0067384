#include "HttpMessage.h"

#include <strings.h>

namespace Http {

const std::string* FindHeader(const HeaderList& headers, const std::string& name) {
    for (const auto& [key, value] : headers)
        if (strcasecmp(key.c_str(), name.c_str()) == 0)
            return &value;
    return nullptr;
}

size_t CountHeaders(const HeaderList& headers, const std::string& name) {
    size_t count = 0;
    for (const auto& header : headers)
        count += strcasecmp(header.first.c_str(), name.c_str()) == 0;
    return count;
}

} // namespace Http
