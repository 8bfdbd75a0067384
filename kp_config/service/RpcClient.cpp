#include "RpcClient.h"

#include <xmlrpcpp/XmlRpcUtil.h>

#include <expat.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

using XmlRpc::XmlRpcValue;
using Clock = std::chrono::steady_clock;

RpcAbort::RpcAbort() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

RpcAbort::~RpcAbort() {
    if (fd_ >= 0)
        ::close(fd_);
}

void RpcAbort::Signal() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
}

void RpcAbort::Reset() {
    uint64_t value = 0;
    [[maybe_unused]] ssize_t n = ::read(fd_, &value, sizeof value);
}

bool RpcAbort::IsSignalled() const {
    // An eventfd cannot be peeked; poll tells whether its counter is non-zero.
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

namespace {

constexpr size_t MaxHeadBytes = 16u << 10;

// ---- diagnostics ----

// The client's own diagnostics take the library's error path, so that they go wherever the
// program sends the library's messages (its debug trace), never to the console by themselves.
void Trace(const std::string& text) {
    XmlRpc::XmlRpcUtil::error("%s", text.c_str());
}

// ---- name lookup ----

// One name lookup on a thread of its own, so that a caller can give up on it at its deadline or
// on an abort: the system's resolver cannot be interrupted. Callers that want the same name while
// a lookup is under way share it, so a name server that never answers costs one thread per name,
// not one per call.
struct Lookup {
    Lookup() : doneFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Lookup() {
        if (doneFd >= 0)
            ::close(doneFd);
    }
    Lookup(const Lookup&) = delete;
    Lookup& operator=(const Lookup&) = delete;

    int doneFd; // readable once the lookup is over
    std::mutex mutex;
    std::vector<sockaddr_storage> addresses; // set before doneFd becomes readable
};

struct LookupRegistry {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<Lookup>> pending;
};

// Never destroyed: a lookup thread may still finish while the program exits.
LookupRegistry& Registry() {
    static LookupRegistry* registry = new LookupRegistry;
    return *registry;
}

std::vector<sockaddr_storage> Resolve(const std::string& host, int flags) {
    std::vector<sockaddr_storage> out;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0)
        return out;
    for (addrinfo* a = list; a; a = a->ai_next) {
        if (a->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        sockaddr_storage s{};
        std::memcpy(&s, a->ai_addr, a->ai_addrlen);
        out.push_back(s);
    }
    ::freeaddrinfo(list);
    return out;
}

std::shared_ptr<Lookup> StartLookup(const std::string& host) {
    LookupRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.mutex);
    auto it = registry.pending.find(host);
    if (it != registry.pending.end())
        return it->second;
    auto lookup = std::make_shared<Lookup>();
    if (lookup->doneFd < 0)
        return nullptr;
    try {
        std::thread([host, lookup] {
            std::vector<sockaddr_storage> found = Resolve(host, 0);
            {
                std::lock_guard<std::mutex> g(lookup->mutex);
                lookup->addresses = std::move(found);
            }
            {
                LookupRegistry& r = Registry();
                std::lock_guard<std::mutex> g(r.mutex);
                auto self = r.pending.find(host);
                if (self != r.pending.end() && self->second == lookup)
                    r.pending.erase(self);
            }
            uint64_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(lookup->doneFd, &one, sizeof one);
        }).detach();
    } catch (const std::system_error&) {
        return nullptr; // no thread to be had: the call fails
    }
    registry.pending.emplace(host, lookup);
    return lookup;
}

// ---- waiting with a deadline ----

enum class Wait { Ready, TimedOut, Aborted, Failed };

Wait WaitFor(int fd, short events, Clock::time_point deadline, const RpcAbort* abort) {
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return Wait::TimedOut;
        pollfd p[2] = {{fd, events, 0}, {abort ? abort->Fd() : -1, POLLIN, 0}};
        int n =
            ::poll(p, abort ? 2 : 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Wait::Failed;
        }
        if (abort && p[1].revents != 0)
            return Wait::Aborted;
        if (n > 0 && p[0].revents != 0)
            return Wait::Ready;
    }
}

