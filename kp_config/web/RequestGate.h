#pragma once

#include "HttpMessage.h"

#include <string>

// What a request must show before the web server does any work for it, and what of the run's
// secret is removed before a script sees the request.
namespace RequestGate {

using Http::HeaderList;

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
// the secret, with the secret's cookie removed from every Cookie header (a header left empty is
// dropped), and with the secret's parameter removed from the Referer (which is dropped when it
// still holds the secret elsewhere).
HeaderList StripHeaders(const HeaderList& headers, const std::string& secret);

// False for a request whose body length is ambiguous: a Content-Length that is not a plain
// decimal number ("+3", "3, 5"), two different ones, or one beside a Transfer-Encoding. Peers may
// read such a request differently, so it is refused whole.
bool HasSoundFraming(const HeaderList& headers);

// The cookie that hands the secret to a browser, as the value of a Set-Cookie header: sent back
// only for addresses below "/<mount>/", so that no server on another port of this host (cookies
// do not tell ports apart) ever receives it from a browser that does not know the mount.
std::string CookieValue(const std::string& secret, const std::string& mount);

// Equal texts, compared in a time that does not depend on where they differ.
bool SameSecret(const std::string& a, const std::string& b);

} // namespace RequestGate
