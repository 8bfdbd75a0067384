// The Debian package as a user meets it: made from this build by CPack, checked for its files,
// control fields and lintian's findings; then installed into this machine with dpkg, its programs
// run from the PATH (lancfg against simulated devices in this test's private network namespace,
// kp_config offscreen until its web server serves the web UI), and removed again, leaving nothing.

#include "SimFixture.h"
#include "WebTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kPackage = "velantrix-konfigurator";

// Tags lintian may report (errors and warnings), each with the reason it is accepted.
const std::set<std::string> kAcceptedTags = {
    // The udev rule names the USB interface's vendor and product; the package ships no AppStream
    // metadata (a software centre's hardware lookup) to announce that device as well.
    "appstream-metadata-missing-modalias-provide",
    // CPack adds an ldconfig call for any shared library below /usr/lib, here the private
    // corekit in the programs' folder; the call finds nothing to do and does no harm.
    "maintscript-calls-ldconfig",
};

struct Outcome {
    int code;
    std::string output; // standard output and standard error
};

// Runs a shell command line and collects what it prints.
Outcome Shell(const std::string& command) {
    std::FILE* pipe = ::popen(("{ " + command + "; } 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return {-1, "popen failed"};
    std::string output;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

bool Have(const std::string& program) {
    return Shell("command -v " + program).code == 0;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A temporary folder, removed with its contents at the end of the scope.
struct TempDir {
    fs::path path;
    TempDir() {
        char name[] = "/tmp/vk-package-XXXXXX";
        path = ::mkdtemp(name) ? name : "";
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

// Makes the .deb of this build in folder; its path, or empty with the reason in why.
std::string MakePackage(const fs::path& folder, std::string& why) {
    const Outcome made =
        Shell(std::string(VK_CPACK) + " --config " VK_BINARY_DIR "/CPackConfig.cmake -B " +
              folder.string());
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".deb")
            return entry.path().string();
    why = made.output;
    return "";
}

std::string Field(const std::string& deb, const std::string& name) {
    Outcome field = Shell("dpkg-deb -f " + deb + " " + name);
    while (!field.output.empty() && field.output.back() == '\n')
        field.output.pop_back();
    return field.output;
}

// The paths of the package's files and links, without the leading "." ("/usr/bin/lancfg").
std::vector<std::string> PackageFiles(const std::string& deb) {
    std::vector<std::string> files;
    std::istringstream listing(Shell("dpkg-deb --fsys-tarfile " + deb + " | tar -t").output);
    for (std::string line; std::getline(listing, line);)
        if (!line.empty() && line.back() != '/')
            files.push_back(line.substr(1));
    return files;
}

// Whether dpkg knows the package in any state but removed and purged.
bool Present() {
    const Outcome status =
        Shell("dpkg-query -W -f='${db:Status-Status}' " + kPackage + " 2>/dev/null");
    return !status.output.empty() && status.output != "not-installed";
}

// dpkg, waiting while another package manager holds its lock.
Outcome Dpkg(const std::string& arguments) {
    Outcome outcome;
    for (int attempt = 0; attempt < 60; ++attempt) {
        outcome = Shell("dpkg " + arguments);
        if (outcome.code == 0 || outcome.output.find("lock") == std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    return outcome;
}

// The port of the TCP socket that process pid listens on at 127.0.0.1, or 0.
int ListeningPort(int pid) {
    std::set<std::string> sockets;
    std::error_code error;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const std::string target = fs::read_symlink(fd.path(), error).string();
        if (target.rfind("socket:[", 0) == 0)
            sockets.insert(target.substr(8, target.size() - 9));
    }
    std::istringstream table(ReadFile("/proc/" + std::to_string(pid) + "/net/tcp"));
    std::string line;
    std::getline(table, line); // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode;
        if (state == "0A" && local.rfind("0100007F:", 0) == 0 && sockets.count(inode))
            return std::stoi(local.substr(9), nullptr, 16);
    }
    return 0;
}

// Installs the package and removes it (with dpkg --purge) however the test ends. Tests of other
// builds on this machine wait for each other on a lock; the note in the lock file lets a later
// run remove what a run killed while it was installed left behind.
class Installation {
public:
    Installation() {
        const char* folder = fs::is_directory("/run/lock") ? "/run/lock" : "/tmp";
        lock_ = ::open((std::string(folder) + "/vk-package-test.lock").c_str(),
                       O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        locked_ = lock_ >= 0 && ::flock(lock_, LOCK_EX) == 0;
    }
    ~Installation() {
        if (locked_ && LeftByThisTest())
            Remove();
        if (lock_ >= 0)
            ::close(lock_);
    }
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    bool Locked() const { return locked_; }
    // Whether the package on this machine is one this test installed and could not remove.
    bool LeftByThisTest() const {
        char note[16] = {};
        return ::pread(lock_, note, sizeof note - 1, 0) > 0 && std::string(note) == "installed";
    }
    Outcome Install(const std::string& deb) {
        Note("installed");
        return Dpkg("-i " + deb);
    }
    Outcome Remove() {
        Outcome removed = Dpkg("--purge " + kPackage);
        if (!Present())
            Note("");
        return removed;
    }

private:
    void Note(const std::string& text) {
        if (::ftruncate(lock_, 0) == 0 && ::pwrite(lock_, text.data(), text.size(), 0) < 0)
            std::perror("lock note");
    }

    int lock_ = -1;
    bool locked_ = false;
};

// A program started with its own environment, ended by SIGTERM (or SIGKILL) at the latest when
// the test ends. Its standard output and error go to a file.
class Program {
public:
    Program(const std::string& name, const std::vector<std::string>& environment,
            const fs::path& log) {
        std::string program = name;
        std::vector<char*> args{program.data(), nullptr};
        std::vector<char*> env;
        for (const auto& entry : environment)
            env.push_back(const_cast<char*>(entry.c_str()));
        env.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        // Looked up on the PATH of the new environment.
        if (::posix_spawnp(&pid_, name.c_str(), &actions, nullptr, args.data(), env.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Program() {
        if (Running() && Stop(std::chrono::seconds(15)) < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    int Pid() const { return pid_; }
    bool Running() {
        int status = 0;
        if (pid_ > 0 && status_ < 0 && ::waitpid(pid_, &status, WNOHANG) == pid_)
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return pid_ > 0 && status_ < 0;
    }

    // Sends SIGTERM and waits up to limit: the exit status, or -1 when it did not end.
    int Stop(std::chrono::seconds limit) {
        if (Running())
            ::kill(pid_, SIGTERM);
        const auto end = std::chrono::steady_clock::now() + limit;
        while (Running() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return status_;
    }

private:
    pid_t pid_ = -1;
    int status_ = -1; // the exit status once it ended
};

class PackageTest : public simtest::SimTest {};

TEST_F(PackageTest, DebHoldsTheProgramsAndLintianAcceptsIt) {
    for (const char* tool : {"dpkg-deb", "dpkg-shlibdeps", "lintian", "desktop-file-validate"}) {
        if (!Have(tool))
            GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh installs it)";
    }
    TempDir dir;
    std::string why;
    const std::string deb = MakePackage(dir.path, why);
    ASSERT_FALSE(deb.empty()) << why;

    EXPECT_EQ(Field(deb, "Package"), kPackage);
    EXPECT_EQ(Field(deb, "Version"), VK_PRODUCT_VERSION);
    EXPECT_EQ(Field(deb, "Architecture") + "\n", Shell("dpkg --print-architecture").output);
    EXPECT_EQ(Field(deb, "Section"), "net");
    EXPECT_NE(Field(deb, "Maintainer").find('@'), std::string::npos);
    EXPECT_NE(Field(deb, "Description").find('\n'), std::string::npos) << "no long description";
    // The libraries the programs link, and the packages they run without linking them.
    const std::string depends = ", " + Field(deb, "Depends") + ",";
    std::istringstream runtime(ReadFile(VK_SOURCE_DIR "/packaging/runtime-packages.txt"));
    std::vector<std::string> needed{"libqt6webenginewidgets6", "libcivetweb1", "libxmlrpcpp3d"};
    for (std::string line; std::getline(runtime, line);)
        if (!line.empty() && line[0] != '#')
            needed.push_back(line);
    for (const std::string& package : needed)
        EXPECT_TRUE(depends.find(", " + package + ",") != std::string::npos ||
                    depends.find(", " + package + " (") != std::string::npos)
            << package << " missing from Depends: " << depends;

    const std::vector<std::string> files = PackageFiles(deb);
    const std::set<std::string> have(files.begin(), files.end());
    const std::string lib = "/usr/lib/" + kPackage + "/", share = "/usr/share/";
    const std::vector<std::string> expected = {"/usr/bin/lancfg",
                                               "/usr/bin/lancfg_gui",
                                               "/usr/bin/kp_config",
                                               lib + "lancfg",
                                               lib + "lancfg_gui",
                                               lib + "kp_config",
                                               lib + "nrd",
                                               lib + "libcorekit.so.1",
                                               lib + "www",
                                               lib + "tclsh85t",
                                               lib + "tcl_lib",
                                               share + kPackage + "/www/index.htm",
                                               "/lib/udev/rules.d/70-velantrix-kp-cfg-usb.rules",
                                               share + "applications/lancfg_gui.desktop",
                                               share + "applications/kp_config.desktop",
                                               share + "icons/hicolor/48x48/apps/lancfg_gui.png",
                                               share + "icons/hicolor/48x48/apps/kp_config.png",
                                               share + "man/man1/lancfg.1.gz",
                                               share + "man/man1/lancfg_gui.1.gz",
                                               share + "man/man1/kp_config.1.gz",
                                               share + "bash-completion/completions/lancfg",
                                               share + "doc/" + kPackage + "/copyright"};
    for (const std::string& file : expected)
        EXPECT_TRUE(have.count(file)) << file << " is not in the package";

    // No installed file names the build or the source folder, and the programs find corekit
    // beside themselves only.
    const fs::path root = dir.path / "root";
    ASSERT_EQ(Shell("dpkg-deb -x " + deb + " " + root.string()).code, 0);
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file() || entry.is_symlink())
            continue;
        const std::string content = ReadFile(entry.path());
        EXPECT_EQ(content.find(VK_BINARY_DIR), std::string::npos) << entry.path();
        EXPECT_EQ(content.find(VK_SOURCE_DIR), std::string::npos) << entry.path();
        if (content.rfind("\177ELF", 0) == 0) {
            const Outcome paths = Shell("readelf -d " + entry.path().string() +
                                        " | grep -E 'RPATH|RUNPATH' | grep -v '\\[\\$ORIGIN\\]$'");
            EXPECT_EQ(paths.output, "") << entry.path();
        }
    }

    for (const char* desktop : {"lancfg_gui", "kp_config"}) {
        const Outcome valid = Shell("desktop-file-validate " + root.string() +
                                    "/usr/share/applications/" + desktop + ".desktop");
        EXPECT_EQ(valid.code, 0) << valid.output;
        EXPECT_EQ(valid.output, "");
    }

    const Outcome lintian = Shell("lintian " + deb);
    std::istringstream lines(lintian.output);
    for (std::string line; std::getline(lines, line);) {
        // "W: velantrix-konfigurator: tag-name details"
        if (line.size() < 3 || line[1] != ':' || line.find(kPackage + ": ") != 3)
            continue;
        const std::string rest = line.substr(3 + kPackage.size() + 2);
        EXPECT_TRUE(kAcceptedTags.count(rest.substr(0, rest.find(' ')))) << line;
    }
}

TEST_F(PackageTest, InstalledProgramsRunAndRemovalLeavesNothing) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "installing into this machine needs root";
    if (!Have("dpkg") || !Have("dpkg-deb"))
        GTEST_SKIP() << "no dpkg on this machine";
    Installation installation;
    ASSERT_TRUE(installation.Locked());
    if (Present() && !installation.LeftByThisTest())
        GTEST_SKIP() << kPackage << " is installed on this machine; the test would replace it";
    if (Present()) {
        ASSERT_EQ(installation.Remove().code, 0) << "removing what a killed run left";
    }

    TempDir dir;
    std::string why;
    const std::string deb = MakePackage(dir.path, why);
    ASSERT_FALSE(deb.empty()) << why;
    const std::vector<std::string> files = PackageFiles(deb);
    const Outcome installed = installation.Install(deb);
    ASSERT_EQ(installed.code, 0) << installed.output;

    // What the programs find beside themselves leads to the installed files.
    const fs::path lib = "/usr/lib/" + kPackage;
    for (const fs::path& file : {lib / "www/index.htm", lib / "tclsh85t", lib / "tcl_lib/init.tcl"})
        EXPECT_TRUE(fs::is_regular_file(file)) << file;

    // The console tool from the PATH, with its completion.
    StartWith({simtest::PlainDevice()});
    const std::string path = "PATH=/usr/local/bin:/usr/bin:/bin";
    Outcome run = Shell("env " + path + " lancfg --version");
    EXPECT_EQ(run.output, "lancfg " VK_PRODUCT_VERSION "\n");
    run = Shell("env " + path + " lancfg list");
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.output,
              "KPL0000001  1.234 Run 192.168.1.50/255.255.255.0 GW=192.168.1.1 STAT PLAIN\n");
    // What <Tab> offers after "lancfg ", after "-d" and after "-f kp" among firmware files.
    std::ofstream(dir.path / "kplan_1.enc") << "0001AA";
    std::ofstream(dir.path / "complete.sh") << R"sh(. /usr/share/bash-completion/completions/lancfg
complete -p lancfg
for words in "lancfg ''" "lancfg set X -d ''" "lancfg fwupdate X -f kp"; do
    eval "COMP_WORDS=($words)"
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _lancfg
    echo "${COMPREPLY[*]}"
done
)sh";
    run = Shell("cd " + dir.path.string() + " && bash complete.sh");
    EXPECT_EQ(run.output, "complete -F _lancfg lancfg\n"
                          "list show set fwupdate apply history watch export forget -a --help --version\n"
                          "on off\n"
                          "kplan_1.enc\n");

    // kp_config from the PATH, offscreen, in a throw-away home whose stored connection is the
    // simulated LAN interface: its web server serves the home page and runs the web UI's scripts.
    const fs::path home = dir.path / "home";
    fs::create_directories(home / ".config/vK-7");
    fs::create_directories(dir.path / "tmp");
    fs::create_directory(dir.path / "run");
    fs::permissions(dir.path / "run", fs::perms::owner_all);
    std::ofstream(home / ".config/vK-7/Velantrix Konfigurator.conf")
        << "[Config]\nConnection=1\nLanifSerial=KPL0000001\n";
    {
        Program kpConfig("kp_config",
                         {path, "HOME=" + home.string(), "TMPDIR=" + (dir.path / "tmp").string(),
                          "XDG_RUNTIME_DIR=" + (dir.path / "run").string(),
                          "QT_QPA_PLATFORM=offscreen"},
                         dir.path / "kp_config.out");
        ASSERT_GT(kpConfig.Pid(), 0);
        int port = 0;
        for (int i = 0; i < 600 && port == 0 && kpConfig.Running(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            port = ListeningPort(kpConfig.Pid());
        }
        ASSERT_NE(port, 0) << ReadFile(dir.path / "kp_config.out");
        // Another program of the same user finds the web UI and its secret in the runtime file,
        // which is written once the web server listens, before the window shows.
        const fs::path runtimeFile =
            dir.path / "run" / kPackage / ("kp_config-" + std::to_string(kpConfig.Pid()) + ".json");
        std::string runtime = ReadFile(runtimeFile);
        for (int i = 0; i < 100 && runtime.find("\"token\": \"") == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            runtime = ReadFile(runtimeFile);
        }
        const size_t at = runtime.find("\"token\": \"");
        ASSERT_NE(at, std::string::npos) << runtime;
        const std::string token = runtime.substr(at + 10, 32);
        EXPECT_EQ(Get(port, "/index.htm").status, 403);
        const HttpAnswer page = Get(port, "/index.htm", token);
        EXPECT_EQ(page.status, 200) << page.body;
        EXPECT_NE(page.body.find("<title>Velantrix Konfigurator</title>"), std::string::npos);
        const HttpAnswer script = Get(port, "/config/devconfig.cgi", token);
        EXPECT_EQ(script.status, 200) << script.body;
        // The folder beside the installed program is the package's: the log goes to the home.
        EXPECT_TRUE(fs::is_directory(home / ".local/state" / kPackage));
        EXPECT_EQ(kpConfig.Stop(std::chrono::seconds(15)), 0);
    }

    const Outcome removed = installation.Remove();
    EXPECT_EQ(removed.code, 0) << removed.output;
    EXPECT_FALSE(Present());
    for (const std::string& file : files)
        EXPECT_FALSE(fs::exists(fs::symlink_status(file))) << file << " is left";
    for (const std::string folder : {"/usr/lib/", "/usr/share/", "/usr/share/doc/"})
        EXPECT_FALSE(fs::exists(folder + kPackage)) << folder + kPackage << " is left";
}

} // namespace