class Socket {
public:
    Socket() = default;
    ~Socket() {
        if (fd >= 0)
            ::close(fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd = -1;
};

// The address with the port set, and its length; 0 for a family other than IPv4 and IPv6.
socklen_t WithPort(sockaddr_storage& address, int port) {
    if (address.ss_family == AF_INET) {
        reinterpret_cast<sockaddr_in&>(address).sin_port = htons(static_cast<uint16_t>(port));
        return sizeof(sockaddr_in);
    }
    if (address.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(static_cast<uint16_t>(port));
        return sizeof(sockaddr_in6);
    }
    return 0;
}

// Connects to one of a host's addresses, in their order, within the deadline. Each address in
// turn gets its share of the time left; an attempt still under way goes on beside the next one,
// so an address that never answers costs only its share, and a slow one can still win. The
// connected socket, or -1 with why set.
int ConnectAny(std::vector<sockaddr_storage>& addresses, int port, Clock::time_point deadline,
               const RpcAbort* abort, const char*& why) {
    std::vector<int> pending; // sockets whose connection is under way, oldest first
    auto closeAll = [&pending] {
        for (int fd : pending)
            ::close(fd);
        pending.clear();
    };
    size_t next = 0;
    Clock::time_point nextStart = Clock::now();
    for (;;) {
        Clock::time_point now = Clock::now();
        while (next < addresses.size() && (pending.empty() || now >= nextStart)) {
            sockaddr_storage& address = addresses[next++];
            const socklen_t length = WithPort(address, port);
            if (length == 0)
                continue;
            int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (fd < 0)
                continue;
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0) {
                closeAll();
                return fd;
            }
            if (errno != EINPROGRESS) {
                ::close(fd);
                continue;
            }
            pending.push_back(fd);
            // This address and each one after it get an equal part of the time left.
            nextStart = now + (deadline - now) / static_cast<int>(addresses.size() - next + 1);
        }
        if (pending.empty()) {
            why = "no connection";
            return -1;
        }
        if (now >= deadline) {
            closeAll();
            why = "no connection in time";
            return -1;
        }
        const Clock::time_point until =
            next < addresses.size() ? std::min(nextStart, deadline) : deadline;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
        std::vector<pollfd> polls;
        for (int fd : pending)
            polls.push_back({fd, POLLOUT, 0});
        if (abort)
            polls.push_back({abort->Fd(), POLLIN, 0});
        const int n = ::poll(polls.data(), polls.size(),
                             static_cast<int>(std::clamp<long long>(left, 0, INT_MAX)));
        if (n < 0 && errno != EINTR) {
            closeAll();
            why = "no connection";
            return -1;
        }
        if (abort && polls.back().revents != 0) {
            closeAll();
            why = "aborted while connecting";
            return -1;
        }
        for (size_t i = pending.size(); n > 0 && i-- > 0;) {
            if (polls[i].revents == 0)
                continue;
            const int fd = pending[i];
            pending.erase(pending.begin() + static_cast<long>(i));
            int error = 0;
            socklen_t len = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0) {
                closeAll();
                return fd;
            }
            ::close(fd);
        }
    }
}

// ---- HTTP ----

std::string BuildCall(const char* method, const XmlRpcValue& params) {
    std::string body = "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>";
    body += XmlRpc::XmlRpcUtil::xmlEncode(method);
    body += "</methodName>\r\n<params>";
    // As the library does it: an array holds the parameters, any other valid value is the one.
    if (params.getType() == XmlRpcValue::TypeArray) {
        for (int i = 0; i < params.size(); ++i)
            body += "<param>" + params[i].toXml() + "</param>";
    } else if (params.valid()) {
        body += "<param>" + params.toXml() + "</param>";
    }
    body += "</params></methodCall>\r\n";
    return body;
}

bool EqualsNoCase(const std::string& a, const char* b) {
    return ::strcasecmp(a.c_str(), b) == 0;
}

struct HttpHead {
    int status = 0;
    long long contentLength = -1;
    bool identity = true; // no transfer coding
};

