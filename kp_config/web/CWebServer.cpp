#include "CWebServer.h"

#include "ConnectionPool.h"
#include "RequestHandler.h"

#include <civetweb.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
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
constexpr const char* kWorkerThreads = "64";
// Of the workers, at most this many wait for a request head; more waiting connections end the
// one silent longest (see ConnectionPool), so the rest stay free for requests.
constexpr size_t kMaxWaiting = 16;
// A connection on which nothing comes is taken from the listening socket only after this long.
constexpr int kDeferAcceptSeconds = 30;

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

// The request body, whole, within timeoutMs; a body shorter than its Content-Length, or one
// that has not arrived by then, is Incomplete.
Http::BodyRead ReadBody(mg_connection* conn, const ConnectionPool& pool, int timeoutMs,
                        std::string& body) {
    const long long announced = mg_get_request_info(conn)->content_length; // -1: not given
    if (announced > static_cast<long long>(kMaxRequestBody))
        return Http::BodyRead::TooLarge;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // Without a length or a transfer coding there is no body, and the engine reads none.
    if (announced == 0 || (announced < 0 && !mg_get_header(conn, "Transfer-Encoding")))
        return Http::BodyRead::Complete;
    const mg_request_info* info = mg_get_request_info(conn);
    BodyDeadline watch(pool.SocketOf(info->remote_addr, info->remote_port), timeoutMs);
    char buf[16384];
    for (;;) {
        const int n = mg_read(conn, buf, sizeof buf);
        if (n < 0)
            return Http::BodyRead::Incomplete; // a broken chunked coding, or the connection failed
        if (n == 0)
            break;
        body.append(buf, static_cast<size_t>(n));
        if (body.size() > kMaxRequestBody)
            return Http::BodyRead::TooLarge;
        if (std::chrono::steady_clock::now() >= deadline)
            return Http::BodyRead::Incomplete;
    }
    // The end of the input: complete only when all that was announced came.
    if (announced >= 0 && body.size() < static_cast<size_t>(announced))
        return Http::BodyRead::Incomplete;
    return std::chrono::steady_clock::now() < deadline ? Http::BodyRead::Complete
                                                       : Http::BodyRead::Incomplete;
}

