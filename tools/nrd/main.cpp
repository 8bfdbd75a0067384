// nrd: a stand-in for the radio service. It keeps the service's contract with kp_config and
// nothing more: it reads the configuration file, looks its one interface up, serves
// listRadlexInterfaces over XML-RPC on 127.0.0.1, reports its port in its log and posts the
// start-up event. See README.md beside this file.

#include "StandInOptions.h"

#include "CHIDDevice.h"
#include "LanInterface.h"
#include "PropertyMap.h"

#include <xmlrpcpp/XmlRpcException.h>
#include <xmlrpcpp/XmlRpcServer.h>
#include <xmlrpcpp/XmlRpcServerConnection.h>
#include <xmlrpcpp/XmlRpcServerMethod.h>
#include <xmlrpcpp/XmlRpcValue.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <semaphore.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>
#include <thread>

using XmlRpc::XmlRpcValue;

namespace {

constexpr int LanCheckPeriodMs = 3000;

std::atomic<bool> g_quit{false};

void OnSignal(int) {
    g_quit = true;
}

// The service log: one line per record, flushed at once so that kp_config reads whole lines.
class ServiceLog {
public:
    explicit ServiceLog(const std::string& path) {
        if (!path.empty())
            file_ = std::fopen(path.c_str(), "a");
    }
    ~ServiceLog() {
        if (file_)
            std::fclose(file_);
    }
    ServiceLog(const ServiceLog&) = delete;
    ServiceLog& operator=(const ServiceLog&) = delete;

    void Write(const std::string& text) {
        FILE* out = file_ ? file_ : stderr;
        char stamp[32];
        std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
        std::fprintf(out, "%s %s\n", stamp, text.c_str());
        std::fflush(out);
    }

private:
    FILE* file_ = nullptr;
};

// The one interface the service drives, as far as the stand-in knows it.
struct InterfaceStatus {
    std::string type; // "Lan Interface" or "USB Interface"
    std::string address;
    bool connected = false;
};

// Answers listRadlexInterfaces with one struct per interface, or misbehaves as told.
class ListInterfaces : public XmlRpc::XmlRpcServerMethod {
public:
    ListInterfaces(XmlRpc::XmlRpcServer* server, const StandInOptions& options,
                   const InterfaceStatus& status, ServiceLog& log)
        : XmlRpc::XmlRpcServerMethod("listRadlexInterfaces", server), options_(options),
          status_(status), log_(log) {}

    void execute(XmlRpcValue&, XmlRpcValue& result) override {
        ++calls_;
        // The first calls may be answered as they should be, so that a test sees what a later
        // odd answer does to a state that the answers have already set.
        const bool misbehave = calls_ > options_.normalFirst;
        if (misbehave && options_.answerDelayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(options_.answerDelayMs));
        if (misbehave && options_.fault) {
            Note("a fault");
            throw XmlRpc::XmlRpcException("interface list not available", 17);
        }
        if (misbehave && !options_.shape.empty()) {
            Note("the shape " + options_.shape);
            AnswerShape(result);
            return;
        }
        Note("the interface list");
        XmlRpcValue entry;
        entry["ADDRESS"] = status_.address;
        entry["CONNECTED"] = status_.connected;
        entry["TYPE"] = status_.type;
        result.setSize(1);
        result[0] = entry;
    }

private:
    // Answers of unexpected shape, for the client's tests.
    void AnswerShape(XmlRpcValue& result) const {
        const std::string& s = options_.shape;
        if (s == "empty") {
            result.setSize(0);
        } else if (s == "not-array") {
            result = "no list";
        } else if (s == "element-int") {
            result.setSize(1);
            result[0] = 7;
        } else if (s == "no-connected") {
            XmlRpcValue entry;
            entry["ADDRESS"] = status_.address;
            result.setSize(1);
            result[0] = entry;
        } else if (s == "connected-int") {
            XmlRpcValue entry;
            entry["CONNECTED"] = 1;
            entry["ADDRESS"] = status_.address;
            result.setSize(1);
            result[0] = entry;
        } else if (s == "address-int") {
            XmlRpcValue entry;
            entry["CONNECTED"] = true;
            entry["ADDRESS"] = 42;
            result.setSize(1);
            result[0] = entry;
        } else {
            result = XmlRpcValue();
            result.setSize(0);
        }
    }

