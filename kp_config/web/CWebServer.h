#pragma once

#include <map>
#include <mutex>
#include <string>

struct mg_context;
struct mg_connection;

// Host of the local web server that serves the web UI and runs its CGI scripts.
//
// The HTTP engine runs its own listener and worker threads and parses each request; what is
// done with it is RequestHandler's, which keeps all requests inside the document root and runs
// CGI scripts (extensions cgi, pl and php) through the one interpreter of "-cgi_interp" with the
// CGI environment built from `cgiVariables` at the moment the script starts.
//
// All operations are called from one thread (the GUI thread). The server listens on
// 127.0.0.1 only.
class CWebServer {
public:
    CWebServer();
    ~CWebServer();
    CWebServer(const CWebServer&) = delete;
    CWebServer& operator=(const CWebServer&) = delete;

    // Option "-root": the directory served.
    void SetDocumentRoot(const std::string& path);
    // Option "-ports": the port in decimal; 0 lets the system choose one.
    void SetPort(int port);
    // Option "-cgi_interp": the program that runs every CGI script.
    void SetCgiInterpreter(const std::string& path);
    void ClearCgiVariables();
    void SetCgiVariable(const std::string& name, const std::string& value);
    // Changes "RADLEX_SERVICE" on a running (or stopped) server; the next CGI script started
    // sees the new value, scripts already running keep theirs.
    void UpdateRadlexService(const std::string& value);

    // Stops a running server, then starts anew from `options` and `cgiVariables`. False when
    // no server could be created (no socket, a refused option); the server then counts as
    // stopped.
    bool Start();
    // Stops the server and waits for its threads and CGI processes; harmless when stopped.
    void Stop();
    // The port the first listening socket is bound to; -1 when no server runs.
    int GetPort() const;
    bool IsRunning() const { return context != nullptr; }
    // The secret of this run, which every request must carry: 32 lowercase hexadecimal digits
    // (128 random bits), made anew by each Start; empty while no server runs.
    const std::string& GetToken() const { return token; }
    // The path prefix (without slashes) below which a browser that keeps the secret as its
    // cookie finds the web UI, as at "/": 32 random hexadecimal digits, made anew by each Start;
    // empty while no server runs.
    const std::string& GetMount() const { return mount; }

    // Limit on the run time of one CGI script, in milliseconds (default 30000); the script is
    // killed and the client gets an error page after it. Takes effect at the next Start.
    void SetCgiTimeout(int milliseconds);
    // Limit on the time a client may take to send its request, head and body, in milliseconds
    // (default 10000); a body that is not complete by then is answered 400 and never reaches a
    // script. Takes effect at the next Start.
    void SetRequestTimeout(int milliseconds);

    // The variables as "NAME=value" entries joined with ",", in map order (for logging).
    std::string JoinCgiVariables() const;

    // Server options in command-line form ("-root", "-ports", "-cgi_interp", ...). Change them
    // only while the server is stopped; they take effect at the next Start.
    std::map<std::string, std::string> options;
    // Extra environment variables of every CGI script, name to value. While a server runs,
    // change them only through UpdateRadlexService.
    std::map<std::string, std::string> cgiVariables;

private:
    struct RunConfig;

    static CWebServer& Of(const mg_connection* conn);
    static int HandleRequest(mg_connection* conn);
    int Dispatch(mg_connection* conn);
    std::map<std::string, std::string> SnapshotCgiVariables() const;

    mg_context* context = nullptr;
    std::string token;
    std::string mount;
    RunConfig* run = nullptr; // what the request threads read; fixed while a server runs
    int cgiTimeoutMs = 30000;
    int requestTimeoutMs = 10000;
    mutable std::mutex controlMutex; // guards cgiVariables while a server runs
};
