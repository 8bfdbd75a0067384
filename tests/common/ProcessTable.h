#pragma once

// The machine's processes as /proc shows them, for tests and benchmarks that look for the
// processes a program leaves behind or count their memory.

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace proctable {

struct Process {
    int pid = 0;
    int parent = 0;
    char state = 0; // 'Z' for a zombie
    std::string name;
};

// Process id, parent, state and name from /proc/<pid>/stat; false when it is gone.
inline bool ReadProcess(int pid, Process& out) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t open = line.find('(');
    const size_t close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos ||
        std::sscanf(line.c_str() + close + 1, " %c %d", &out.state, &out.parent) != 2)
        return false;
    out.pid = pid;
    out.name = line.substr(open + 1, close - open - 1);
    return true;
}

// Every process, read once.
inline std::vector<Process> ReadAll() {
    std::vector<Process> all;
    if (DIR* d = ::opendir("/proc")) {
        while (dirent* e = ::readdir(d)) {
            Process p;
            if (const int pid = std::atoi(e->d_name); pid > 0 && ReadProcess(pid, p))
                all.push_back(p);
        }
        ::closedir(d);
    }
    return all;
}

// The children of root, their children, and so on.
inline std::vector<Process> Descendants(int root) {
    const std::vector<Process> all = ReadAll();
    std::set<int> family{root};
    std::vector<Process> found;
    for (bool grew = true; grew;) {
        grew = false;
        for (const Process& p : all)
            if (family.count(p.parent) && family.insert(p.pid).second) {
                found.push_back(p);
                grew = true;
            }
    }
    return found;
}

// True while the process runs (a zombie has ended).
inline bool Alive(int pid) {
    Process p;
    return ReadProcess(pid, p) && p.state != 'Z';
}

// Resident memory in KiB (VmRSS), 0 when the process is gone.
inline long ResidentKb(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

} // namespace proctable