    void Note(const std::string& answer) {
        if (options_.logCalls)
            log_.Write("call " + std::to_string(calls_) + " answered with " + answer);
    }

    const StandInOptions& options_;
    const InterfaceStatus& status_;
    ServiceLog& log_;
    long calls_ = 0;
};

// Bounds on a request, checked before the library's parser sees it: that parser recurses once per
// nested element and copies every level, so one request nested 100,000 deep would end the
// service and one nested 20,000 deep would hold it for seconds. A call of this service takes no
// parameters and is a few hundred bytes long.
constexpr size_t MaxRequestBytes = 64u << 10;
constexpr int MaxRequestDepth = 64;

// How deeply the elements of an XML text nest, counted in one pass without parsing it; a count
// above limit ends the pass. Comments and character data are skipped; a document type
// declaration, which the parser would not understand either, counts as too deep.
int ElementDepth(const std::string& xml, int limit) {
    int depth = 0;
    size_t at = xml.find('<');
    while (at != std::string::npos) {
        size_t end;
        if (xml.compare(at, 4, "<!--") == 0) {
            end = xml.find("-->", at + 4);
        } else if (xml.compare(at, 9, "<![CDATA[") == 0) {
            end = xml.find("]]>", at + 9);
        } else if (xml.compare(at, 2, "<!") == 0) {
            return limit + 1;
        } else {
            end = xml.find('>', at + 1);
            if (end == std::string::npos)
                break;
            if (xml[at + 1] == '/') {
                depth = depth > 0 ? depth - 1 : 0;
            } else if (xml[at + 1] != '?' && xml[end - 1] != '/' && ++depth > limit) {
                return depth;
            }
        }
        if (end == std::string::npos)
            break;
        at = xml.find('<', end + 1);
    }
    return depth;
}

// One client's connection, its request bounded before the library reads on or parses it.
class BoundedConnection : public XmlRpc::XmlRpcServerConnection {
public:
    BoundedConnection(int fd, XmlRpc::XmlRpcServer* server)
        : XmlRpc::XmlRpcServerConnection(fd, server, true) {}

    unsigned handleEvent(unsigned eventType) override {
        const unsigned next = XmlRpc::XmlRpcServerConnection::handleEvent(eventType);
        // A head or an announced length beyond the bound is read no further: the connection
        // ends, and the service goes on with the next one.
        const bool tooLarge =
            (_connectionState == READ_HEADER && _header.size() > MaxRequestBytes) ||
            (_connectionState == READ_REQUEST &&
             static_cast<size_t>(_contentLength) > MaxRequestBytes);
        return tooLarge ? 0 : next;
    }

protected:
    void executeRequest() override {
        if (_request.size() > MaxRequestBytes ||
            ElementDepth(_request, MaxRequestDepth) > MaxRequestDepth) {
            generateFaultResponse("request refused: larger than 64 KiB or nested deeper than 64 "
                                  "elements");
            _keepAlive = false;
            return;
        }
        XmlRpc::XmlRpcServerConnection::executeRequest();
    }
};

// The library's server binds every address; the stand-in serves the loopback address only.
class LoopbackServer : public XmlRpc::XmlRpcServer {
public:
    // Binds port (0: one the system chooses). While another program holds it, tries again for
    // up to waitMs milliseconds.
    bool BindLoopback(int port, int waitMs) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            return false;
        int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        int bound;
        while ((bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr)) != 0 &&
               errno == EADDRINUSE && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::yield(); // taken the moment it is free
        if (bound != 0 || ::listen(fd, 16) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            ::close(fd);
            return false;
        }
        setfd(fd);
        _port = ntohs(addr.sin_port);
        _disp.addSource(this, XmlRpc::XmlRpcDispatch::ReadableEvent);
        return true;
    }

protected:
    XmlRpc::XmlRpcServerConnection* createConnection(int socket) override {
        return new BoundedConnection(socket, this);
    }
};