bool ParseHead(const std::string& head, HttpHead& out) {
    size_t eol = head.find('\n');
    std::string statusLine = head.substr(0, eol);
    if (statusLine.compare(0, 5, "HTTP/") != 0)
        return false;
    size_t sp = statusLine.find(' ');
    if (sp == std::string::npos)
        return false;
    out.status = std::atoi(statusLine.c_str() + sp + 1);
    size_t pos = eol == std::string::npos ? head.size() : eol + 1;
    while (pos < head.size()) {
        size_t end = head.find('\n', pos);
        if (end == std::string::npos)
            end = head.size();
        std::string line = head.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = line.substr(0, colon);
        size_t v = line.find_first_not_of(" \t", colon + 1);
        std::string value = v == std::string::npos ? "" : line.substr(v);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.pop_back();
        if (EqualsNoCase(name, "Content-Length")) {
            if (value.empty() || value.size() > 18 ||
                value.find_first_not_of("0123456789") != std::string::npos)
                return false;
            // Two lengths that differ leave the answer's end in doubt: refused, as the web
            // server refuses such a request.
            const long long length = std::stoll(value);
            if (out.contentLength >= 0 && out.contentLength != length)
                return false;
            out.contentLength = length;
        } else if (EqualsNoCase(name, "Transfer-Encoding") && !EqualsNoCase(value, "identity")) {
            out.identity = false;
        }
    }
    return true;
}

// ---- the answer's XML ----

bool Trimmed(const std::string& text, std::string& out) {
    size_t b = text.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return false;
    size_t e = text.find_last_not_of(" \t\r\n");
    out = text.substr(b, e - b + 1);
    return true;
}

// A number (int or double) with blanks around it and an optional leading plus.
template <class Number> bool ToNumber(const std::string& text, Number& value) {
    std::string t;
    if (!Trimmed(text, t))
        return false;
    const char* first = t.data() + (t[0] == '+' ? 1 : 0);
    auto [end, ec] = std::from_chars(first, t.data() + t.size(), value);
    return ec == std::errc() && end == t.data() + t.size();
}

bool ToBase64(const std::string& text, std::vector<char>& bytes) {
    uint32_t bits = 0;
    int count = 0;
    bool padding = false;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else if (c == '=') {
            padding = true;
            continue;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        else
            return false;
        if (padding)
            return false; // data after the padding
        bits = (bits << 6) | static_cast<uint32_t>(v);
        if (++count == 4) {
            bytes.push_back(static_cast<char>((bits >> 16) & 0xFF));
            bytes.push_back(static_cast<char>((bits >> 8) & 0xFF));
            bytes.push_back(static_cast<char>(bits & 0xFF));
            bits = 0;
            count = 0;
        }
    }
    if (count == 1)
        return false;
    if (count == 2)
        bytes.push_back(static_cast<char>((bits >> 4) & 0xFF));
    if (count == 3) {
        bytes.push_back(static_cast<char>((bits >> 10) & 0xFF));
        bytes.push_back(static_cast<char>((bits >> 2) & 0xFF));
    }
    return true;
}

// A value under construction; the library keeps making an empty array or struct to itself.
struct BuildValue : XmlRpcValue {
    using XmlRpcValue::operator=;
    void MakeArray() { assertArray(0); }
    void MakeStruct() { assertStruct(); }
};

// Builds the answer from the parser's events with an explicit stack, so that no depth of input
// reaches the call stack, and checks every element against the shape of a methodResponse.
class AnswerBuilder {
public:
    explicit AnswerBuilder(XML_Parser parser) : parser_(parser) {
        values_.reserve(RpcClient::MaxAnswerDepth + 1);
    }

