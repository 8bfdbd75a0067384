#include "RequestHandler.h"

#include "CgiGateway.h"
#include "RequestGate.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <strings.h>
#include <vector>

namespace RequestHandler {

namespace {

using namespace CgiGateway;

std::string HtmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// A decoded path as it may stand in a Location or a link: every byte but the unreserved ones and
// "/" percent-encoded.
std::string EncodePath(const std::string& path) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

Response Page(int status, const std::string& html) {
    Response r;
    r.status = status;
    r.headers = {{"Content-Type", "text/html; charset=utf-8"}, {"Cache-Control", "no-store"}};
    r.body = html;
    return r;
}

// The German error page, readable in the embedded browser.
Response Error(int status, const std::string& text, const std::string& detail = "") {
    std::string body = "<!DOCTYPE html>\n<html lang=\"de\"><head><meta charset=\"utf-8\">"
                       "<title>Fehler " +
                       std::to_string(status) +
                       "</title></head><body>"
                       "<h1>Fehler " +
                       std::to_string(status) + "</h1><p>" + HtmlEscape(text) + "</p>";
    if (!detail.empty())
        body += "<pre>" + HtmlEscape(detail) + "</pre>";
    body += "</body></html>\n";
    return Page(status, body);
}

// An error after which the request's unread body must not be read as a next request.
Response Refusal(int status, const std::string& text) {
    Response r = Error(status, text);
    r.closeConnection = true;
    return r;
}

Response Redirect(int status, const std::string& location) {
    Response r;
    r.status = status;
    r.headers = {{"Location", location}, {"Cache-Control", "no-store"}};
    return r;
}

// The directory's entries, each a link relative to the directory, so the listing works at the
// root and below the mount alike.
Response Listing(const std::string& directory, const std::string& shownPath, bool atTop) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(directory.c_str())) {
        while (dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..")
                continue;
            struct stat st {};
            const bool isDir = ::stat((directory + "/" + name).c_str(), &st) == 0 &&
                               S_ISDIR(st.st_mode);
            names.push_back(isDir ? name + "/" : name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    if (!atTop)
        names.insert(names.begin(), "../");
    std::string body = "<!DOCTYPE html>\n<html lang=\"de\"><head><meta charset=\"utf-8\">"
                       "<title>Inhalt von " +
                       HtmlEscape(shownPath) + "</title></head><body><h1>Inhalt von " +
                       HtmlEscape(shownPath) + "</h1><ul>\n";
    for (const std::string& name : names)
        body += "<li><a href=\"" + EncodePath(name) + "\">" + HtmlEscape(name) + "</a></li>\n";
    body += "</ul></body></html>\n";
    return Page(200, body);
}

// A script's answer as the client gets it; below the mount, the script's own absolute
// addresses stay below it.
Response ScriptAnswer(const Response& parsed, const std::string& mountPath) {
    Response r = parsed;
    r.headers.clear();
    for (const auto& [name, value] : parsed.headers) {
        if (strcasecmp(name.c_str(), "Connection") == 0 ||
            strcasecmp(name.c_str(), "Content-Length") == 0 ||
            strcasecmp(name.c_str(), "Transfer-Encoding") == 0)
            continue; // the host frames the answer itself
        const bool ownAddress = strcasecmp(name.c_str(), "Location") == 0 &&
                                value.starts_with('/') && !value.starts_with("//");
        r.headers.emplace_back(name, ownAddress ? mountPath + value : value);
    }
    return r;
}

Response RunCgi(const Request& request, const Environment& env, ResolvedPath script,
                const std::string& mountPath, const std::string& query) {
    ScriptRequest cgi;
    cgi.method = request.method;
    cgi.httpVersion = request.httpVersion.empty() ? "1.0" : request.httpVersion;
    cgi.uri = request.path;
    // The secret stays with the server: a script sees neither its parameter, nor its cookie,
    // nor its Authorization header, nor a Referer that holds it.
    cgi.hasQueryString = request.hasQueryString;
    cgi.queryString = query;
    cgi.remoteAddr = request.remoteAddr;
    cgi.remotePort = request.remotePort;
    cgi.serverPort = request.serverPort;
    cgi.headers = RequestGate::StripHeaders(request.headers, env.token);
    switch (request.readBody ? request.readBody(cgi.body) : Http::BodyRead::Complete) {
    case Http::BodyRead::Complete:
        break;
    case Http::BodyRead::TooLarge:
        return Refusal(413, "Die Anfrage ist zu groß.");
    case Http::BodyRead::Incomplete:
        // A script never runs on a part of its input.
        return Refusal(400, "Die Anfrage ist unvollständig oder kam nicht rechtzeitig an.");
    }
    if (env.interpreter.empty())
        return Error(500, "Für CGI-Skripte ist kein Interpreter eingestellt.");

    script.scriptName = mountPath + script.scriptName;
    const std::vector<std::string> environment =
        BuildEnvironment(cgi, script, env.documentRoot, env.cgiVariables, env.ownEnvironment);
    static const std::atomic<bool> never{false};
    const RunOutcome outcome = RunScript(env.interpreter, script.file, environment, cgi.body,
                                         env.cgiTimeoutMs, env.stopping ? *env.stopping : never);
    switch (outcome.result) {
    case RunResult::Ok:
        break;
    case RunResult::StartFailed:
        return Error(500, "Das CGI-Skript konnte nicht gestartet werden.");
    case RunResult::TimedOut:
        return Error(504, "Das CGI-Skript hat nicht rechtzeitig geantwortet.", outcome.errorOutput);
    case RunResult::Stopped:
        return Error(503, "Der Webserver wird beendet.");
    case RunResult::TooLarge:
        return Error(502, "Die Antwort des CGI-Skripts ist zu groß.");
    }
    Response parsed;
    if (!ParseScriptOutput(outcome.output, parsed))
        return Error(502, "Das CGI-Skript hat keine gültige Antwort geliefert.",
                     outcome.errorOutput);
    return ScriptAnswer(parsed, mountPath);
}

// The path below the mount ("/<mount>/x" gives "/x", "/<mount>" gives ""); false when the path is
// not below it.
bool Unmount(const std::string& path, const std::string& mount, std::string& inner) {
    const std::string top = "/" + mount;
    if (mount.empty() || !path.starts_with(top) ||
        (path.size() > top.size() && path[top.size()] != '/'))
        return false;
    inner = path.substr(top.size());
    return true;
}

} // namespace

Response Handle(const Request& request, const Environment& env) {
    // A page of another site that reaches the port through a name of its own (DNS rebinding)
    // is turned away before anything else happens; a second Host could be read by another
    // party as the one that counts.
    if (Http::CountHeaders(request.headers, "Host") > 1)
        return Refusal(400, "Ungültige Anfrage.");
    const std::string* host = Http::FindHeader(request.headers, "Host");
    if (!host || !RequestGate::IsOwnHost(*host, request.serverPort))
        return Error(403, "Diese Adresse ist nicht die des Konfigurators.");
    if (!RequestGate::HasSoundFraming(request.headers))
        return Refusal(400, "Ungültige Anfrage.");
    if (RequestGate::FindCredential(request.headers, request.queryString, env.token) ==
        RequestGate::Credential::None)
        return Error(403, "Zugriff verweigert: Diese Oberfläche steht nur dem "
                          "Velantrix Konfigurator zur Verfügung.");
    const std::string& method = request.method;
    if (method != "GET" && method != "HEAD" && method != "POST") {
        Response r = Error(405, "Diese Anfrageart wird nicht unterstützt.");
        r.headers.emplace_back("Allow", "GET, HEAD, POST");
        return r;
    }
    const std::string* origin = Http::FindHeader(request.headers, "Origin");
    if (method == "POST" && origin && !RequestGate::IsOwnOrigin(*origin, request.serverPort))
        return Error(403, "Anfragen anderer Seiten werden nicht angenommen.");

    std::string inner = request.path;
    const bool mounted = Unmount(request.path, env.mount, inner);
    const std::string mountPath = mounted ? "/" + env.mount : "";
    const std::string query = RequestGate::StripQuery(request.queryString, env.token);
    const std::string queryPart = query.empty() ? "" : "?" + query;
    ResolvedPath path;
    if (mounted && inner.empty())
        path.kind = PathKind::AddSlash; // the mount itself, named without its slash
    else
        path = ResolveRequestPath(env.realRoot, inner);
    // The secret in the address: the browser gets it as its cookie, and the same page without
    // it, below the mount (a POST keeps its body through 307).
    if (query != request.queryString) {
        Response r = Redirect(method == "POST" ? 307 : 302,
                              "/" + env.mount + EncodePath(inner) +
                                  (path.kind == PathKind::AddSlash ? "/" : "") + queryPart);
        r.headers.emplace_back("Set-Cookie", RequestGate::CookieValue(env.token, env.mount));
        r.closeConnection = method == "POST";
        return r;
    }
    switch (path.kind) {
    case PathKind::BadRequest:
        return Error(400, "Ungültige Anfrage.");
    case PathKind::Forbidden:
        return Error(403, "Der Zugriff auf diese Adresse ist nicht erlaubt.");
    case PathKind::NotFound:
        return Error(404, "Die Seite wurde nicht gefunden.");
    case PathKind::AddSlash:
        return Redirect(301, mountPath + EncodePath(inner) + "/" + queryPart);
    case PathKind::File: {
        Response r;
        r.file = path.file;
        return r;
    }
    case PathKind::Directory:
        return Listing(path.file, request.path, inner == "/");
    case PathKind::Script:
        break;
    }
    return RunCgi(request, env, path, mountPath, query);
}

} // namespace RequestHandler
