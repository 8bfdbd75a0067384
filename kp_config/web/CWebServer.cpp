#include "CWebServer.h"

#include "CgiGateway.h"
#include "RequestGate.h"

#include <civetweb.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <strings.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr size_t kMaxRequestBody = 16u << 20;

// Sent with every answer: no page of another site may frame the web UI or load from it, the
// browser takes each answer for the type it declares, and no address of the web UI leaves it
// as a referrer.
constexpr const char* kSecurityHeaders =
    "Content-Security-Policy: default-src 'self'; frame-ancestors 'none'; base-uri 'none'; "
    "form-action 'self'\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Referrer-Policy: no-referrer\r\n"
    "X-Frame-Options: DENY";

// A client that has not sent its whole request head by then is dropped: a browser sends it at
// once, and a slow client must not hold a worker.
constexpr int kHeadTimeoutMs = 3000;
// Enough workers that 40 idle or slow connections leave the browser view's own requests free.
constexpr const char* kWorkerThreads = "96";

// The German error page of the gateway, readable in the embedded browser.
void SendErrorPage(mg_connection* conn, int status, const std::string& text,
                   const std::string& detail = "", const std::string& extraHeaders = "") {
    auto escape = [](const std::string& s) {
        std::string out;
        for (char c : s) {
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
    };
    std::string body = "<!DOCTYPE html>\n<html lang=\"de\"><head><meta charset=\"utf-8\">"
                       "<title>Fehler " +
                       std::to_string(status) +
                       "</title></head><body>"
                       "<h1>Fehler " +
                       std::to_string(status) + "</h1><p>" + escape(text) + "</p>";
    if (!detail.empty())
        body += "<pre>" + escape(detail) + "</pre>";
    body += "</body></html>\n";
    mg_printf(conn,
              "HTTP/1.1 %d %s\r\nContent-Type: text/html; charset=utf-8\r\n"
              "Content-Length: %zu\r\nCache-Control: no-store\r\n%s\r\n%sConnection: close\r\n\r\n",
              status, mg_get_response_code_text(conn, status), body.size(), kSecurityHeaders,
              extraHeaders.c_str());
    if (std::strcmp(mg_get_request_info(conn)->request_method, "HEAD") != 0)
        mg_write(conn, body.data(), body.size());
}

// A value of "-ports" ("0", "8080,8081", "1.2.3.4:80") as CivetWeb listening ports, each bound
// to the loopback address: the only client is the browser view on this machine, and the
// server has no authentication.
std::string LoopbackPorts(const std::string& ports) {
    std::string result;
    size_t pos = 0;
    while (pos <= ports.size()) {
        size_t end = ports.find(',', pos);
        if (end == std::string::npos)
            end = ports.size();
        std::string item = ports.substr(pos, end - pos);
        pos = end + 1;
        size_t colon = item.rfind(':');
        if (colon != std::string::npos)
            item = item.substr(colon + 1);
        if (item.empty() || item.find_first_not_of("0123456789") != std::string::npos)
            return ""; // refused: the server does not start
        result += (result.empty() ? "" : ",") + std::string("127.0.0.1:") + item;
    }
    return result;
}

// The connection's socket, found by its two ends; -1 when none matches. The engine keeps it to
// itself, but a read that outlasts its deadline can only be ended from outside, by shutting the
// socket's reading side down. The kernel's table of TCP connections gives the socket's inode,
// and the descriptor is the one whose link names that inode; no descriptor of another thread is
// touched on the way.
// The descriptors of this process whose socket inodes are in `inodes`.
std::vector<int> DescriptorsOf(const std::set<unsigned long>& inodes) {
    std::vector<int> found;
    if (inodes.empty())
        return found;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (dirent* e = ::readdir(dir)) {
            char target[64];
            ssize_t n = ::readlinkat(::dirfd(dir), e->d_name, target, sizeof target - 1);
            unsigned long inode = 0;
            if (n <= 0)
                continue;
            target[n] = 0;
            if (std::sscanf(target, "socket:[%lu]", &inode) == 1 && inodes.count(inode))
                found.push_back(std::atoi(e->d_name));
        }
        ::closedir(dir);
    }
    return found;
}

