// The connection wizard as a user walks through it: each way with the outcome text of its check
// and the buttons offered, Finish storing and applying the choice, Cancel changing nothing.

#include "AppFixture.h"
#include "CConfigSheet.h"
#include "FakeHidTree.h"
#include "KpConfigTexts.h"
#include "ProppageConfigFinish.h"
#include "ProppageConfigService.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace apptest;

namespace {

// Root as an ordinary user would be for files: this thread gives up the capabilities that let
// root open any file, until the object goes.
class AsOrdinaryUser {
public:
    AsOrdinaryUser() {
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            reduced[0].effective &= ~(1u << cap);
        active_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~AsOrdinaryUser() {
        if (active_)
            ::syscall(SYS_capset, &header_, saved_);
    }
    bool Active() const { return active_; }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

// What the last page shows: its text and whether Finish is offered.
struct Outcome {
    QString text;
    bool finish = false;
    bool back = false;
};

template <class Widget> Widget& Control(QWizard& sheet, int id) {
    auto* widget = sheet.currentPage()->findChild<Widget*>(QString::number(id));
    EXPECT_NE(widget, nullptr) << "control " << id;
    return *widget;
}

void Type(QWizard& sheet, int id, const QString& text) {
    auto& edit = Control<QLineEdit>(sheet, id);
    edit.selectAll();
    QTest::keyClick(&edit, Qt::Key_Delete);
    QTest::keyClicks(&edit, text);
}

// Chooses the connection on the first page (0 USB, 1 LAN, 2 remote) and goes on.
void Choose(QWizard& sheet, int choice) {
    Control<QRadioButton>(sheet, 1004 + choice).click();
    sheet.next();
}

Outcome ShownOutcome(QWizard& sheet) {
    EXPECT_EQ(sheet.currentId(), 3);
    return {Control<QLabel>(sheet, 1014).text(), sheet.button(QWizard::FinishButton)->isEnabled(),
            sheet.button(QWizard::BackButton)->isEnabled()};
}

class Wizard : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        ASSERT_TRUE(hid.Create("kp-wizard-hid"));
        options.service.hidSysRoot = hid.sys;
        options.service.hidDevRoot = hid.dev;
    }

    // Walks a fresh wizard over `choice` with `fill` on the page after the first one.
    Outcome Walk(int choice, const std::function<void(QWizard&)>& fill = {}) {
        if (!controller)
            controller = std::make_unique<CServiceController>(options.service);
        workingCopy = ConnectionSettings{};
        CConfigSheet sheet(workingCopy, *controller);
        sheet.show();
        Choose(sheet, choice);
        if (fill) {
            fill(sheet);
            sheet.next();
        }
        return ShownOutcome(sheet);
    }

    FakeHidTree hid;
    std::unique_ptr<CServiceController> controller;
    ConnectionSettings workingCopy;
};

Outcome Says(const char* firstLine, bool finish) {
    return {QString::fromUtf8(firstLine), finish, true};
}

void ExpectOutcome(const Outcome& shown, const Outcome& expected) {
    EXPECT_TRUE(shown.text.startsWith(expected.text)) << shown.text.toStdString();
    EXPECT_EQ(shown.finish, expected.finish) << shown.text.toStdString();
    EXPECT_TRUE(shown.back);
}

} // namespace

