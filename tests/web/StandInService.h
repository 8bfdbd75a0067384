#pragma once

// A stand-in radio service for the web UI tests. Its XML-RPC server listens on every address,
// so it is used only inside a private network namespace.
#include <xmlrpcpp/XmlRpc.h>

#include <atomic>
#include <string>
#include <thread>

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
    std::string Url() const { return "bin://127.0.0.1:" + std::to_string(port) + "/"; }

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
