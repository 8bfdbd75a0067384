#pragma once

// Helpers of the web server tests: a minimal HTTP/1.0 client for 127.0.0.1, a scratch
// document root, and a process that plays another local user.
#include <sys/types.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>

struct HttpAnswer {
    int status = 0;                             // 0 when no answer came
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
};

// Sends `request` (a complete HTTP request) to address:port and reads the answer to its end.
HttpAnswer SendRaw(const std::string& address, int port, const std::string& request);
// Sends `head`, then one byte of body every intervalMs until the server answers.
HttpAnswer Trickle(int port, const std::string& head, int intervalMs);
// A request to the server's own name, carrying `token` as "Authorization: token <token>"
// (none when empty).
HttpAnswer Get(int port, const std::string& target, const std::string& token = "");
HttpAnswer Post(int port, const std::string& target, const std::string& body,
                const std::string& token = "");
// The Host and Authorization lines of such a request.
std::string OwnHeaders(int port, const std::string& token);

// True when a TCP connection to address:port is accepted.
bool CanConnect(const std::string& address, int port);
// A connected socket to 127.0.0.1:port, or -1.
int ConnectTo(int port);

// Another local user, played by a child process: as root it takes the uid and gid 65534 first;
// otherwise it is a process of its own that knows only what `part` is given. `part` writes what
// it has to tell to the descriptor it gets; the child ends when `part` returns, or at the
// latest when this object is destroyed.
class OtherUser {
public:
    explicit OtherUser(const std::function<void(int report)>& part);
    ~OtherUser();
    OtherUser(const OtherUser&) = delete;
    OtherUser& operator=(const OtherUser&) = delete;
    // What the child has written up to the first `end` byte (not included), up to its end, or
    // up to a wait of timeoutMs for its next byte.
    std::string ReadUntil(char end, int timeoutMs);
    // Whether the child runs under a uid of its own.
    static bool HasOwnUid() { return ::geteuid() == 0; }

private:
    pid_t pid_ = -1;
    int report_ = -1;
};

// A fresh directory under the build tree, removed by the destructor.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& name);
    ~ScratchDir();
    const std::string& Path() const { return path; }
    void Write(const std::string& relative, const std::string& content) const;
    bool Exists(const std::string& relative) const;

private:
    std::string path;
};

// The descriptors open in this process.
int CountOpenDescriptors();
// Lines "NAME=value" of an env script's answer, by name.
std::map<std::string, std::string> ParseEnvironment(const std::string& body);
