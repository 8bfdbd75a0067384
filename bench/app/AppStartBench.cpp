// Figures for kp_config's start: the time from starting the program to its web UI rendered in
// the view, and the resident memory then, against a bare browser view that loads the same page
// from the same web server, started the same way, in the same run. The program starts its radio
// service for a simulated LAN interface, so run this inside a private network namespace
// (bench/run.sh does).
// Usage: app_start_bench [runs]       (each run starts both once, alternating)

#include "CChildView.h"
#include "CKpConfigApp.h"
#include "CMainFrame.h"
#include "CWebBrowser2.h"
#include "LanIfSimulator.h"
#include "ProcessTable.h"
#include "SimFixture.h"
#include "StartWebServer.h"
#include "WebUiRequestInterceptor.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QWebEngineView>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Resident memory of this process, and of it with all its descendants.
void ReportMemory() {
    const int self = ::getpid();
    long total = proctable::ResidentKb(self);
    for (const proctable::Process& child : proctable::Descendants(self))
        total += proctable::ResidentKb(child.pid);
    std::printf("rendered %ld %ld\n", proctable::ResidentKb(self), total);
    std::fflush(stdout);
}

// The program as its main starts it, with a stored LAN interface; reports once the home page
// is rendered.
int RunProgram(int argc, char** argv) {
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    CKpConfigApp app;
    if (!app.InitInstance())
        return 1;
    QObject::connect(app.MainFrame()->View()->Browser(), &QWebEngineView::loadFinished,
                     [](bool ok) {
                         if (ok)
                             ReportMemory();
                         QApplication::exit(ok ? 0 : 1);
                     });
    const int result = QApplication::exec();
    app.ExitInstance();
    return result;
}

// The same web server and page in a bare browser view.
int RunBareView(int argc, char** argv) {
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    CWebServer server;
    if (!StartWebServer(server, "", QDir::tempPath().toStdString()))
        return 1;
    QWebEngineView view;
    // The same secret on every request as the program's view sends.
    WebUiRequestInterceptor secret;
    secret.SetServer(server.GetPort(), server.GetToken());
    view.page()->setUrlRequestInterceptor(&secret);
    view.resize(1024, 700);
    view.show();
    QObject::connect(&view, &QWebEngineView::loadFinished, [](bool ok) {
        if (ok)
            ReportMemory();
        QApplication::exit(ok ? 0 : 1);
    });
    view.load(QUrl(QStringLiteral("http://127.0.0.1:%1/index.htm").arg(server.GetPort())));
    const int result = QApplication::exec();
    server.Stop();
    return result;
}

struct Sample {
    double ms = 0;
    long selfKb = 0, treeKb = 0;
};

bool Measure(const QString& mode, const QProcessEnvironment& env, Sample& sample) {
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    child.start(QCoreApplication::applicationFilePath(), {mode});
    while (child.waitForReadyRead(60000)) {
        const QByteArray line = child.readLine();
        if (line.startsWith("rendered")) {
            sample.ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
            std::sscanf(line.constData(), "rendered %ld %ld", &sample.selfKb, &sample.treeKb);
            child.waitForFinished(30000);
            return true;
        }
    }
    child.kill();
    child.waitForFinished();
    return false;
}

template <class T> T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1 && std::string(argv[1]) == "--program")
        return RunProgram(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--bare")
        return RunBareView(argc, argv);
    QCoreApplication driver(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    lanifsim::Simulator sim;
    sim.AddDevice(simtest::PlainDevice());
    if (!sim.Start()) {
        std::fprintf(stderr, "the simulator needs a private network namespace: use bench/run.sh\n");
        return 1;
    }
    QTemporaryDir home;
    QDir().mkpath(home.filePath(".config/vK-7"));
    QDir().mkpath(home.filePath("run"));
    QFile::setPermissions(home.filePath("run"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile profile(home.filePath(".config/vK-7/Velantrix Konfigurator.conf"));
    profile.open(QIODevice::WriteOnly);
    profile.write("[Config]\nConnection=1\nLanifSerial=KPL0000001\n");
    profile.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.remove("XDG_CONFIG_HOME");
    env.insert("XDG_DATA_HOME", home.filePath("data"));
    env.insert("XDG_RUNTIME_DIR", home.filePath("run"));

    std::vector<Sample> program, bare;
    for (int i = 0; i < runs; ++i) {
        Sample p, b;
        if (!Measure("--program", env, p) || !Measure("--bare", env, b)) {
            std::fprintf(stderr, "a run did not render its page\n");
            return 1;
        }
        program.push_back(p);
        bare.push_back(b);
    }
    auto median = [](const std::vector<Sample>& samples, auto field) {
        std::vector<double> values;
        for (const Sample& s : samples)
            values.push_back(static_cast<double>(s.*field));
        return Median(values);
    };
    const double pMs = median(program, &Sample::ms), bMs = median(bare, &Sample::ms);
    const double pSelf = median(program, &Sample::selfKb), bSelf = median(bare, &Sample::selfKb);
    const double pTree = median(program, &Sample::treeKb), bTree = median(bare, &Sample::treeKb);
    std::printf("start to web UI rendered, program / bare view: %.2f (%.0f ms / %.0f ms; "
                "median of %d; target 1.5)\n",
                pMs / bMs, pMs, bMs, runs);
    std::printf("resident memory then, program / bare view: %.2f (%.0f MiB / %.0f MiB; "
                "target 1.3)\n",
                pSelf / bSelf, pSelf / 1024, bSelf / 1024);
    std::printf("resident memory with child processes: %.2f (%.0f MiB / %.0f MiB)\n", pTree / bTree,
                pTree / 1024, bTree / 1024);
    sim.Stop();
    return 0;
}