TEST_F(Wizard, UsbWaysSayWhatTheCheckFound) {
    ExpectOutcome(Walk(0), Says("Achtung: Sie haben versucht, diese Anwendung für die Verwendung "
                                "eines Velantrix-USB-Interfaces",
                                false));
    hid.AddInterface(0, "USB0000042");
    const Outcome found = Walk(0);
    EXPECT_EQ(found.text, "Es wurde ein an diesen Computer angeschlossenes USB-Interface "
                          "gefunden.\nKlicken Sie auf \"Fertig stellen\", um die Anwendung für "
                          "die Verwendung dieses Velantrix-USB-Interfaces (KP-CFG-USB) zu "
                          "konfigurieren.");
    EXPECT_TRUE(found.finish);
    EXPECT_EQ(workingCopy.usbSerial, "USB0000042");
    const Outcome inUse = Says("Achtung: Es wurde zwar ein an diesen Computer angeschlossenes "
                               "USB-Interface gefunden, dieses wird aber derzeit offenbar",
                               false);
    const int lock = hid.Hold(0);
    ASSERT_GE(lock, 0);
    ExpectOutcome(Walk(0), inUse);
    hid.Release(lock);
    const pid_t holder = hid.HoldWithoutLock(0); // another program, no lock taken
    ASSERT_GT(holder, 0);
    ExpectOutcome(Walk(0), inUse);
    hid.ReleaseHolder(holder);

    // A node this user may not open is no interface in use, and says how to fix it.
    ASSERT_TRUE(hid.DenyAccess(0));
    Outcome denied;
    {
        AsOrdinaryUser user;
        ASSERT_TRUE(user.Active());
        denied = Walk(0);
    }
    ExpectOutcome(denied, Says("Achtung: Es wurde zwar ein an diesen Computer angeschlossenes "
                               "USB-Interface gefunden, aber Ihr Benutzerkonto hat keine "
                               "Berechtigung",
                               false));
    EXPECT_TRUE(denied.text.contains("70-velantrix-kp-cfg-usb.rules"));
}

TEST_F(Wizard, LanWaysSayWhatTheCheckFound) {
    lanifsim::SimDevice noAddress = simtest::PlainDevice("KPL0000005");
    noAddress.dhcp = true;
    noAddress.currentIp = {127, 0, 0, 1};
    StartWith({simtest::PlainDevice(), simtest::CryptDevice(), noAddress});
    auto lanPage = [](const QString& serial, const QString& key) {
        return [=](QWizard& sheet) {
            Type(sheet, 1006, serial);
            Type(sheet, 1007, key);
        };
    };

    ExpectOutcome(Walk(1, lanPage("KPL0000001", "")),
                  Says("Es wurde in Ihrem Netzwerk ein Velantrix-Lan-Interface", true));
    ExpectOutcome(Walk(1, lanPage("KPL0000002", QString::fromStdString(simtest::kWrongKeyText))),
                  Says("Achtung: Es wurde zwar in Ihrem Netzwerk ein Velantrix-Lan-Interface "
                       "mit der von Ihnen angegebenen Seriennummer gefunden, aber der von Ihnen "
                       "angegebene Zugriffscode",
                       false));
    ExpectOutcome(Walk(1, lanPage("KPL0000005", "")),
                  Says("Achtung: Es wurde zwar in Ihrem Netzwerk ein Velantrix-Lan-Interface "
                       "mit der von Ihnen angegebenen Seriennummer gefunden, aber dieses hat "
                       "bisher über DHCP keine gültige Adresse",
                       true));
    ExpectOutcome(Walk(1, lanPage("KPL0009999", "")),
                  Says("Achtung: Sie haben versucht, diese Anwendung für die Verwendung eines "
                       "Velantrix-Lan-Interfaces (KP-CFG-LAN) zu konfigurieren.",
                       false));

    // An address given by hand is taken without a word to the network.
    const size_t before = sim.Requests().size();
    ExpectOutcome(Walk(1,
                       [](QWizard& sheet) {
                           EXPECT_FALSE(Control<QLineEdit>(sheet, 1009).isEnabled());
                           Control<QCheckBox>(sheet, 1008).click();
                           EXPECT_TRUE(Control<QLineEdit>(sheet, 1009).isEnabled());
                           Type(sheet, 1006, "KPL0000001");
                           Type(sheet, 1009, "10.1.2.3");
                       }),
                  Says("Sie haben eine IP-Adresse für Ihr Lan-Interface vorgegeben.", true));
    EXPECT_EQ(workingCopy.lanHost, "10.1.2.3");
    // Next waits for a whole address while one is to be given.
    Walk(1, [](QWizard& sheet) {
        Control<QCheckBox>(sheet, 1008).click();
        Type(sheet, 1009, "10..5");
        EXPECT_FALSE(sheet.button(QWizard::NextButton)->isEnabled());
        Type(sheet, 1009, "10.0.0.5");
        EXPECT_TRUE(sheet.button(QWizard::NextButton)->isEnabled());
    });
    EXPECT_EQ(sim.Requests().size(), before);
}