    void Start(const char* name) {
        if (failed_)
            return;
        const Kind parent = frames_.empty() ? Kind::None : frames_.back().kind;
        Kind kind = Kind::None;
        std::string n(name);
        switch (parent) {
        case Kind::None:
            if (n == "methodResponse" && !seenRoot_)
                kind = Kind::Response;
            seenRoot_ = true;
            break;
        case Kind::Response:
            if ((n == "params" || n == "fault") && !frames_.back().done)
                kind = n == "params" ? Kind::Params : Kind::Fault;
            frames_.back().done = true;
            fault_ = kind == Kind::Fault;
            break;
        case Kind::Params:
            if (n == "param" && !frames_.back().done)
                kind = Kind::Param;
            frames_.back().done = true;
            break;
        case Kind::Param:
        case Kind::Fault:
        case Kind::Data:
            if (n == "value" && !(parent != Kind::Data && frames_.back().done))
                kind = Kind::Value;
            frames_.back().done = true;
            break;
        case Kind::Value:
            if (!frames_.back().done)
                kind = TypeKind(n);
            frames_.back().done = true;
            break;
        case Kind::Array:
            if (n == "data" && !frames_.back().done)
                kind = Kind::Data;
            frames_.back().done = true;
            break;
        case Kind::Struct:
            if (n == "member")
                kind = Kind::Member;
            break;
        case Kind::Member:
            if (n == "name" && !frames_.back().hasName)
                kind = Kind::Name;
            else if (n == "value" && !frames_.back().done)
                kind = Kind::Value;
            break;
        default:
            break;
        }
        if (kind == Kind::None)
            return Fail();
        Frame frame;
        frame.kind = kind;
        frame.type = n;
        if (kind == Kind::Value) {
            if (values_.size() >= static_cast<size_t>(RpcClient::MaxAnswerDepth))
                return Fail();
            values_.emplace_back();
        } else if (kind == Kind::Array) {
            values_.back().MakeArray();
        } else if (kind == Kind::Struct) {
            values_.back().MakeStruct();
        }
        frames_.push_back(std::move(frame));
    }

    void Text(const char* text, int length) {
        if (failed_ || frames_.empty())
            return;
        Kind k = frames_.back().kind;
        if (k == Kind::Value || k == Kind::Scalar || k == Kind::Name)
            frames_.back().text.append(text, static_cast<size_t>(length));
    }

    void End() {
        if (failed_ || frames_.empty())
            return;
        Frame frame = std::move(frames_.back());
        frames_.pop_back();
        switch (frame.kind) {
        case Kind::Scalar:
            if (!SetScalar(frame.type, frame.text))
                return Fail();
            break;
        case Kind::Value: {
            if (!frame.done)
                values_.back() = XmlRpcValue(frame.text); // a value without a type is a string
            XmlRpcValue value = values_.back();
            values_.pop_back();
            Frame& parent = frames_.back();
            if (parent.kind == Kind::Data) {
                XmlRpcValue& array = values_.back();
                array[array.size()] = value;
            } else if (parent.kind == Kind::Member) {
                parent.value = value;
                parent.done = true;
            } else {
                result_ = value;
            }
            break;
        }
        case Kind::Name:
            frames_.back().name = frame.text;
            frames_.back().hasName = true;
            break;
        case Kind::Member:
            if (!frame.hasName || !frame.done)
                return Fail();
            values_.back()[frame.name] = frame.value;
            break;
        case Kind::Response:
            complete_ = frame.done;
            break;
        default:
            break;
        }
    }

    bool Complete() const { return complete_ && !failed_; }
    bool IsFault() const { return fault_; }
    const XmlRpcValue& Result() const { return result_; }
    void Fail() {
        failed_ = true;
        XML_StopParser(parser_, XML_FALSE);
    }

private:
    enum class Kind {
        None,
        Response,
        Params,
        Param,
        Fault,
        Value,
        Scalar,
        Array,
        Data,
        Struct,
        Member,
        Name
    };
    struct Frame {
        Kind kind = Kind::None;
        std::string type; // element name
        std::string text;
        bool done = false; // the single child it may have has come
        bool hasName = false;
        std::string name;
        XmlRpcValue value;
    };

    static Kind TypeKind(const std::string& n) {
        if (n == "array")
            return Kind::Array;
        if (n == "struct")
            return Kind::Struct;
        static const char* const scalars[] = {
            "i4",     "int", "i8",    "boolean", "string", "double", "dateTime.iso8601",
            "base64", "nil", "ex:nil"};
        for (const char* s : scalars)
            if (n == s)
                return Kind::Scalar;
        return Kind::None;
    }

