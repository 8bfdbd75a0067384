#pragma once

#include <string>
#include <utility>
#include <vector>

// What a request must show before the web server does any work for it, and what of the run's
// secret is removed before a script sees the request. Free of the HTTP engine, so each rule is
// tested on its own.
namespace RequestGate {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// The cookie that carries the secret once a request has shown it in its query.
inline constexpr const char* kCookieName = "kp_config_token";

// True when `host` (the Host header) names this server: "127.0.0.1:<port>" or
// "localhost:<port>", the name in any case.
bool IsOwnHost(const std::string& host, int port);

// True when `origin` (an Origin header) is this server's own: "http://127.0.0.1:<port>" or
// "http://localhost:<port>".
bool IsOwnOrigin(const std::string& origin, int port);

// How a request showed the secret.
enum class Credential { None, Header, Cookie, Query };

// Header "Authorization: token <secret>" first, then the cookie, then "token=<secret>" in the
// query string. An empty secret admits nothing.
Credential FindCredential(const HeaderList& headers, const std::string& queryString,
                          const std::string& secret);

// The query string without its "token=<secret>" parameters.
std::string StripQuery(const std::string& queryString, const std::string& secret);

// The request headers as a script may see them: without an Authorization header that carries
// the secret, and with the secret's cookie removed from every Cookie header (a header left
// empty is dropped).
HeaderList StripHeaders(const HeaderList& headers, const std::string& secret);

// The header that hands the secret to a browser as its cookie, without the line end.
std::string CookieHeader(const std::string& secret);

// Equal texts, compared in a time that does not depend on where they differ.
bool SameSecret(const std::string& a, const std::string& b);

} // namespace RequestGate