TEST_F(Wizard, RemoteServiceFoundOrNotFoundBothOfferFinish) {
    CServiceController remote(servicetest::StandIn({"present=up"}));
    ASSERT_TRUE(remote.Start(servicetest::Usb()));
    const QString port = QString::fromStdString(remote.GetServiceUrl()).section(':', -1);
    auto address = [](const QString& host, const QString& portText) {
        return [=](QWizard& sheet) {
            Type(sheet, 1012, host);
            Type(sheet, 1013, portText);
        };
    };
    ExpectOutcome(Walk(2, address("127.0.0.1", port)),
                  Says("Sie haben diese Anwendung für die Verwendung eines auf einem anderen "
                       "Computer installierten Radlex-Service konfiguriert.",
                       true));
    ExpectOutcome(Walk(2, address("127.0.0.1", "9")),
                  Says("Achtung: Sie haben versucht, diese Anwendung für die Verwendung eines "
                       "auf einem anderen Computer installierten Radlex-Service",
                       true));
    // The port is read with its base; a text without digits is 0.
    Walk(2, address("127.0.0.1", "0x7D1"));
    EXPECT_EQ(workingCopy.servicePort, 2001);
    EXPECT_EQ(ParsePortText("02001"), 1025);
    EXPECT_EQ(ParsePortText("port"), 0);
}

TEST_F(Wizard, FinishStoresRestartsAndHandsTheNewServiceToTheWebUi) {
    StartWith({simtest::PlainDevice()});
    Store({{"Connection", 1}, {"LanifSerial", "KPL0000001"}});
    Launch();
    ASSERT_TRUE(WaitUntil([&] { return Pane() == "Verbunden mit KPL0000001@LAN"; }, 10000));
    CServiceController remote(servicetest::StandIn({"present=up"}));
    ASSERT_TRUE(remote.Start(servicetest::Usb()));
    const QString port = QString::fromStdString(remote.GetServiceUrl()).section(':', -1);

    modals.Expect([&](QDialog& dialog) {
        auto& sheet = static_cast<QWizard&>(dialog);
        EXPECT_TRUE(Control<QRadioButton>(sheet, 1005).isChecked()); // the stored choice
        Choose(sheet, 2);
        EXPECT_EQ(Control<QLineEdit>(sheet, 1013).text(), "2001");
        Type(sheet, 1012, "127.0.0.1");
        Type(sheet, 1013, port);
        sheet.next();
        EXPECT_TRUE(ShownOutcome(sheet).finish);
        sheet.button(QWizard::FinishButton)->click();
    });
    Frame().OnCmdMsg(IdSettings);

    EXPECT_EQ(Stored("Connection").toInt(), 2);
    EXPECT_EQ(Stored("ServiceHost").toString(), "127.0.0.1");
    EXPECT_EQ(Stored("ServicePort").toString(), port);
    EXPECT_EQ(Stored("LanifSerial").toString(), "KPL0000001"); // kept for a later switch back
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(options.settingsFile).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const QString url = "bin://127.0.0.1:" + port;
    EXPECT_EQ(QString::fromStdString(app->service.GetServiceUrl()), url);
    EXPECT_TRUE(
        WaitUntil([&] { return Pane() == "Verbunden mit xmlrpc://127.0.0.1:" + port; }, 10000))
        << Pane().toStdString();
    Frame().View()->NavigateDeviceConfig();
    EXPECT_TRUE(WaitForPage("/config/devconfig.cgi", "Funkdienst: " + url));
}

TEST_F(Wizard, CancelChangesNothing) {
    StartWith({simtest::PlainDevice()});
    Store({{"Connection", 1}, {"LanifSerial", "KPL0000001"}});
    const QByteArray before = [&] {
        QFile file(options.settingsFile);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }();
    Launch();
    ASSERT_TRUE(WaitUntil([&] { return Pane().startsWith("Verbunden"); }, 10000));
    const std::string url = app->service.GetServiceUrl();

    modals.Expect([&](QDialog& dialog) {
        auto& sheet = static_cast<QWizard&>(dialog);
        Choose(sheet, 1);
        Type(sheet, 1006, "KPL0000009");
        sheet.button(QWizard::CancelButton)->click();
    });
    Frame().OnCmdMsg(IdSettings);

    QFile file(options.settingsFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    EXPECT_EQ(app->settings.lanSerial, "KPL0000001");
    EXPECT_EQ(app->service.GetServiceUrl(), url);
    EXPECT_EQ(app->service.GetState(), ServiceState::Connected);
}
