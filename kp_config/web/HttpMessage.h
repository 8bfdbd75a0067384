#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

// One request and its answer as the web server's handler sees them: plain data, free of the
// HTTP engine, so that every rule is tested without a socket.
namespace Http {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

enum class BodyRead { Complete, Incomplete, TooLarge };

struct Request {
    std::string method;      // "GET", "POST", ...
    std::string httpVersion; // "1.1"
    std::string path;        // URL-decoded path of the target, without the query
    std::string queryString; // as sent, not decoded
    bool hasQueryString = false;
    std::string remoteAddr;
    int remotePort = 0;
    int serverPort = 0;
    HeaderList headers; // in the order sent, repeated names kept
    // Reads the whole body into its argument; empty for a request without one. The handler calls
    // it only for a request it admits, at most once.
    std::function<BodyRead(std::string&)> readBody;
};

struct Response {
    int status = 200;
    std::string reason; // empty: the usual text for the status
    HeaderList headers; // the answer's own; the host adds the protective ones to every answer
    std::string body;
    // A file to send as the body instead (its type, length and ranges are the engine's).
    std::string file;
    // The request's body was left unread: the connection ends with this answer.
    bool closeConnection = false;
};

// The value of the first header of that name (any case), or null.
const std::string* FindHeader(const HeaderList& headers, const std::string& name);
// How many headers of that name (any case) there are.
size_t CountHeaders(const HeaderList& headers, const std::string& name);

} // namespace Http