    bool SetScalar(const std::string& type, const std::string& text) {
        XmlRpcValue& target = values_.back();
        if (type == "i4" || type == "int" || type == "i8") {
            int v = 0;
            if (!ToNumber(text, v))
                return false;
            target = v;
        } else if (type == "boolean") {
            std::string t;
            Trimmed(text, t);
            if (t != "0" && t != "1")
                return false;
            target = t == "1";
        } else if (type == "string") {
            target = XmlRpcValue(text);
        } else if (type == "double") {
            double v = 0;
            if (!ToNumber(text, v))
                return false;
            target = v;
        } else if (type == "dateTime.iso8601") {
            std::string t;
            std::tm tm{};
            if (!Trimmed(text, t) || t.size() != 17 ||
                std::sscanf(t.c_str(), "%4d%2d%2dT%2d:%2d:%2d", &tm.tm_year, &tm.tm_mon,
                            &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec) != 6)
                return false;
            tm.tm_year -= 1900;
            tm.tm_mon -= 1;
            target = XmlRpcValue(&tm);
        } else if (type == "base64") {
            std::vector<char> bytes;
            if (!ToBase64(text, bytes))
                return false;
            target = XmlRpcValue(bytes.data(), static_cast<int>(bytes.size()));
        } else {
            target.clear(); // nil
        }
        return true;
    }

    XML_Parser parser_;
    std::vector<Frame> frames_;
    std::vector<BuildValue> values_; // one per open value element, innermost last
    XmlRpcValue result_;
    bool seenRoot_ = false;
    bool complete_ = false;
    bool fault_ = false;
    bool failed_ = false;
};

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char**) {
    static_cast<AnswerBuilder*>(data)->Start(name);
}
void XMLCALL OnEnd(void* data, const XML_Char*) {
    static_cast<AnswerBuilder*>(data)->End();
}
void XMLCALL OnText(void* data, const XML_Char* text, int length) {
    static_cast<AnswerBuilder*>(data)->Text(text, length);
}
// A document type could declare entities; an answer has no use for one.
void XMLCALL OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    static_cast<AnswerBuilder*>(data)->Fail();
}

bool ParsePort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(text);
    return port > 0 && port <= 65535;
}

} // namespace

bool RpcClient::ReadAnswer(const std::string& xml, XmlRpcValue& result, bool& fault) {
    result.clear();
    fault = false;
    if (xml.size() > MaxAnswerBytes)
        return false;
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (!parser)
        return false;
    AnswerBuilder builder(parser);
    XML_SetUserData(parser, &builder);
    XML_SetElementHandler(parser, OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser, OnText);
    XML_SetStartDoctypeDeclHandler(parser, OnDoctype);
    bool parsed =
        XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    if (!parsed || !builder.Complete())
        return false;
    result = builder.Result();
    fault = builder.IsFault();
    return true;
}

bool RpcClient::ParseUrl(const std::string& url, std::string& host, int& port, std::string& path) {
    // "bin://" names the service's binary transport. This client speaks plain XML-RPC over HTTP
    // to the same host and port instead, so that the supervision probe and the remote check of
    // a service reach the same server the same way.
    static const char* const schemes[] = {"bin://", "http://"};
    std::string rest;
    for (const char* scheme : schemes) {
        std::string s(scheme);
        if (url.compare(0, s.size(), s) == 0) {
            rest = url.substr(s.size());
            break;
        }
    }
    if (rest.empty())
        return false;
    size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    path = slash == std::string::npos ? std::string() : rest.substr(slash);
    size_t colon = authority.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    host = authority.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return ParsePort(authority.substr(colon + 1), port);
}

RpcClient::RpcClient(const std::string& url) {
    valid_ = ParseUrl(url, host_, port_, path_);
}

RpcClient::RpcClient(const std::string& host, int port)
    : host_(host), port_(port), valid_(!host.empty() && port > 0 && port <= 65535) {}

RpcClient::~RpcClient() = default;

