// The program itself, started as a user starts it on a small screen at 1.5 x scale, ended by
// SIGTERM as a session manager ends it: its window fits the screen, its runtime file names the
// web UI while it runs, its log tells of the start without the key, and it shuts down like a
// closed window, exits 0, and leaves no process and no file behind.

#include "ProcessTable.h"
#include "SimFixture.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <sys/stat.h>

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
    profile.write("[Config]\nConnection=1\nLanifSerial=KPL0000001\n"
                  "LanifKey=000102030405060708090A0B0C0D0E0F\n");
    profile.close();
    // A screen of 1280 x 720 pixels, at 1.5 x: 853 x 480 for the window.
    const QString screens = dir.filePath("screens.json");
    QFile screenFile(screens);
    ASSERT_TRUE(screenFile.open(QIODevice::WriteOnly));
    screenFile.write(R"({"screens": [{"name": "small", "x": 0, "y": 0, "width": 1280,
                       "height": 720, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    screenFile.close();
    // The program's log lies beside it in the build; this run's lines are what follows now.
    QFile log(VK_BIN_DIR "/kp_config_log.txt");
    const qint64 logStart = log.exists() ? log.size() : 0;

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.remove("XDG_CONFIG_HOME");
    env.insert("XDG_DATA_HOME", dir.filePath("data"));
    env.insert("TMPDIR", tmp);
    env.insert("XDG_RUNTIME_DIR", dir.filePath("run")); // else the toolkit makes one in TMPDIR
    env.insert("QT_QPA_PLATFORM", "offscreen:configfile=" + screens);
    env.insert("QT_SCALE_FACTOR", "1.5");
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

    // The runtime file, written before the window showed, owner-only in an owner-only folder.
    const QString runtimeDir = dir.filePath("run/velantrix-konfigurator");
    const QString runtimeFile = runtimeDir + QStringLiteral("/kp_config-%1.json").arg(pid);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(runtimeDir).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(QFile::encodeName(runtimeFile).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    QFile runtime(runtimeFile);
    ASSERT_TRUE(runtime.open(QIODevice::ReadOnly));
    const QJsonObject found = QJsonDocument::fromJson(runtime.readAll()).object();
    const QString token = found["token"].toString();
    const int port = found["port"].toInt();
    EXPECT_EQ(token.size(), 32);
    EXPECT_GT(port, 0);
    EXPECT_EQ(found["pid"].toInt(), pid);
    // The web UI below the run's mount (32 hexadecimal digits), with the secret.
    const QRegularExpression url(
        QStringLiteral("^http://127\\.0\\.0\\.1:%1/[0-9a-f]{32}/index\\.htm\\?token=%2$")
            .arg(port)
            .arg(token));
    EXPECT_TRUE(url.match(found["url"].toString()).hasMatch())
        << found["url"].toString().toStdString();

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
    EXPECT_FALSE(QFile::exists(runtimeFile));

    // The window it had: within the screen's 853 x 480.
    QSettings window(home + "/.local/state/velantrix-konfigurator/kp_config-window.conf",
                     QSettings::IniFormat);
    const QRect geometry = window.value("MainWindow/geometry").toRect();
    EXPECT_TRUE(geometry.isValid());
    EXPECT_TRUE(QRect(0, 0, 854, 480).contains(geometry))
        << geometry.x() << "," << geometry.y() << " " << geometry.width() << "x"
        << geometry.height();

    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    log.seek(logStart);
    const QString lines = QString::fromUtf8(log.readAll());
    EXPECT_TRUE(lines.contains(QStringLiteral("web server started on 127.0.0.1:%1").arg(port)))
        << lines.toStdString();
    EXPECT_FALSE(lines.contains("000102030405060708090A0B0C0D0E0F"));
    EXPECT_FALSE(lines.contains(token));

    EXPECT_TRUE(QDir(tmp).isEmpty())
        << QDir(tmp).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).join(' ').toStdString();
}

TEST(ProgramOptions, HelpAndVersionAnswerWithoutADisplay) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    for (const char* option : {"--help", "--version"}) {
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(VK_BIN_DIR "/kp_config", {option});
        ASSERT_TRUE(program.waitForFinished(10000)) << option;
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << option;
        EXPECT_EQ(program.exitCode(), 0) << option;
        const QString out = QString::fromUtf8(program.readAllStandardOutput());
        EXPECT_TRUE(out.startsWith(
            option == std::string("--help") ? "Usage: kp_config" : "kp_config " VK_PRODUCT_VERSION))
            << out.toStdString();
    }
}
