#include "CgiGateway.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <strings.h>
#include <thread>

namespace CgiGateway {

namespace {

constexpr const char* kIndexFiles[] = {"index.html", "index.htm", "index.php", "index.cgi"};
constexpr size_t kMaxOutput = 64u << 20; // a larger answer is cut off and refused
constexpr size_t kMaxErrorOutput = 16u << 10;

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string::npos)
            end = path.size();
        std::string part = path.substr(pos, end - pos);
        if (!part.empty() && part != ".")
            parts.push_back(part);
        pos = end + 1;
    }
    return parts;
}

bool RealPath(const std::string& path, std::string& real) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return false;
    real = resolved;
    std::free(resolved);
    return true;
}

bool IsInside(const std::string& realRoot, const std::string& path) {
    std::string real;
    if (!RealPath(path, real))
        return false;
    if (real == realRoot)
        return true;
    const std::string prefix = realRoot == "/" ? "/" : realRoot + "/";
    return real.compare(0, prefix.size(), prefix) == 0;
}

ResolvedPath Kind(PathKind kind) {
    ResolvedPath r;
    r.kind = kind;
    return r;
}

// What `kind` names at `path`, by its real path; NotFound when that cannot be had.
ResolvedPath At(PathKind kind, const std::string& path, std::string scriptName = "",
                std::string pathInfo = "") {
    ResolvedPath r;
    if (!RealPath(path, r.file))
        return Kind(PathKind::NotFound);
    r.kind = kind;
    r.scriptName = std::move(scriptName);
    r.pathInfo = std::move(pathInfo);
    return r;
}

std::string HeaderVariableName(const std::string& header) {
    std::string name = "HTTP_";
    for (char c : header) {
        unsigned char u = static_cast<unsigned char>(c);
        name += std::isalnum(u) ? static_cast<char>(std::toupper(u)) : '_';
    }
    return name;
}

void SetNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Reads what is there; false at end of file or on a hard error.
bool Drain(int fd, std::string& into, size_t limit, bool& overflow) {
    char buf[16384];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            size_t room = into.size() < limit ? limit - into.size() : 0;
            into.append(buf, std::min(room, static_cast<size_t>(n)));
            if (static_cast<size_t>(n) > room)
                overflow = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

pid_t Spawn(const std::string& interpreter, const std::string& scriptFile,
            const std::vector<std::string>& environment, int stdinFd, int stdoutFd, int stderrFd) {
    size_t slash = scriptFile.rfind('/');
    std::string dir = slash == 0 ? "/" : scriptFile.substr(0, slash);
    std::string name = scriptFile.substr(slash + 1);

    std::vector<char*> argv{const_cast<char*>(interpreter.c_str()), name.data(), nullptr};
    std::vector<char*> envp;
    for (const std::string& e : environment)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
    posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    posix_spawn_file_actions_adddup2(&actions, stderrFd, 2);
    // No descriptor of the server (sockets of other clients, pipes of other scripts) reaches
    // the script, whatever its close-on-exec flag.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());

    // Own process group, so a timeout kills what the script started too; default signal
    // handling and an empty mask, since the server ignores SIGPIPE.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigfillset(&defaults);
    sigdelset(&defaults, SIGKILL);
    sigdelset(&defaults, SIGSTOP);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                        POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);

    pid_t pid = -1;
    int rc = posix_spawn(&pid, interpreter.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : -1;
}

int WaitBlocking(pid_t pid) {
    int status = -1;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

} // namespace

bool IsScriptName(const std::string& fileName) {
    size_t dot = fileName.rfind('.');
    if (dot == std::string::npos)
        return false;
    std::string ext = fileName.substr(dot + 1);
    return ext == "cgi" || ext == "pl" || ext == "php";
}

ResolvedPath ResolveRequestPath(const std::string& realRoot, const std::string& uriPath) {
    if (uriPath.empty() || uriPath[0] != '/')
        return Kind(PathKind::BadRequest);
    const std::vector<std::string> parts = SplitPath(uriPath);
    for (const std::string& part : parts)
        if (part == "..")
            return Kind(PathKind::Forbidden);

    std::string path = realRoot;
    std::string uriSoFar;
    for (size_t i = 0; i < parts.size(); ++i) {
        path += "/" + parts[i];
        uriSoFar += "/" + parts[i];
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            return Kind(PathKind::NotFound);
        if (!IsInside(realRoot, path))
            return Kind(PathKind::Forbidden);
        if (S_ISDIR(st.st_mode))
            continue;
        if (!S_ISREG(st.st_mode))
            return Kind(PathKind::Forbidden);
        std::string rest;
        for (size_t j = i + 1; j < parts.size(); ++j)
            rest += "/" + parts[j];
        if (IsScriptName(parts[i]))
            return At(PathKind::Script, path, uriSoFar, rest);
        return rest.empty() ? At(PathKind::File, path) : Kind(PathKind::NotFound);
    }

    // A directory: without its trailing slash it is redirected; otherwise its first index file
    // decides, and without one it is listed.
    if (uriPath.back() != '/')
        return Kind(PathKind::AddSlash);
    for (const char* index : kIndexFiles) {
        std::string file = path + "/" + index;
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (!IsInside(realRoot, file))
            return Kind(PathKind::Forbidden);
        if (IsScriptName(index))
            return At(PathKind::Script, file, uriSoFar + "/" + index);
        return At(PathKind::File, file);
    }
    return At(PathKind::Directory, path);
}

std::vector<std::string> BuildEnvironment(const ScriptRequest& request, const ResolvedPath& script,
                                          const std::string& documentRoot,
                                          const std::map<std::string, std::string>& hostVariables,
                                          const char* const* ownEnvironment) {
    std::vector<std::string> env;
    std::map<std::string, size_t> seen;
    auto add = [&](const std::string& name, const std::string& value) {
        if (seen.emplace(name, env.size()).second)
            env.push_back(name + "=" + value);
    };

    add("GATEWAY_INTERFACE", "CGI/1.1");
    add("SERVER_PROTOCOL", "HTTP/" + request.httpVersion);
    add("REDIRECT_STATUS", "200");
    add("SERVER_PORT", std::to_string(request.serverPort));
    add("SERVER_NAME", "127.0.0.1");
    add("SERVER_ROOT", documentRoot);
    add("DOCUMENT_ROOT", documentRoot);
    add("REQUEST_METHOD", request.method);
    add("REMOTE_ADDR", request.remoteAddr);
    add("REMOTE_PORT", std::to_string(request.remotePort));
    add("REQUEST_URI", request.uri + (request.hasQueryString ? "?" + request.queryString : ""));
    add("SCRIPT_NAME", script.scriptName);
    add("SCRIPT_FILENAME", script.file);
    add("PATH_TRANSLATED", script.file);
    add("CONTENT_LENGTH", std::to_string(request.body.size()));
    for (const auto& [name, value] : request.headers)
        if (strcasecmp(name.c_str(), "Content-Type") == 0) {
            add("CONTENT_TYPE", value);
            break;
        }
    if (request.hasQueryString)
        add("QUERY_STRING", request.queryString);
    if (!script.pathInfo.empty())
        add("PATH_INFO", script.pathInfo);

    for (const char* const* e = ownEnvironment; e && *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (!eq)
            continue;
        std::string name(*e, static_cast<size_t>(eq - *e));
        if (name == "PATH" || name == "COMSPEC" || name == "SYSTEMROOT" || name == "PERLLIB")
            add(name, eq + 1);
    }

    for (const auto& [name, value] : hostVariables)
        if (!name.empty() && name.find('=') == std::string::npos)
            add(name, value);

    // One variable per header; repeated headers are joined as HTTP joins them. "Proxy" is
    // left out: as HTTP_PROXY it would redirect a script's own outgoing requests.
    // A header spelt with "_" is left out: it would share its variable with the "-" spelling,
    // and one of the two could pass itself off as the other.
    for (const auto& [name, value] : request.headers) {
        std::string var = HeaderVariableName(name);
        if (var == "HTTP_PROXY" || name.find('_') != std::string::npos)
            continue;
        auto it = seen.find(var);
        if (it != seen.end() && var.compare(0, 5, "HTTP_") == 0)
            env[it->second] += ", " + value;
        else
            add(var, value);
    }
    return env;
}

bool ParseScriptOutput(const std::string& output, Http::Response& response) {
    size_t crlf = output.find("\r\n\r\n");
    size_t lf = output.find("\n\n");
    size_t end, bodyStart;
    if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf)) {
        end = crlf;
        bodyStart = crlf + 4;
    } else if (lf != std::string::npos) {
        end = lf;
        bodyStart = lf + 2;
    } else {
        return false;
    }

    response = Http::Response{};
    bool hasStatus = false, hasLocation = false;
    size_t pos = 0;
    while (pos < end) {
        size_t eol = output.find('\n', pos);
        if (eol == std::string::npos || eol > end)
            eol = end;
        std::string line = output.substr(pos, eol - pos);
        pos = eol + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0)
            return false;
        std::string name = line.substr(0, colon);
        if (name.find_first_of(" \t") != std::string::npos)
            return false;
        size_t v = line.find_first_not_of(" \t", colon + 1);
        std::string value = v == std::string::npos ? "" : line.substr(v);
        if (strcasecmp(name.c_str(), "Status") == 0) {
            char* after = nullptr;
            long code = std::strtol(value.c_str(), &after, 10);
            if (code < 100 || code > 599)
                return false;
            response.status = static_cast<int>(code);
            size_t r = value.find_first_not_of(" \t", static_cast<size_t>(after - value.c_str()));
            response.reason = r == std::string::npos ? "" : value.substr(r);
            hasStatus = true;
            continue;
        }
        if (strcasecmp(name.c_str(), "Location") == 0)
            hasLocation = true;
        response.headers.emplace_back(name, value);
    }
    if (hasLocation && !hasStatus)
        response.status = 302;
    response.body = output.substr(bodyStart);
    return true;
}