// The inodes of the TCP sockets in the kernel's table for which `match` (local and peer end in
// the table's hexadecimal form, and the state) holds.
template <typename Match> std::set<unsigned long> TcpInodes(Match match) {
    std::set<unsigned long> inodes;
    std::ifstream table("/proc/self/net/tcp");
    std::string line;
    std::getline(table, line); // the column titles
    while (std::getline(table, line)) {
        char local[64], peer[64];
        unsigned state = 0;
        unsigned long node = 0;
        if (std::sscanf(line.c_str(), "%*d: %63s %63s %x %*x:%*x %*x:%*x %*x %*u %*u %lu", local,
                        peer, &state, &node) == 4 &&
            node != 0 && match(std::string(local), std::string(peer), state))
            inodes.insert(node);
    }
    return inodes;
}

int ConnectionSocket(const mg_request_info* info) {
    in_addr remote{};
    if (::inet_pton(AF_INET, info->remote_addr, &remote) != 1)
        return -1;
    char wantRemote[32], wantLocalPort[8];
    std::snprintf(wantRemote, sizeof wantRemote, "%08X:%04X", remote.s_addr,
                  static_cast<unsigned>(info->remote_port));
    std::snprintf(wantLocalPort, sizeof wantLocalPort, ":%04X",
                  static_cast<unsigned>(info->server_port));
    std::set<unsigned long> inodes =
        TcpInodes([&](const std::string& local, const std::string& peer, unsigned) {
            return peer == wantRemote && local.ends_with(wantLocalPort);
        });
    if (inodes.size() != 1)
        return -1;
    std::vector<int> fds = DescriptorsOf(inodes);
    return fds.size() == 1 ? fds[0] : -1;
}

// Ends every connection that clients hold to the server on `port` (not its listening socket):
// a worker that waits for a slow client's request then wakes at once.
void ShutDownConnections(int port) {
    char wantLocalPort[8];
    std::snprintf(wantLocalPort, sizeof wantLocalPort, ":%04X", static_cast<unsigned>(port));
    constexpr unsigned kListen = 0x0A;
    for (int fd :
         DescriptorsOf(TcpInodes([&](const std::string&local, const std::string&, unsigned state) {
             return state != kListen && local.ends_with(wantLocalPort);
         }))) {
        // Checked once more on the descriptor itself, in case its number was reused meanwhile.
        sockaddr_in local{};
        socklen_t length = sizeof local;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
            local.sin_family == AF_INET && ntohs(local.sin_port) == port)
            ::shutdown(fd, SHUT_RDWR);
    }
}

// Ends a read of the request body at its deadline: the engine's read waits for more as long
// as bytes keep trickling in, so the socket's reading side is shut down from a watch thread,
// which wakes that read with an end of file. The answer can still be written.
class BodyDeadline {
public:
    BodyDeadline(int fd, int ms) {
        if (fd < 0)
            return;
        watch_ = std::thread([this, fd, ms] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return done_; }))
                ::shutdown(fd, SHUT_RD);
        });
    }
    ~BodyDeadline() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        if (watch_.joinable())
            watch_.join();
    }
    BodyDeadline(const BodyDeadline&) = delete;
    BodyDeadline& operator=(const BodyDeadline&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread watch_;
};

enum class BodyRead { Complete, Incomplete, TooLarge };

