// The program itself, started as a user starts it, ended by SIGTERM as a session manager ends
// it: it shuts down like a closed window, exits 0, and leaves no process and no file behind.

#include "SimFixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <set>
#include <string>
#include <thread>

namespace {

// The processes whose parent is one of `roots`, and theirs, found in /proc.
std::set<int> Descendants(int root) {
    std::set<int> found{root};
    bool grew = true;
    while (grew) {
        grew = false;
        for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
            bool isPid = false;
            const int pid = entry.toInt(&isPid);
            if (!isPid || found.count(pid))
                continue;
            std::ifstream stat("/proc/" + entry.toStdString() + "/stat");
            std::string line;
            std::getline(stat, line);
            const size_t close = line.rfind(')');
            if (close == std::string::npos)
                continue;
            int parent = 0;
            char state = 0;
            if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) == 2 &&
                found.count(parent)) {
                found.insert(pid);
                grew = true;
            }
        }
    }
    found.erase(root);
    return found;
}

bool Alive(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    return close != std::string::npos && line.size() > close + 2 && line[close + 2] != 'Z';
}

std::string ProcessName(int pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

} // namespace

class Program : public simtest::SimTest {
protected:
    // Starts kp_config with the given stored settings in a home, data and temporary folder of
    // its own, waits until its service and browser processes run, and ends it with SIGTERM. Checks
    // that it exits 0 and leaves no process and no file behind.
    void RunAndTerminate(const QByteArray& storedSettings) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString home = dir.filePath("home");
        const QString tmp = dir.filePath("tmp");
        for (const QString& path : {home + "/.config/vK-7", tmp, dir.filePath("run")})
            QDir().mkpath(path);
        QFile::setPermissions(dir.filePath("run"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile profile(home + "/.config/vK-7/Velantrix Konfigurator.conf");
        ASSERT_TRUE(profile.open(QIODevice::WriteOnly));
        profile.write(storedSettings);
        profile.close();

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.remove("XDG_CONFIG_HOME");
        env.insert("XDG_DATA_HOME", dir.filePath("data"));
        env.insert("TMPDIR", tmp);
        env.insert("XDG_RUNTIME_DIR", dir.filePath("run")); // else the toolkit makes one in TMPDIR
        env.insert("QT_QPA_PLATFORM", "offscreen");
#ifdef __SANITIZE_ADDRESS__
        // The browser engine's own reports at exit (see TestMain.cpp) would change the exit
        // code; the program's code is checked for leaks by the in-process tests.
        env.insert("ASAN_OPTIONS", "new_delete_type_mismatch=0:detect_leaks=0");
#endif
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(VK_BIN_DIR "/kp_config", {});
        ASSERT_TRUE(program.waitForStarted());
        const int pid = static_cast<int>(program.processId());

        // Up: the radio service runs, and the browser engine's processes.
        std::set<int> children;
        for (int i = 0; i < 300; ++i) {
            children = Descendants(pid);
            bool service = false, engine = false;
            for (int child : children) {
                service = service || ProcessName(child) == "nrd";
                engine = engine || ProcessName(child).rfind("QtWebEngine", 0) == 0;
            }
            if (service && engine)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_FALSE(children.empty());

        ::kill(pid, SIGTERM);
        ASSERT_TRUE(program.waitForFinished(15000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        for (int i = 0; i < 100; ++i) {
            bool any = false;
            for (int child : children)
                any = any || Alive(child);
            if (!any)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        for (int child : children)
            EXPECT_FALSE(Alive(child)) << ProcessName(child) << " " << child;
        EXPECT_TRUE(QDir(tmp).isEmpty())
            << QDir(tmp).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).join(' ').toStdString();
    }
};

TEST_F(Program, TerminationSignalShutsDownCleanly) {
    StartWith({simtest::PlainDevice()});
    RunAndTerminate("[Config]\nConnection=1\nLanifSerial=KPL0000001\n");
}
