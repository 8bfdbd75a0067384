#pragma once

#include <xmlrpcpp/XmlRpcUtil.h>

// The RPC library's log and error messages go to the debug trace only: to Qt's debug output in
// debug builds, nowhere in release builds. They never reach the console or the log file.
class MyLogHandler : public XmlRpc::XmlRpcLogHandler {
public:
    void log(int level, const char* msg) override;
};

class MyErrorHandler : public XmlRpc::XmlRpcErrorHandler {
public:
    void error(const char* msg) override;
};

// Installs both handlers into the RPC library and sets its verbosity to 0.
void InstallRpcDiagnostics();
