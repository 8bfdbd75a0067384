#include "RpcDiagnostics.h"

#include <QtGlobal>

namespace {

MyLogHandler s_logHandler;
MyErrorHandler s_errorHandler;

void DebugTrace([[maybe_unused]] const char* text) {
#ifndef NDEBUG
    qDebug("%s", text);
#endif
}

} // namespace

void MyLogHandler::log(int level, const char* msg) {
    if (level <= getVerbosity())
        DebugTrace(msg);
}

void MyErrorHandler::error(const char* msg) {
    DebugTrace(msg);
}

void InstallRpcDiagnostics() {
    XmlRpc::XmlRpcLogHandler::setLogHandler(&s_logHandler);
    XmlRpc::XmlRpcErrorHandler::setErrorHandler(&s_errorHandler);
    XmlRpc::setVerbosity(0);
}