// The request body, whole, within timeoutMs; a body shorter than its Content-Length, or one
// that has not arrived by then, is Incomplete.
BodyRead ReadBody(mg_connection* conn, int timeoutMs, std::string& body) {
    const long long announced = mg_get_request_info(conn)->content_length; // -1: not given
    if (announced > static_cast<long long>(kMaxRequestBody))
        return BodyRead::TooLarge;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // Without a length or a transfer coding there is no body, and the engine reads none.
    if (announced == 0 || (announced < 0 && !mg_get_header(conn, "Transfer-Encoding")))
        return BodyRead::Complete;
    BodyDeadline watch(ConnectionSocket(mg_get_request_info(conn)), timeoutMs);
    char buf[16384];
    for (;;) {
        size_t want = sizeof buf;
        if (announced >= 0)
            want = std::min(want, static_cast<size_t>(announced) - body.size());
        if (want == 0)
            return BodyRead::Complete;
        int n = mg_read(conn, buf, want);
        if (n < 0)
            return BodyRead::Incomplete; // a broken chunked coding, or the connection failed
        if (n == 0)
            break;
        body.append(buf, static_cast<size_t>(n));
        if (body.size() > kMaxRequestBody)
            return BodyRead::TooLarge;
        if (std::chrono::steady_clock::now() >= deadline)
            return BodyRead::Incomplete;
    }
    // The end of the input: complete only when all that was announced came.
    if (announced >= 0 && body.size() < static_cast<size_t>(announced))
        return BodyRead::Incomplete;
    return std::chrono::steady_clock::now() < deadline ? BodyRead::Complete : BodyRead::Incomplete;
}

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// False for a request whose body length is ambiguous: two different Content-Length values, or a
// Content-Length beside a Transfer-Encoding. Peers may read such a request differently, so it
// is refused whole.
bool HasSoundFraming(const HeaderList& headers) {
    const std::string* length = nullptr;
    bool coded = false;
    for (const auto& [name, value] : headers) {
        if (strcasecmp(name.c_str(), "Transfer-Encoding") == 0)
            coded = true;
        if (strcasecmp(name.c_str(), "Content-Length") != 0)
            continue;
        if (length && *length != value)
            return false;
        length = &value;
    }
    return !(length && coded);
}

// A static answer that the engine would not give as this server must: a directory named
// without its trailing slash is redirected here (the engine's redirect lacks the security
// headers), and a request that brought the secret in its address gets the cookie with the file,
// or is sent to the same address without the secret. 0 when the engine serves the request.
int SendStatic(mg_connection* conn, const std::string& realRoot, const mg_request_info* info,
               const std::string& cookie, const std::string& strippedQuery) {
    const std::string uri = info->local_uri ? info->local_uri : "/";
    const std::string file = realRoot + uri;
    struct stat st {};
    const bool exists = ::stat(file.c_str(), &st) == 0;
    std::string location = info->local_uri_raw ? info->local_uri_raw : "/";
    if (exists && S_ISDIR(st.st_mode) && !uri.ends_with('/')) {
        location += "/";
    } else if (cookie.empty()) {
        return 0;
    } else if (exists && S_ISREG(st.st_mode)) {
        mg_send_mime_file2(conn, file.c_str(), nullptr, cookie.c_str());
        return 200;
    }
    const char* query = cookie.empty() ? info->query_string : strippedQuery.c_str();
    if (query && *query)
        location += "?" + std::string(query);
    mg_printf(conn,
              "HTTP/1.1 %d %s\r\nLocation: %s\r\nContent-Length: 0\r\n"
              "Cache-Control: no-store\r\n%s\r\n%sConnection: close\r\n\r\n",
              cookie.empty() ? 301 : 302, cookie.empty() ? "Moved Permanently" : "Found",
              location.c_str(), kSecurityHeaders, cookie.c_str());
    return cookie.empty() ? 301 : 302;
}

// After a refusal whose body is left unread: the answer is followed by the end of the
// connection at once, and the worker does not wait for the rest of the body to drain.
void EndConnection(mg_connection* conn) {
    int fd = ConnectionSocket(mg_get_request_info(conn));
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
}

std::string Absolute(const std::string& path) {
    if (path.empty() || path[0] == '/')
        return path;
    char* cwd = ::getcwd(nullptr, 0);
    std::string result = cwd ? std::string(cwd) + "/" + path : path;
    std::free(cwd);
    return result;
}

} // namespace

