#pragma once

#include "HttpMessage.h"

#include <atomic>
#include <map>
#include <string>

// Everything the web server does with a request, between the HTTP engine (which parses it and
// sends the answer) and the rules of the gate and the CGI gateway. In this order:
//   - Host: exactly one, naming this server (127.0.0.1 or localhost with its port);
//   - a body length that can be read only one way;
//   - the run's secret, in the header "Authorization: token <secret>", the cookie
//     "kp_config_token" or the query parameter "token";
//   - GET, HEAD or POST, and a POST from no other site (Origin);
//   - then the path: the web UI is served at "/" and, for a browser that keeps the secret as its
//     cookie, at "/<mount>/" as well. A request with the secret in its query is sent to the same
//     address below the mount without it, and gets the cookie, which a browser sends back only
//     below the mount (see RequestGate::CookieValue).
namespace RequestHandler {

using Http::Request;
using Http::Response;

// What the handler knows of the running server; fixed for a request.
struct Environment {
    std::string token;        // the run's secret
    std::string mount;        // the run's random path prefix, without slashes
    std::string documentRoot; // as configured; what scripts see
    std::string realRoot;     // without symbolic links; what requests are checked against
    std::string interpreter;  // runs every script; empty: none is run
    std::map<std::string, std::string> cgiVariables;
    const char* const* ownEnvironment = nullptr; // the server's own, for PATH and its kind
    int cgiTimeoutMs = 30000;
    const std::atomic<bool>* stopping = nullptr; // true: running scripts are ended
};

Response Handle(const Request& request, const Environment& environment);

} // namespace RequestHandler