bool RpcClient::Execute(const char* method, const XmlRpcValue& params, XmlRpcValue& result,
                        const RpcAbort* abort) {
    fault_ = false;
    result.clear();
    if (!valid_ || (abort && abort->IsSignalled()))
        return false;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
    const std::string where = host_ + ":" + std::to_string(port_);
    auto fail = [&](const char* why) {
        Trace(std::string("RPC ") + method + " at " + where + ": " + why);
        return false;
    };

    // The name: a numeric address at once, a host name through a lookup that the deadline and
    // the abort cut short.
    std::vector<sockaddr_storage> addresses = Resolve(host_, AI_NUMERICHOST);
    if (addresses.empty()) {
        std::shared_ptr<Lookup> lookup = StartLookup(host_);
        if (!lookup)
            return fail("name lookup not started");
        switch (WaitFor(lookup->doneFd, POLLIN, deadline, abort)) {
        case Wait::Ready:
            break;
        case Wait::Aborted:
            return fail("aborted during name lookup");
        default:
            return fail("no address in time");
        }
        std::lock_guard<std::mutex> guard(lookup->mutex);
        addresses = lookup->addresses;
        if (addresses.empty())
            return fail("unknown host");
    }

    Socket sock;
    const char* why = nullptr;
    sock.fd = ConnectAny(addresses, port_, deadline, abort, why);
    if (sock.fd < 0)
        return fail(why);

    // The request, sent once: a dropped connection fails the call and is never retried.
    const std::string body = BuildCall(method, params);
    std::string hostHeader = host_.find(':') != std::string::npos ? "[" + host_ + "]" : host_;
    const std::string request =
        "POST " + (path_.empty() ? std::string("/RPC2") : path_) +
        " HTTP/1.0\r\nUser-Agent: kp_config\r\nHost: " + hostHeader + ":" + std::to_string(port_) +
        "\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\n\r\n" + body;
    for (size_t sent = 0; sent < request.size();) {
        ssize_t n = ::send(sock.fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            Wait w = WaitFor(sock.fd, POLLOUT, deadline, abort);
            if (w == Wait::Ready)
                continue;
            return fail(w == Wait::Aborted ? "aborted while sending" : "request not sent in time");
        }
        return fail("connection lost while sending");
    }

    // The answer, read no further than its bound.
    std::string data;
    HttpHead head;
    size_t headEnd = std::string::npos;
    char buf[16384];
    for (;;) {
        if (headEnd != std::string::npos && head.contentLength >= 0 &&
            data.size() - headEnd >= static_cast<size_t>(head.contentLength))
            break;
        Wait w = WaitFor(sock.fd, POLLIN, deadline, abort);
        if (w != Wait::Ready)
            return fail(w == Wait::Aborted ? "aborted" : "no answer in time");
        ssize_t n = ::recv(sock.fd, buf, sizeof buf, 0);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return fail("connection lost");
        }
        if (n == 0) {
            if (headEnd == std::string::npos ||
                (head.contentLength >= 0 &&
                 data.size() - headEnd < static_cast<size_t>(head.contentLength)))
                return fail("answer cut short");
            break;
        }
        data.append(buf, static_cast<size_t>(n));
        if (headEnd == std::string::npos) {
            size_t blank = data.find("\r\n\r\n");
            if (blank == std::string::npos) {
                if (data.size() > MaxHeadBytes)
                    return fail("answer head too large");
                continue;
            }
            headEnd = blank + 4;
            if (!ParseHead(data.substr(0, blank), head))
                return fail("malformed answer head");
            if (head.status != 200)
                return fail("HTTP status not 200");
            if (!head.identity)
                return fail("transfer coding not supported");
            if (head.contentLength > static_cast<long long>(MaxAnswerBytes))
                return fail("answer announced larger than the bound");
        }
        if (data.size() - headEnd > MaxAnswerBytes)
            return fail("answer larger than the bound");
    }
    std::string xml = data.substr(headEnd);
    if (head.contentLength >= 0)
        xml.resize(static_cast<size_t>(head.contentLength));
    if (!ReadAnswer(xml, result, fault_))
        return fail("answer unreadable, too deep or of the wrong shape");
    return true;
}