struct CWebServer::RunConfig {
    std::string documentRoot; // as configured; what the scripts see
    std::string realRoot;     // without symbolic links; what requests are checked against
    std::string interpreter;
    int cgiTimeoutMs = 30000;
    int requestTimeoutMs = 10000;
    std::atomic<bool> stopping{false};
};

CWebServer::CWebServer() {
    options["-ports"] = "80";
}

CWebServer::~CWebServer() {
    Stop();
}

void CWebServer::SetDocumentRoot(const std::string& path) {
    options["-root"] = path;
}
void CWebServer::SetPort(int port) {
    options["-ports"] = std::to_string(port);
}
void CWebServer::SetCgiInterpreter(const std::string& path) {
    options["-cgi_interp"] = path;
}
void CWebServer::SetCgiTimeout(int milliseconds) {
    cgiTimeoutMs = milliseconds;
}
void CWebServer::SetRequestTimeout(int milliseconds) {
    requestTimeoutMs = milliseconds;
}

void CWebServer::ClearCgiVariables() {
    std::lock_guard<std::mutex> lock(controlMutex);
    cgiVariables.clear();
}

void CWebServer::SetCgiVariable(const std::string& name, const std::string& value) {
    std::lock_guard<std::mutex> lock(controlMutex);
    cgiVariables[name] = value;
}

void CWebServer::UpdateRadlexService(const std::string& value) {
    std::lock_guard<std::mutex> lock(controlMutex);
    cgiVariables["RADLEX_SERVICE"] = value;
}

std::map<std::string, std::string> CWebServer::SnapshotCgiVariables() const {
    std::lock_guard<std::mutex> lock(controlMutex);
    return cgiVariables;
}

std::string CWebServer::JoinCgiVariables() const {
    std::string text;
    for (const auto& [name, value] : SnapshotCgiVariables())
        text += (text.empty() ? "" : ",") + name + "=" + value;
    return text;
}

namespace {

// 128 bits from the kernel's random source as hexadecimal text; empty when none could be read.
std::string MakeToken() {
    unsigned char bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n <= 0)
            return std::string();
        got += static_cast<size_t>(n);
    }
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

} // namespace

bool CWebServer::Start() {
    Stop();
    token = MakeToken();

    auto* config = new RunConfig;
    config->cgiTimeoutMs = cgiTimeoutMs;
    config->requestTimeoutMs = requestTimeoutMs;

    // The host's option words mapped onto the engine's options, all in this one place.
    // "-cgi_interp" stays with the gateway; the engine's own CGI and server-side includes
    // are switched off, so every script runs through the gateway.
    std::map<std::string, std::string> engine{
        {"index_files", "index.html,index.htm,index.php,index.cgi"},
        {"enable_directory_listing", "yes"},
        {"cgi_pattern", ""},
        {"ssi_pattern", ""},
        {"access_control_list", "-0.0.0.0/0,+127.0.0.0/8"},
        {"access_control_allow_origin", ""},
        {"num_threads", kWorkerThreads},
        // Bounds how long a client may take over its request head, and each wait for more of
        // its body (the whole body has the request time-out below).
        {"request_timeout_ms", std::to_string(std::min(requestTimeoutMs, kHeadTimeoutMs))},
        {"additional_header", kSecurityHeaders},
        {"enable_keep_alive", "no"},
    };
    bool refused = false;
    for (const auto& [key, value] : options) {
        if (key == "-ports") {
            engine["listening_ports"] = LoopbackPorts(value);
            refused = refused || engine["listening_ports"].empty();
        } else if (key == "-root") {
            config->documentRoot = value;
            engine["document_root"] = value;
        } else if (key == "-cgi_interp") {
            config->interpreter = Absolute(value);
        } else {
            refused = true; // an option word this host does not know
        }
    }
    char* real =
        config->documentRoot.empty() ? nullptr : ::realpath(config->documentRoot.c_str(), nullptr);
    config->realRoot = real ? real : config->documentRoot;
    std::free(real);
    if (refused || config->documentRoot.empty() || token.empty()) {
        delete config;
        token.clear();
        return false;
    }

    std::vector<const char*> argv;
    for (const auto& [key, value] : engine) {
        argv.push_back(key.c_str());
        argv.push_back(value.c_str());
    }
    argv.push_back(nullptr);

    // Every request passes the gateway first, from the first connection on; the gateway
    // hands static files and directory listings back to the engine.
    mg_callbacks callbacks{};
    callbacks.begin_request = &CWebServer::HandleRequest;
    run = config;
    context = mg_start(&callbacks, this, argv.data());
    if (!context) {
        delete run;
        run = nullptr;
        token.clear();
        return false;
    }
    return true;
}

