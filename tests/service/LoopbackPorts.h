#pragma once

// Loopback ports for the service tests and the service benchmark.

#include "RpcClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

// A loopback port on which nobody listens.
inline int FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// The port of a service address such as "bin://127.0.0.1:2001"; 0 when it has none.
inline int PortOf(const std::string& url) {
    std::string host, path;
    int port = 0;
    return RpcClient::ParseUrl(url, host, port, path) ? port : 0;
}
