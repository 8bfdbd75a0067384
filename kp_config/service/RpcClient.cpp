#include "RpcClient.h"

#include <xmlrpcpp/XmlRpcClient.h>
#include <xmlrpcpp/XmlRpcSource.h>

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

using XmlRpc::XmlRpcValue;

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

// The library's client, with what it keeps protected made visible: whether the call is over and
// whether it ended with an answer. A refused or broken connection also ends the call, with an
// empty result, and must count as a failure.
class TimedClient : public XmlRpc::XmlRpcClient {
public:
    using XmlRpc::XmlRpcClient::XmlRpcClient;

    bool Finished() const { return _connectionState == IDLE || _connectionState == NO_CONNECTION; }
    bool Answered() const { return _connectionState == IDLE; }
    XmlRpc::XmlRpcDispatch& Dispatcher() { return _disp; }

    // The dispatcher keeps working while any source is watched; the abort watch stays in it, so
    // the end of the call must end the dispatcher's work explicitly.
    unsigned handleEvent(unsigned eventType) override {
        unsigned mask = XmlRpc::XmlRpcClient::handleEvent(eventType);
        if (mask == 0)
            _disp.exit();
        return mask;
    }
};

// Watches an RpcAbort in the client's dispatcher, so that a signal ends the wait at once. The
// descriptor belongs to the RpcAbort and is never closed here.
class AbortWatch : public XmlRpc::XmlRpcSource {
public:
    AbortWatch(int fd, XmlRpc::XmlRpcDispatch& dispatcher)
        : XmlRpc::XmlRpcSource(fd, false), dispatcher_(dispatcher) {
        setKeepOpen(true);
    }
    ~AbortWatch() override { setfd(-1); }

    unsigned handleEvent(unsigned) override {
        fired = true;
        dispatcher_.exit();
        return 0;
    }
    void close() override { setfd(-1); }

    bool fired = false;

private:
    XmlRpc::XmlRpcDispatch& dispatcher_;
};

// The library writes to its sockets with write(): a service that drops the connection would
// raise SIGPIPE and end the whole program. The signal is blocked for this thread during a call,
// and one that came meanwhile is taken before the mask is restored.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe, &old_);
    }
    ~SigpipeGuard() {
        if (!wasPending_) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            timespec zero{0, 0};
            while (sigtimedwait(&pipe, nullptr, &zero) > 0) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t old_;
    bool wasPending_ = false;
};

bool ParsePort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(text);
    return port > 0 && port <= 65535;
}

} // namespace

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
    using Clock = std::chrono::steady_clock;
    fault_ = false;
    result.clear();
    if (!valid_ || (abort && abort->IsSignalled()))
        return false;

    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
    SigpipeGuard noSigpipe;
    TimedClient client(host_.c_str(), port_, path_.empty() ? nullptr : path_.c_str());
    if (!client.executeNonBlock(method, params))
        return false;

    AbortWatch watch(abort ? abort->Fd() : -1, client.Dispatcher());
    if (abort)
        client.Dispatcher().addSource(&watch, XmlRpc::XmlRpcDispatch::ReadableEvent);

    while (!client.Finished() && !watch.fired) {
        auto left = std::chrono::duration<double>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        client.Dispatcher().work(left); // seconds
    }
    if (abort)
        client.Dispatcher().removeSource(&watch);

    if (!client.Answered() || watch.fired) {
        client.close();
        return false;
    }
    // The call is over: executeCheckDone parses the answer and sets the fault flag.
    client.executeCheckDone(result);
    client.close();
    if (!result.valid())
        return false;
    fault_ = client.isFault();
    return true;
}
