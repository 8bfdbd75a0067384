#include "RequestGate.h"

#include <cctype>
#include <strings.h>

namespace RequestGate {

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return std::string();
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

// Percent-decoding of one query parameter value ('+' is a space); a broken escape is kept as
// it stands.
std::string Decode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t pos = 0;
    for (;;) {
        size_t end = text.find(separator, pos);
        parts.push_back(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        if (end == std::string::npos)
            return parts;
        pos = end + 1;
    }
}

bool IsSecretParameter(const std::string& parameter, const std::string& secret) {
    return parameter.compare(0, 6, "token=") == 0 &&
           SameSecret(Decode(parameter.substr(6)), secret);
}

bool IsSecretAuthorization(const std::string& value, const std::string& secret) {
    const std::string v = Trim(value);
    return v.size() > 6 && strncasecmp(v.c_str(), "token ", 6) == 0 &&
           SameSecret(Trim(v.substr(6)), secret);
}

// The pairs of a Cookie header, each trimmed.
std::vector<std::string> CookiePairs(const std::string& value) {
    std::vector<std::string> pairs;
    for (const std::string& part : Split(value, ';')) {
        std::string pair = Trim(part);
        if (!pair.empty())
            pairs.push_back(pair);
    }
    return pairs;
}

bool IsSecretCookieName(const std::string& pair) {
    size_t eq = pair.find('=');
    return Trim(pair.substr(0, eq)) == kCookieName;
}

bool IsSecretCookie(const std::string& pair, const std::string& secret) {
    size_t eq = pair.find('=');
    return eq != std::string::npos && IsSecretCookieName(pair) &&
           SameSecret(Trim(pair.substr(eq + 1)), secret);
}

} // namespace

bool IsOwnHost(const std::string& host, int port) {
    const std::string h = Lower(Trim(host));
    const std::string suffix = ":" + std::to_string(port);
    return port > 0 && (h == "127.0.0.1" + suffix || h == "localhost" + suffix);
}

bool IsOwnOrigin(const std::string& origin, int port) {
    const std::string o = Lower(Trim(origin));
    const std::string suffix = ":" + std::to_string(port);
    return port > 0 && (o == "http://127.0.0.1" + suffix || o == "http://localhost" + suffix);
}

Credential FindCredential(const HeaderList& headers, const std::string& queryString,
                          const std::string& secret) {
    if (secret.empty())
        return Credential::None;
    for (const auto& [name, value] : headers)
        if (strcasecmp(name.c_str(), "Authorization") == 0 && IsSecretAuthorization(value, secret))
            return Credential::Header;
    for (const auto& [name, value] : headers)
        if (strcasecmp(name.c_str(), "Cookie") == 0)
            for (const std::string& pair : CookiePairs(value))
                if (IsSecretCookie(pair, secret))
                    return Credential::Cookie;
    for (const std::string& parameter : Split(queryString, '&'))
        if (IsSecretParameter(parameter, secret))
            return Credential::Query;
    return Credential::None;
}

std::string StripQuery(const std::string& queryString, const std::string& secret) {
    std::string out;
    bool first = true;
    for (const std::string& parameter : Split(queryString, '&')) {
        if (!secret.empty() && IsSecretParameter(parameter, secret))
            continue;
        out += (first ? "" : "&") + parameter;
        first = false;
    }
    return out;
}

// A Referer without the secret's parameter in its query; empty when the secret is still in it.
std::string StripReferer(const std::string& referer, const std::string& secret) {
    const size_t question = referer.find('?');
    std::string out = referer;
    if (question != std::string::npos) {
        const std::string query = StripQuery(referer.substr(question + 1), secret);
        out = referer.substr(0, question) + (query.empty() ? "" : "?" + query);
    }
    return secret.empty() || out.find(secret) == std::string::npos ? out : std::string();
}

HeaderList StripHeaders(const HeaderList& headers, const std::string& secret) {
    HeaderList out;
    for (const auto& [name, value] : headers) {
        if (strcasecmp(name.c_str(), "Referer") == 0) {
            const std::string referer = StripReferer(value, secret);
            if (!referer.empty())
                out.emplace_back(name, referer);
        } else if (strcasecmp(name.c_str(), "Authorization") == 0) {
            if (secret.empty() || !IsSecretAuthorization(value, secret))
                out.emplace_back(name, value);
        } else if (strcasecmp(name.c_str(), "Cookie") == 0) {
            // Every cookie of the secret's name goes, whatever its value: it is this server's.
            std::string kept;
            for (const std::string& pair : CookiePairs(value))
                if (!IsSecretCookieName(pair))
                    kept += (kept.empty() ? "" : "; ") + pair;
            if (!kept.empty())
                out.emplace_back(name, kept);
        } else {
            out.emplace_back(name, value);
        }
    }
    return out;
}

bool HasSoundFraming(const HeaderList& headers) {
    std::string length; // the first Content-Length, or empty
    bool coded = false;
    for (const auto& [name, value] : headers) {
        if (strcasecmp(name.c_str(), "Transfer-Encoding") == 0)
            coded = true;
        if (strcasecmp(name.c_str(), "Content-Length") != 0)
            continue;
        const std::string digits = Trim(value);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ||
            (!length.empty() && length != digits))
            return false;
        length = digits;
    }
    return length.empty() || !coded;
}

std::string CookieValue(const std::string& secret, const std::string& mount) {
    return std::string(kCookieName) + "=" + secret + "; HttpOnly; SameSite=Strict; Path=/" +
           mount + "/";
}

bool SameSecret(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace RequestGate