void CWebServer::Stop() {
    if (!context)
        return;
    // Running scripts are killed, so the engine's workers end promptly.
    run->stopping = true;
    // The engine's listener and workers look at its stop flag only between waits of up to 2 s
    // for a connection or for a client's bytes; connecting to the listener and ending the open
    // connections while the stop runs ends those waits at once.
    const int port = GetPort();
    std::atomic<bool> stopped{false};
    std::thread waker([&stopped, port] {
        while (!stopped.load()) {
            int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_port = htons(static_cast<uint16_t>(port));
            sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (fd >= 0) {
                ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
                ::close(fd);
            }
            ShutDownConnections(port);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    mg_stop(context);
    stopped = true;
    waker.join();
    context = nullptr;
    delete run;
    run = nullptr;
    token.clear();
}

int CWebServer::GetPort() const {
    if (!context)
        return -1;
    mg_server_port ports[4];
    int n = mg_get_server_ports(context, 4, ports);
    return n > 0 ? ports[0].port : -1;
}

int CWebServer::HandleRequest(mg_connection* conn) {
    return static_cast<CWebServer*>(mg_get_request_info(conn)->user_data)->Dispatch(conn);
}

int CWebServer::Dispatch(mg_connection* conn) {
    using namespace CgiGateway;
    using RequestGate::HeaderList;
    const mg_request_info* info = mg_get_request_info(conn);
    const RunConfig& config = *run;
    const std::string method = info->request_method ? info->request_method : "";
    HeaderList headers;
    for (int i = 0; i < info->num_headers; ++i)
        headers.emplace_back(info->http_headers[i].name, info->http_headers[i].value);

    // A page of another site that reaches the port through a name of its own (DNS rebinding)
    // is turned away before anything else happens.
    const char* host = mg_get_header(conn, "Host");
    if (!host || !RequestGate::IsOwnHost(host, info->server_port)) {
        SendErrorPage(conn, 403, "Diese Adresse ist nicht die des Konfigurators.");
        return 403;
    }
    const RequestGate::Credential credential =
        RequestGate::FindCredential(headers, info->query_string ? info->query_string : "", token);
    if (credential == RequestGate::Credential::None) {
        SendErrorPage(conn, 403,
                      "Zugriff verweigert: Diese Oberfläche steht nur dem "
                      "Velantrix Konfigurator zur Verfügung.");
        return 403;
    }
    if (method != "GET" && method != "HEAD" && method != "POST") {
        SendErrorPage(conn, 405, "Diese Anfrageart wird nicht unterstützt.", "",
                      "Allow: GET, HEAD, POST\r\n");
        return 405;
    }
    const char* origin = mg_get_header(conn, "Origin");
    if (method == "POST" && origin && !RequestGate::IsOwnOrigin(origin, info->server_port)) {
        SendErrorPage(conn, 403, "Anfragen anderer Seiten werden nicht angenommen.");
        return 403;
    }
    if (!HasSoundFraming(headers)) {
        SendErrorPage(conn, 400, "Ungültige Anfrage.");
        EndConnection(conn);
        return 400;
    }
    // The browser keeps the secret as a cookie once it came in the address.
    const std::string cookie = credential == RequestGate::Credential::Query
                                   ? RequestGate::CookieHeader(token) + "\r\n"
                                   : std::string();

    ResolvedPath path =
        ResolveRequestPath(config.realRoot, info->local_uri_raw ? info->local_uri_raw : "");
    switch (path.kind) {
    case PathKind::BadRequest:
        SendErrorPage(conn, 400, "Ungültige Anfrage.");
        return 400;
    case PathKind::Forbidden:
        SendErrorPage(conn, 403, "Der Zugriff auf diese Adresse ist nicht erlaubt.");
        return 403;
    case PathKind::NotFound:
        SendErrorPage(conn, 404, "Die Seite wurde nicht gefunden.");
        return 404;
    case PathKind::PassOn:
        return SendStatic(
            conn, config.realRoot, info, cookie,
            RequestGate::StripQuery(info->query_string ? info->query_string : "", token));
    case PathKind::Script:
        break;
    }

    Request request;
    request.method = info->request_method;
    request.httpVersion = info->http_version ? info->http_version : "1.0";
    request.uri = info->request_uri ? info->request_uri : "";
    // The secret stays with the server: a script sees neither its parameter, nor its cookie,
    // nor its Authorization header.
    request.hasQueryString = info->query_string != nullptr;
    request.queryString =
        info->query_string ? RequestGate::StripQuery(info->query_string, token) : "";
    request.remoteAddr = info->remote_addr;
    request.remotePort = info->remote_port;
    request.serverPort = info->server_port;
    request.headers = RequestGate::StripHeaders(headers, token);
    switch (ReadBody(conn, config.requestTimeoutMs, request.body)) {
    case BodyRead::Complete:
        break;
    case BodyRead::TooLarge:
        SendErrorPage(conn, 413, "Die Anfrage ist zu groß.");
        EndConnection(conn);
        return 413;
    case BodyRead::Incomplete:
        // A script never runs on a part of its input.
        SendErrorPage(conn, 400, "Die Anfrage ist unvollständig oder kam nicht rechtzeitig an.");
        EndConnection(conn);
        return 400;
    }

    if (config.interpreter.empty()) {
        SendErrorPage(conn, 500, "Für CGI-Skripte ist kein Interpreter eingestellt.");
        return 500;
    }
    std::vector<std::string> env =
        BuildEnvironment(request, path, config.documentRoot, SnapshotCgiVariables(), environ);
    RunOutcome outcome = RunScript(config.interpreter, path.scriptFile, env, request.body,
                                   config.cgiTimeoutMs, config.stopping);
    switch (outcome.result) {
    case RunResult::Ok:
        break;
    case RunResult::StartFailed:
        SendErrorPage(conn, 500, "Das CGI-Skript konnte nicht gestartet werden.");
        return 500;
    case RunResult::TimedOut:
        SendErrorPage(conn, 504, "Das CGI-Skript hat nicht rechtzeitig geantwortet.",
                      outcome.errorOutput);
        return 504;
    case RunResult::Stopped:
        SendErrorPage(conn, 503, "Der Webserver wird beendet.");
        return 503;
    case RunResult::TooLarge:
        SendErrorPage(conn, 502, "Die Antwort des CGI-Skripts ist zu groß.");
        return 502;
    }

    Response response;
    if (!ParseScriptOutput(outcome.output, response)) {
        SendErrorPage(conn, 502, "Das CGI-Skript hat keine gültige Antwort geliefert.",
                      outcome.errorOutput);
        return 502;
    }
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " +
                       (response.reason.empty() ? mg_get_response_code_text(conn, response.status)
                                                : response.reason) +
                       "\r\n";
    static const std::set<std::string> ownHeaders{"connection", "content-length",
                                                  "transfer-encoding"};
    for (const auto& [name, value] : response.headers) {
        std::string lower = name;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!ownHeaders.count(lower))
            head += name + ": " + value + "\r\n";
    }
    head += std::string(kSecurityHeaders) + "\r\n" + cookie;
    head +=
        "Content-Length: " + std::to_string(response.body.size()) + "\r\nConnection: close\r\n\r\n";
    mg_write(conn, head.data(), head.size());
    if (request.method != "HEAD")
        mg_write(conn, response.body.data(), response.body.size());
    return response.status;
}
