#pragma once

#include "HttpMessage.h"

#include <atomic>
#include <map>
#include <string>
#include <utility>
#include <vector>

// The host's CGI gateway: where a request path leads inside the document root, the
// environment of a CGI script, and one run of a script. Free of the HTTP engine; RequestHandler
// uses it, and its tests drive it without a socket.
namespace CgiGateway {

using Http::HeaderList;

enum class PathKind {
    BadRequest, // not an absolute path
    Forbidden,  // ".." segment, a link that leads out of the root, or not a file or directory
    NotFound,
    File,      // a static file (a directory's index file too)
    Directory, // a directory without an index file: its listing
    AddSlash,  // a directory named without its trailing slash
    Script     // a CGI script to run
};

struct ResolvedPath {
    PathKind kind = PathKind::NotFound;
    std::string file;       // real path of the file, directory or script
    std::string scriptName; // a script's URI path, e.g. "/config/devconfig.cgi"
    std::string pathInfo;   // the rest of the URI path after the script, or empty
};

// True for the extensions that make a file a CGI script: cgi, pl and php.
bool IsScriptName(const std::string& fileName);

// Decides what the URL-decoded request path `uriPath` names below `realRoot` (a path without
// symbolic links, as realpath gives it). Nothing outside `realRoot` is ever named: ".." in
// the path is refused, and symbolic links are followed and checked.
ResolvedPath ResolveRequestPath(const std::string& realRoot, const std::string& uriPath);

// What a script is told of its request: the secret of the run already taken out.
struct ScriptRequest {
    std::string method;      // "GET", "POST", ...
    std::string httpVersion; // "1.1"
    std::string uri;         // request URI without the query string
    std::string queryString; // empty when none was given
    bool hasQueryString = false;
    std::string remoteAddr;
    int remotePort = 0;
    int serverPort = 0;
    HeaderList headers;
    std::string body;
};

// The complete environment of a script, as "NAME=value" entries: the CGI/1.1 variables, PATH,
// COMSPEC, SYSTEMROOT and PERLLIB of `ownEnvironment` when set there, `hostVariables`
// (values whole, commas included) and one HTTP_ variable per request header. A name that
// appears twice keeps its first value, so neither the host's variables nor headers can
// replace a CGI variable.
std::vector<std::string> BuildEnvironment(const ScriptRequest& request, const ResolvedPath& script,
                                          const std::string& documentRoot,
                                          const std::map<std::string, std::string>& hostVariables,
                                          const char* const* ownEnvironment);

// Splits a script's output into its CGI header block and body: the status and reason of its
// Status header (302 for a Location header alone), its other headers and the body. False when
// the output has no complete, well-formed header block.
bool ParseScriptOutput(const std::string& output, Http::Response& response);

enum class RunResult { Ok, StartFailed, TimedOut, Stopped, TooLarge };

struct RunOutcome {
    RunResult result = RunResult::StartFailed;
    std::string output;      // standard output of the script
    std::string errorOutput; // the start of its standard error
    int exitStatus = -1;     // as waitpid reports it
};

// Runs `interpreter` with the script's file name as its only argument, in the script's
// directory, with `environment` as its whole environment and `stdinData` on standard input.
// The script runs in a process group of its own; at `timeoutMs`, or when `stopFlag` becomes
// true, the group is killed. The child is always reaped before this returns.
RunOutcome RunScript(const std::string& interpreter, const std::string& scriptFile,
                     const std::vector<std::string>& environment, const std::string& stdinData,
                     int timeoutMs, const std::atomic<bool>& stopFlag);

} // namespace CgiGateway
