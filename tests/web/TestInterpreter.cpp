// A stand-in CGI interpreter for the web server tests. It is started like the Tcl shell, with
// the script's file name as its only argument, and acts on the script's first word:
//   env        prints its arguments, directory, open descriptors and whole environment
//   echo       copies standard input to the answer
//   wait-env   creates "started" in its directory, waits 800 ms, then acts as env
//   hang       prints nothing and sleeps for a minute
//   garbage    prints text without a header block
//   status     answers 404 with a Status header of its own
//   location   answers with a Location header only
//   marker     creates "ran" in its directory and answers "ran"
//   background answers at once, leaving a process that holds its output open for 5 s; its
//              process id goes to "bgpid"
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

void PrintEnvironment(const char* arg) {
    std::cout << "Content-Type: text/plain\r\n\r\n";
    char cwd[4096] = "";
    if (!getcwd(cwd, sizeof cwd))
        cwd[0] = 0;
    std::cout << "#arg=" << arg << "\n#cwd=" << cwd << "\n#fds=";
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(dir))
            if (e->d_name[0] != '.' && std::stoi(e->d_name) != dirfd(dir))
                std::cout << e->d_name << ' ';
        closedir(dir);
    }
    std::cout << "\n";
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    std::sort(env.begin(), env.end());
    for (const std::string& e : env)
        std::cout << e << "\n";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "expected exactly one argument\n";
        return 2;
    }
    std::ifstream script(argv[1]);
    std::string word;
    script >> word;
    script.close(); // the script's own descriptor is not one the server handed over
    if (word == "env") {
        PrintEnvironment(argv[1]);
    } else if (word == "echo") {
        std::string body((std::istreambuf_iterator<char>(std::cin)),
                         std::istreambuf_iterator<char>());
        std::cout << "Content-Type: application/octet-stream\n\n" << body;
    } else if (word == "wait-env") {
        std::ofstream("started") << "1";
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        PrintEnvironment(argv[1]);
    } else if (word == "hang") {
        std::this_thread::sleep_for(std::chrono::seconds(60));
    } else if (word == "garbage") {
        std::cerr << "Fehler im Skript\n";
        std::cout << "just some text";
        return 1;
    } else if (word == "status") {
        std::cout << "Status: 404 Nicht da\nContent-Type: text/plain\n\nweg";
    } else if (word == "location") {
        std::cout << "Location: /index.htm\n\n";
    } else if (word == "background") {
        std::cout << "Content-Type: text/plain\n\nfertig" << std::flush;
        if (pid_t child = fork(); child == 0) {
            std::this_thread::sleep_for(std::chrono::seconds(5));
            _exit(0);
        } else {
            std::ofstream("bgpid") << child;
        }
    } else if (word == "marker") {
        std::ofstream("ran") << "1";
        std::cout << "Content-Type: text/plain\n\nran";
    } else {
        std::cerr << "unknown script word '" << word << "'\n";
        return 2;
    }
    return 0;
}