// Writes the handler's answer: its own headers, the protective ones, and its body (or file).
void Send(mg_connection* conn, const Http::Response& response, bool headOnly) {
    std::string headers;
    for (const auto& [name, value] : response.headers)
        headers += name + ": " + value + "\r\n";
    if (!response.file.empty()) {
        // The engine adds the protective headers of its "additional_header" option itself.
        mg_send_mime_file2(conn, response.file.c_str(), nullptr, headers.c_str());
        return;
    }
    const std::string head =
        "HTTP/1.1 " + std::to_string(response.status) + " " +
        (response.reason.empty() ? mg_get_response_code_text(conn, response.status)
                                 : response.reason) +
        "\r\n" + headers + kSecurityHeaders + "\r\nContent-Length: " +
        std::to_string(response.body.size()) + "\r\nConnection: close\r\n\r\n";
    mg_write(conn, head.data(), head.size());
    if (!headOnly)
        mg_write(conn, response.body.data(), response.body.size());
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
    ConnectionPool pool{kMaxWaiting};
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
std::string RandomHex() {
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
    token = RandomHex();
    mount = RandomHex();

    auto* config = new RunConfig;
    config->cgiTimeoutMs = cgiTimeoutMs;
    config->requestTimeoutMs = requestTimeoutMs;

    // The host's option words mapped onto the engine's options, all in this one place.
    // "-cgi_interp" stays with the handler; the engine's own CGI and server-side includes
    // are switched off, and every answer is the handler's.
    std::map<std::string, std::string> engine{
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
    if (refused || config->documentRoot.empty() || token.empty() || mount.empty()) {
        delete config;
        token.clear();
        mount.clear();
        return false;
    }

    std::vector<const char*> argv;
    for (const auto& [key, value] : engine) {
        argv.push_back(key.c_str());
        argv.push_back(value.c_str());
    }
    argv.push_back(nullptr);

    // Every request goes to the handler, from the first connection on; the pool sees every
    // connection the engine takes and closes.
    mg_callbacks callbacks{};
    callbacks.begin_request = &CWebServer::HandleRequest;
    callbacks.init_connection = [](const mg_connection* conn, void**) {
        Of(conn).run->pool.Opened(conn);
        return 0;
    };
    callbacks.connection_close = [](const mg_connection* conn) {
        Of(conn).run->pool.Closed(conn);
    };
    run = config;
    context = mg_start(&callbacks, this, argv.data());
    if (!context) {
        delete run;
        run = nullptr;
        token.clear();
        mount.clear();
        return false;
    }
    run->pool.SetPort(GetPort());
    run->pool.DeferAccept(kDeferAcceptSeconds);
    return true;
}

void CWebServer::Stop() {
    if (!context)
        return;
    // Running scripts are killed, so the engine's workers end promptly.
    run->stopping = true;
    // The engine's listener and workers look at its stop flag only between waits of up to 2 s
    // for a connection or for a client's bytes; a connection that brings a byte to the listener,
    // and the end of the open connections, while the stop runs end those waits at once.
    const int port = GetPort();
    const ConnectionPool& pool = run->pool;
    std::atomic<bool> stopped{false};
    std::thread waker([&stopped, &pool, port] {
        while (!stopped.load()) {
            int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_port = htons(static_cast<uint16_t>(port));
            sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (fd >= 0) {
                if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0)
                    ::send(fd, "\n", 1, MSG_NOSIGNAL);
                ::close(fd);
            }
            pool.EndAll();
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
    mount.clear();
}

int CWebServer::GetPort() const {
    if (!context)
        return -1;
    mg_server_port ports[4];
    int n = mg_get_server_ports(context, 4, ports);
    return n > 0 ? ports[0].port : -1;
}

CWebServer& CWebServer::Of(const mg_connection* conn) {
    return *static_cast<CWebServer*>(mg_get_user_data(mg_get_context(conn)));
}

int CWebServer::HandleRequest(mg_connection* conn) {
    return Of(conn).Dispatch(conn);
}

int CWebServer::Dispatch(mg_connection* conn) {
    const mg_request_info* info = mg_get_request_info(conn);
    RunConfig& config = *run;
    config.pool.Started(conn, info->remote_addr, info->remote_port);

    Http::Request request;
    request.method = info->request_method ? info->request_method : "";
    request.httpVersion = info->http_version ? info->http_version : "1.0";
    request.path = info->local_uri_raw ? info->local_uri_raw : "";
    request.hasQueryString = info->query_string != nullptr;
    request.queryString = info->query_string ? info->query_string : "";
    request.remoteAddr = info->remote_addr;
    request.remotePort = info->remote_port;
    request.serverPort = info->server_port;
    for (int i = 0; i < info->num_headers; ++i)
        request.headers.emplace_back(info->http_headers[i].name, info->http_headers[i].value);
    request.readBody = [&](std::string& body) {
        return ReadBody(conn, config.pool, config.requestTimeoutMs, body);
    };

    RequestHandler::Environment environment;
    environment.token = token;
    environment.mount = mount;
    environment.documentRoot = config.documentRoot;
    environment.realRoot = config.realRoot;
    environment.interpreter = config.interpreter;
    environment.cgiVariables = SnapshotCgiVariables();
    environment.ownEnvironment = environ;
    environment.cgiTimeoutMs = config.cgiTimeoutMs;
    environment.stopping = &config.stopping;

    const Http::Response response = RequestHandler::Handle(request, environment);
    Send(conn, response, request.method == "HEAD");
    if (response.closeConnection) {
        // The body is left unread: the answer is followed by the end of the connection at
        // once, and the worker does not wait for the rest of the body to drain.
        const int fd = config.pool.SocketOf(request.remoteAddr, request.remotePort);
        if (fd >= 0)
            ::shutdown(fd, SHUT_RDWR);
    }
    return response.status;
}