bool LookUpLan(const std::string& serial, const std::string& key) {
    LanInterface lan;
    if (!lan.FindBySerial(serial))
        return false;
    lan.SetCryptKey(key);
    return true;
}

void PostEvent(const std::string& name, ServiceLog& log) {
    sem_t* sem = ::sem_open(name.c_str(), 0);
    if (sem == SEM_FAILED) {
        log.Write("start-up event " + name + " not found");
        return;
    }
    ::sem_post(sem);
    ::sem_close(sem);
}

} // namespace

int main(int argc, char** argv) {
    StandInOptions options;
    std::string error;
    if (!ParseStandInOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::cerr << "nrd: " << error << "\n"
                  << "usage: nrd -f <configuration file> -e <start-up event> [-t <behaviour>]...\n";
        return 2;
    }
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    PropertyMap config;
    bool configRead = config.ReadFromFile(options.configPath);
    ServiceLog log(config.GetStringValue("", "Log Filename"));
    if (!configRead) {
        log.Write("cannot read configuration file " + options.configPath);
        return 1;
    }
    log.Write("radio service stand-in starting");

    InterfaceStatus status;
    status.type = config.GetStringValue("Interface 0", "Type");
    const std::string serial = config.GetStringValue("Interface 0", "Serial Number");
    const std::string key = config.GetStringValue("Interface 0", "Encryption Key");
    // Held for the whole run, as the service holds its USB interface; closed when main returns.
    CHIDDevice usb(options.hidSysRoot, options.hidDevRoot);
    bool found = false;
    if (!options.present.empty()) {
        found = true;
        status.address = serial.empty() ? "TEST000001" : serial;
        status.connected = options.present == "up";
    } else if (status.type == "Lan Interface") {
        found = LookUpLan(serial, key);
        status.address = serial;
        status.connected = found;
    } else if (status.type == "USB Interface") {
        const int opened = usb.Open();
        found = opened == HidOpenOk;
        if (opened == HidOpenNoPermission)
            log.Write("USB interface attached, but this user may not open its HID node");
        if (found)
            usb.ReadOpenSerialNumber(&status.address);
        status.connected = found;
    }
    if (!found) {
        log.Write("No Radlex-Interface available");
        if (options.postEvent)
            PostEvent(options.eventName, log);
        return 1;
    }

    LoopbackServer server;
    ListInterfaces method(&server, options, status, log);
    if (!server.BindLoopback(config.GetIntValue("", "Listen Port", 0), options.takePortMs)) {
        log.Write("cannot listen on the loopback address");
        return 1;
    }
    if (options.longLine > 0)
        log.Write(std::string(static_cast<size_t>(options.longLine), 'x'));
    if (options.writeReadyLine)
        log.Write("XmlRpc Server is listening on TCP port " + std::to_string(server.get_port()));
    if (options.postEvent)
        PostEvent(options.eventName, log);

    using Clock = std::chrono::steady_clock;
    const Clock::time_point started = Clock::now();
    Clock::time_point nextCheck = started + std::chrono::milliseconds(LanCheckPeriodMs);
    const bool watchLan = options.present.empty() && status.type == "Lan Interface";
    while (!g_quit) {
        server.work(0.2); // seconds
        Clock::time_point now = Clock::now();
        if (options.exitAfterMs >= 0 &&
            now - started >= std::chrono::milliseconds(options.exitAfterMs)) {
            log.Write("exiting as told");
            break;
        }
        if (watchLan && now >= nextCheck) {
            bool connected = LookUpLan(serial, key);
            if (connected != status.connected)
                log.Write(std::string("interface ") + serial +
                          (connected ? " connected" : " lost"));
            status.connected = connected;
            nextCheck = Clock::now() + std::chrono::milliseconds(LanCheckPeriodMs);
        }
    }
    server.shutdown();
    return 0;
}
