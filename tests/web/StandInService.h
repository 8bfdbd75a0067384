#pragma once

// Stand-in radio services for the web UI tests. The XML-RPC server of StandInService listens on
// every address, so it is used only inside a private network namespace.
#include <xmlrpcpp/XmlRpc.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>

// A radio service that answers listRadlexInterfaces with two interfaces, or with a fault.
class StandInService {
public:
    enum Mode { Connected, Disconnected, Fault };

    explicit StandInService(Mode mode) : method(&server, mode) {
        server.bindAndListen(0);
        port = server.get_port();
        worker = std::thread([this] {
            while (!stop)
                server.work(0.05);
        });
    }
    ~StandInService() {
        stop = true;
        worker.join();
        server.shutdown();
    }
    std::string Url() const { return "bin://127.0.0.1:" + Port() + "/"; }
    std::string Port() const { return std::to_string(port); }

private:
    class ListMethod : public XmlRpc::XmlRpcServerMethod {
    public:
        ListMethod(XmlRpc::XmlRpcServer* s, Mode m)
            : XmlRpc::XmlRpcServerMethod("listRadlexInterfaces", s), mode(m) {}
        void execute(XmlRpc::XmlRpcValue&, XmlRpc::XmlRpcValue& result) override {
            if (mode == Fault)
                throw XmlRpc::XmlRpcException("Interface blockiert");
            result[0]["ADDRESS"] = std::string("0123456789");
            result[0]["CONNECTED"] = mode == Connected;
            result[1]["ADDRESS"] = std::string("<b>98&76</b>");
            result[1]["CONNECTED"] = false;
        }

    private:
        Mode mode;
    };

    XmlRpc::XmlRpcServer server;
    ListMethod method;
    int port = 0;
    std::atomic<bool> stop{false};
    std::thread worker;
};

// A radio service that answers every call with the same XML text, on the IPv4 or the IPv6
// loopback address, for answers shaped as other servers write them.
class RawAnswerService {
public:
    RawAnswerService(std::string xml, bool ipv6) : answer(std::move(xml)) {
        fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage address{};
        socklen_t length;
        if (ipv6) {
            auto& a6 = reinterpret_cast<sockaddr_in6&>(address);
            a6.sin6_family = AF_INET6;
            a6.sin6_addr = in6addr_loopback;
            length = sizeof a6;
        } else {
            auto& a4 = reinterpret_cast<sockaddr_in&>(address);
            a4.sin_family = AF_INET;
            a4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof a4;
        }
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(fd, 8) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return; // port stays 0: no such loopback address here
        port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                          : reinterpret_cast<sockaddr_in&>(address).sin_port);
        worker = std::thread([this] { Serve(); });
    }
    ~RawAnswerService() {
        stop = true;
        if (worker.joinable())
            worker.join();
        ::close(fd);
    }
    int port = 0;

private:
    void Serve() {
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            int c = ::accept(fd, nullptr, nullptr);
            if (c < 0)
                continue;
            std::string request;
            char buf[4096];
            for (;;) {
                pollfd q{c, POLLIN, 0};
                ssize_t n = ::poll(&q, 1, 2000) > 0 ? ::recv(c, buf, sizeof buf, 0) : 0;
                if (n <= 0)
                    break;
                request.append(buf, static_cast<size_t>(n));
                size_t end = request.find("\r\n\r\n");
                size_t at = request.find("Content-Length: ");
                if (end != std::string::npos && at != std::string::npos &&
                    request.size() >= end + 4 + std::stoul(request.substr(at + 16)))
                    break;
            }
            std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                                std::to_string(answer.size()) + "\r\nConnection: close\r\n\r\n" +
                                answer;
            ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
            ::close(c);
        }
    }

    std::string answer;
    int fd = -1;
    std::atomic<bool> stop{false};
    std::thread worker;
};

// An answer as a pretty-printing server writes it: the serial number of the first interface in
// a CDATA section, UTF-8 text, a nested struct whose members must not be taken for the
// interface's own.
inline const std::string kPrettyAnswer =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<methodResponse>\n  <params>\n    <param>\n      <value>\n        <array>\n          <data>\n"
    "            <value>\n              <struct>\n"
    "                <member>\n                  <name>INFO</name>\n"
    "                  <value><struct>\n"
    "                    <member><name>ADDRESS</name><value>WRONG</value></member>\n"
    "                    <member><name>CONNECTED</name><value><boolean>0</boolean></value>"
    "</member>\n"
    "                  </struct></value>\n                </member>\n"
    "                <member>\n                  <name>ADDRESS</name>\n"
    "                  <value><string><![CDATA[K\xC3\xBC"
    "che-\xCE\xA9<1>]]></string></value>\n"
    "                </member>\n"
    "                <member>\n                  <name>CONNECTED</name>\n"
    "                  <value>\n                    <boolean> 1 </boolean>\n"
    "                  </value>\n                </member>\n"
    "              </struct>\n            </value>\n"
    "          </data>\n        </array>\n      </value>\n    </param>\n  </params>\n"
    "</methodResponse>\n";
