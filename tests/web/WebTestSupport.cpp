#include "WebTestSupport.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

int Connect(const std::string& address, int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads until the server closes the connection, or 20 s pass without a byte.
std::string ReadToEnd(int fd) {
    std::string raw;
    char buf[65536];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20000) <= 0)
            break; // never hang a test on a server that does not answer
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        raw.append(buf, static_cast<size_t>(n));
    }
    return raw;
}

HttpAnswer ParseAnswer(const std::string& raw) {
    HttpAnswer answer;
    size_t end = raw.find("\r\n\r\n");
    if (raw.compare(0, 5, "HTTP/") != 0 || end == std::string::npos)
        return answer;
    answer.status = std::atoi(raw.c_str() + raw.find(' ') + 1);
    std::istringstream head(raw.substr(0, end));
    std::string line;
    std::getline(head, line);
    while (std::getline(head, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = line.substr(0, colon);
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        answer.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
    }
    answer.body = raw.substr(end + 4);
    return answer;
}

} // namespace

HttpAnswer SendRaw(const std::string& address, int port, const std::string& request) {
    int fd = Connect(address, port);
    if (fd < 0)
        return HttpAnswer();
    for (size_t sent = 0; sent < request.size();) {
        ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<size_t>(n);
    }
    std::string raw = ReadToEnd(fd);
    ::close(fd);
    return ParseAnswer(raw);
}

HttpAnswer Trickle(int port, const std::string& head, int intervalMs) {
    int fd = Connect("127.0.0.1", port);
    if (fd < 0)
        return HttpAnswer();
    ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
    for (int i = 0; i < 1000; ++i) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, intervalMs) > 0)
            break;
        if (::send(fd, "x", 1, MSG_NOSIGNAL) != 1)
            break;
    }
    std::string raw = ReadToEnd(fd);
    ::close(fd);
    return ParseAnswer(raw);
}

std::string OwnHeaders(int port, const std::string& token) {
    std::string lines = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
    if (!token.empty())
        lines += "Authorization: token " + token + "\r\n";
    return lines;
}

HttpAnswer Get(int port, const std::string& target, const std::string& token) {
    return SendRaw("127.0.0.1", port,
                   "GET " + target + " HTTP/1.0\r\n" + OwnHeaders(port, token) + "\r\n");
}

HttpAnswer Post(int port, const std::string& target, const std::string& body,
                const std::string& token) {
    return SendRaw("127.0.0.1", port,
                   "POST " + target + " HTTP/1.0\r\n" + OwnHeaders(port, token) +
                       "Content-Type: text/plain\r\n"
                       "Content-Length: " +
                       std::to_string(body.size()) + "\r\n\r\n" + body);
}

int ConnectTo(int port) {
    return Connect("127.0.0.1", port);
}

OtherUser::OtherUser(const std::function<void(int report)>& part) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return;
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::close(fds[0]);
        if (HasOwnUid() && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 ||
                            ::setuid(65534) != 0))
            ::_exit(3);
        // Never outlives the test (set after the change of user, which clears it).
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent)
            ::_exit(4);
        part(fds[1]);
        ::_exit(0);
    }
    ::close(fds[1]);
    report_ = fds[0];
}

OtherUser::~OtherUser() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (report_ >= 0)
        ::close(report_);
}

std::string OtherUser::ReadUntil(char end, int timeoutMs) {
    std::string text;
    char c = 0;
    for (;;) {
        pollfd p{report_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return text;
        const ssize_t n = ::read(report_, &c, 1);
        if (n <= 0 || c == end)
            return text;
        text += c;
    }
}

bool CanConnect(const std::string& address, int port) {
    int fd = Connect(address, port);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

ScratchDir::ScratchDir(const std::string& name) {
    path = std::string(VK_BINARY_DIR) + "/web-test-" + name + "-" + std::to_string(::getpid());
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

void ScratchDir::Write(const std::string& relative, const std::string& content) const {
    std::filesystem::path file = path + "/" + relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << content;
}

bool ScratchDir::Exists(const std::string& relative) const {
    return std::filesystem::exists(path + "/" + relative);
}

int CountOpenDescriptors() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (dirent* e = ::readdir(dir))
            count += e->d_name[0] != '.';
        ::closedir(dir);
    }
    return count - 1; // the directory's own descriptor
}

std::map<std::string, std::string> ParseEnvironment(const std::string& body) {
    std::map<std::string, std::string> env;
    std::istringstream in(body);
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos && line[0] != '#')
            env[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return env;
}
