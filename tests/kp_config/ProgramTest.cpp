// The program itself, started as a user starts it, ended by SIGTERM as a session manager ends
// it: it shuts down like a closed window, exits 0, and leaves no process and no file behind.

#include "ProcessTable.h"
#include "SimFixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

class Program : public simtest::SimTest {};

TEST_F(Program, TerminationSignalShutsDownCleanly) {
    StartWith({simtest::PlainDevice()});
    // A home, data and temporary folder of its own; the stored connection is the simulated
    // LAN interface.
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
    profile.write("[Config]\nConnection=1\nLanifSerial=KPL0000001\n");
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
    // The browser engine's own reports at exit (see TestMain.cpp) would change the exit code;
    // the program's code is checked for leaks by the in-process tests.
    env.insert("ASAN_OPTIONS", "new_delete_type_mismatch=0:detect_leaks=0");
#endif
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(VK_BIN_DIR "/kp_config", {});
    ASSERT_TRUE(program.waitForStarted());
    const int pid = static_cast<int>(program.processId());

    // Up: the radio service runs, and the browser engine's processes.
    std::vector<proctable::Process> children;
    for (int i = 0; i < 300; ++i) {
        children = proctable::Descendants(pid);
        bool service = false, engine = false;
        for (const auto& child : children) {
            service = service || child.name == "nrd";
            engine = engine || child.name.rfind("QtWebEngine", 0) == 0;
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
    auto anyAlive = [&] {
        for (const auto& child : children)
            if (proctable::Alive(child.pid))
                return true;
        return false;
    };
    for (int i = 0; i < 100 && anyAlive(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (const auto& child : children)
        EXPECT_FALSE(proctable::Alive(child.pid)) << child.name << " " << child.pid;
    EXPECT_TRUE(QDir(tmp).isEmpty())
        << QDir(tmp).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).join(' ').toStdString();
}