RunOutcome RunScript(const std::string& interpreter, const std::string& scriptFile,
                     const std::vector<std::string>& environment, const std::string& stdinData,
                     int timeoutMs, const std::atomic<bool>& stopFlag) {
    RunOutcome outcome;
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
        for (int* p : {in, out, err}) {
            CloseFd(p[0]);
            CloseFd(p[1]);
        }
        return outcome;
    }
    pid_t pid = Spawn(interpreter, scriptFile, environment, in[0], out[1], err[1]);
    CloseFd(in[0]);
    CloseFd(out[1]);
    CloseFd(err[1]);
    if (pid < 0) {
        CloseFd(in[1]);
        CloseFd(out[0]);
        CloseFd(err[0]);
        return outcome;
    }
    SetNonBlocking(in[1]);
    SetNonBlocking(out[0]);
    SetNonBlocking(err[0]);
    if (stdinData.empty())
        CloseFd(in[1]);
    // Tells when the script itself exits: a process it left running in the background may hold
    // its output open for much longer, and the answer must not wait for that.
    int exitFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t written = 0;
    bool overflow = false, errOverflow = false, exited = false;
    outcome.result = RunResult::Ok;
    while (out[0] >= 0 || err[0] >= 0) {
        if (stopFlag.load()) {
            outcome.result = RunResult::Stopped;
            break;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            outcome.result = RunResult::TimedOut;
            break;
        }
        pollfd fds[4];
        nfds_t n = 0;
        for (int fd : {out[0], err[0]})
            if (fd >= 0)
                fds[n++] = {fd, POLLIN, 0};
        if (in[1] >= 0)
            fds[n++] = {in[1], POLLOUT, 0};
        if (exitFd >= 0)
            fds[n++] = {exitFd, POLLIN, 0};
        // Short slices, so a stop of the server is seen quickly.
        int slice = static_cast<int>(std::min<long long>(left.count(), 100));
        if (::poll(fds, n, slice) < 0 && errno != EINTR)
            break;
        for (nfds_t i = 0; i < n; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].fd == exitFd) {
                // The script has ended and is not reaped yet, so its process group is still
                // its own: what it left running in the background ends with it.
                ::kill(-pid, SIGKILL);
                exited = ::waitpid(pid, &outcome.exitStatus, WNOHANG) == pid;
            } else if (fds[i].fd == in[1]) {
                ssize_t w = ::write(in[1], stdinData.data() + written, stdinData.size() - written);
                if (w > 0)
                    written += static_cast<size_t>(w);
                // A script that does not read its input, or has read all of it, gets an end of
                // file.
                if ((w < 0 && errno != EAGAIN && errno != EINTR) || written == stdinData.size())
                    CloseFd(in[1]);
            } else if (fds[i].fd == out[0]) {
                if (!Drain(out[0], outcome.output, kMaxOutput, overflow))
                    CloseFd(out[0]);
            } else if (!Drain(err[0], outcome.errorOutput, kMaxErrorOutput, errOverflow)) {
                CloseFd(err[0]);
            }
        }
        if (exited) {
            // Everything the script wrote before it exited is in the pipes now.
            if (out[0] >= 0)
                Drain(out[0], outcome.output, kMaxOutput, overflow);
            if (err[0] >= 0)
                Drain(err[0], outcome.errorOutput, kMaxErrorOutput, errOverflow);
        }
        if (overflow) {
            outcome.result = RunResult::TooLarge;
            break;
        }
        if (exited)
            break;
    }
    CloseFd(in[1]);
    CloseFd(out[0]);
    CloseFd(err[0]);
    CloseFd(exitFd);
    if (exited && outcome.result == RunResult::Ok)
        return outcome;

    // The script has closed its output; give it until the deadline to exit, then end it.
    if (outcome.result == RunResult::Ok && !exited) {
        for (;;) {
            // Seen ended but left unreaped, so that its group can still be ended as a whole.
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                info.si_pid == pid) {
                ::kill(-pid, SIGKILL);
                outcome.exitStatus = WaitBlocking(pid);
                return outcome;
            }
            if (Clock::now() >= deadline || stopFlag.load())
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        outcome.result = stopFlag.load() ? RunResult::Stopped : RunResult::TimedOut;
    }
    if (exited)
        return outcome; // reaped already; its group may belong to others by now
    // The child is not reaped yet, so its process group id cannot have been reused.
    ::kill(-pid, SIGKILL);
    outcome.exitStatus = WaitBlocking(pid);
    return outcome;
}

} // namespace CgiGateway
