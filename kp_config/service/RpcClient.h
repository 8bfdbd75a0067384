#pragma once

#include <xmlrpcpp/XmlRpcValue.h>

#include <cstddef>
#include <memory>
#include <string>

// Wakes an RPC call that is waiting for its answer, from another thread. Once signalled, every
// call made with it fails at once until Reset.
class RpcAbort {
public:
    RpcAbort();
    ~RpcAbort();
    RpcAbort(const RpcAbort&) = delete;
    RpcAbort& operator=(const RpcAbort&) = delete;

    void Signal();
    void Reset();
    bool IsSignalled() const;
    int Fd() const { return fd_; } // readable while signalled

private:
    int fd_ = -1;
};

// An XML-RPC client for one call at a time, with a time-out and an abort. The whole call (name
// lookup, connection, request, answer) fits in the time-out, and every address of a host is
// tried within it, in turn, an unanswered one going on beside the next; the request is sent once
// and never repeated. An answer larger than MaxAnswerBytes, nested deeper than MaxAnswerDepth
// values, or with two different lengths in its head is refused as a failed call, and is read no
// further than that.
class RpcClient {
public:
    static constexpr size_t MaxAnswerBytes = 4u << 20;
    static constexpr int MaxAnswerDepth = 32;

    // From an address text "bin://host:port" or "http://host:port/path". An address that cannot
    // be read gives a client whose calls fail.
    explicit RpcClient(const std::string& url);
    // Plain XML-RPC over HTTP to host:port, without a path.
    RpcClient(const std::string& host, int port);
    ~RpcClient();
    RpcClient(const RpcClient&) = delete;
    RpcClient& operator=(const RpcClient&) = delete;

    // Milliseconds a call may take in all (default 1000).
    void SetTimeout(int ms) { timeoutMs_ = ms; }

    // True when an answer arrived in time and result holds it (a fault answer included, see
    // IsFault); false when the call failed, timed out, was aborted or the answer was refused.
    bool Execute(const char* method, const XmlRpc::XmlRpcValue& params, XmlRpc::XmlRpcValue& result,
                 const RpcAbort* abort = nullptr);

    // True when the last answer was an RPC fault.
    bool IsFault() const { return fault_; }

    // Splits an address text into host, port and path; false when it is not of a known scheme
    // or has no valid port.
    static bool ParseUrl(const std::string& url, std::string& host, int& port, std::string& path);

    // Reads the XML of a methodResponse into result (the fault struct for a fault answer). False
    // for anything else: malformed XML, a document type declaration, an unknown element, a value
    // nested deeper than MaxAnswerDepth, or more than MaxAnswerBytes of text.
    static bool ReadAnswer(const std::string& xml, XmlRpc::XmlRpcValue& result, bool& fault);

private:
    std::string host_;
    std::string path_;
    int port_ = 0;
    bool valid_ = false;
    int timeoutMs_ = 1000;
    bool fault_ = false;
};
