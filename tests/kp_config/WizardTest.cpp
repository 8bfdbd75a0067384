// The connection wizard as a user walks through it: each way with the outcome text of its check
// and the buttons offered, Finish storing and applying the choice, Cancel changing nothing.

#include "AppFixture.h"
#include "CConfigSheet.h"
#include "FakeHidTree.h"
#include "KpConfigTexts.h"
#include "ProppageConfigFinish.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFile>
#include <QKeySequence>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
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
    QString device; // the line that names what was checked
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
            sheet.button(QWizard::BackButton)->isEnabled(), Control<QLabel>(sheet, 1020).text()};
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

// The text of the last page: its lines as the user reads them, one below the other.
QString Lines(std::initializer_list<const char*> lines) {
    QStringList joined;
    for (const char* line : lines)
        joined << QString::fromUtf8(line);
    return joined.join('\n');
}

Outcome Says(const QString& text, bool finish) {
    return {text, finish, true, {}};
}

void ExpectOutcome(const Outcome& shown, const Outcome& expected) {
    EXPECT_EQ(shown.text, expected.text);
    EXPECT_EQ(shown.finish, expected.finish) << shown.text.toStdString();
    EXPECT_TRUE(shown.back);
}

const char* const kFinishLan =
    "Klicken Sie auf \"Fertig stellen\", um die Anwendung für die Verwendung dieses "
    "Velantrix-Lan-Interfaces (KP-CFG-LAN) zu konfigurieren oder auf \"Zurück\", um Ihre "
    "Einstellungen zu überprüfen.";
const QString kUsbNotFound =
    Lines({"Achtung: Sie haben versucht, diese Anwendung für die Verwendung eines "
           "Velantrix-USB-Interfaces (KP-CFG-USB) zu konfigurieren.",
           "Es wurde jedoch kein an diesen Computer angeschlossenes USB-Interface gefunden.",
           "Schließen Sie ein Velantrix-USB-Interface an den Computer an und rufen Sie dann diesen "
           "Konfigurationsdialog erneut auf."});
const QString kUsbInUse = Lines(
    {"Achtung: Es wurde zwar ein an diesen Computer angeschlossenes USB-Interface gefunden, "
     "dieses wird aber derzeit offenbar von einer anderen Anwendung verwendet.",
     "Bitte beenden Sie die andere Anwendung und rufen Sie danach diesen Konfigurationsdialog "
     "erneut auf."});
const QString kUsbDenied = Lines(
    {"Achtung: Es wurde zwar ein an diesen Computer angeschlossenes USB-Interface gefunden, aber "
     "Ihr Benutzerkonto hat keine Berechtigung, darauf zuzugreifen.",
     "Abhilfe schafft die udev-Regel \"70-velantrix-kp-cfg-usb.rules\" aus dem Paket oder die "
     "Mitgliedschaft in der Gruppe \"plugdev\".",
     "Stecken Sie das USB-Interface nach dem Installieren der Regel einmal ab und wieder an bzw. "
     "melden Sie sich nach der Aufnahme in die Gruppe ab und wieder an, und rufen Sie dann "
     "diesen Konfigurationsdialog erneut auf."});
const QString kLanFound =
    Lines({"Es wurde in Ihrem Netzwerk ein Velantrix-Lan-Interface mit der von Ihnen angegebenen "
           "Seriennummer gefunden.",
           "Klicken Sie auf \"Fertig stellen\", um die Anwendung für die Verwendung dieses "
           "Velantrix-Lan-Interfaces (KP-CFG-LAN) zu konfigurieren."});
const QString kLanNotFound = Lines(
    {"Achtung: Sie haben versucht, diese Anwendung für die Verwendung eines "
     "Velantrix-Lan-Interfaces (KP-CFG-LAN) zu konfigurieren.",
     "Es wurde jedoch kein Lan-Interface mit der von Ihnen angegebenen Seriennummer gefunden.",
     "Überprüfen Sie den Anschluß des Velantrix-Lan-Interface an Ihr Netzwerk an und rufen Sie "
     "dann diesen Konfigurationsdialog erneut auf.",
     "Falls sich das Lan-Interface nicht in Ihrem lokalen Netzwerk befindet, sondern z.B. über "
     "einen Router angebunden ist, klicken Sie auf \"Zurück\" und tragen die IP-Adresse ein, "
     "unter der das Lan-Interface zu erreichen ist."});
const QString kLanNoDhcp = Lines(
    {"Achtung: Es wurde zwar in Ihrem Netzwerk ein Velantrix-Lan-Interface mit der von Ihnen "
     "angegebenen Seriennummer gefunden, aber dieses hat bisher über DHCP keine gültige Adresse "
     "bekommen. Bitte überprüfen Sie Ihren DHCP-Server.",
     kFinishLan});
const QString kLanWrongCode =
    Lines({"Achtung: Es wurde zwar in Ihrem Netzwerk ein Velantrix-Lan-Interface mit der von Ihnen "
           "angegebenen Seriennummer gefunden, aber der von Ihnen angegebene Zugriffscode scheint "
           "nicht zu stimmen.",
           "Klicken Sie auf \"Zurück\", um den Zugriffscode zu korrigieren."});
const QString kLanAddressGiven = Lines(
    {"Sie haben eine IP-Adresse für Ihr Lan-Interface vorgegeben. Das ist nur notwendig, wenn "
     "sich das Lan-Interface nicht direkt in Ihrem lokelen Netzwerk befindet.",
     "Es wurde nicht überprüft, ob die von Ihnen vorgenommenen Einstellungen korrekt sind.",
     kFinishLan});
const QString kServiceFound =
    Lines({"Sie haben diese Anwendung für die Verwendung eines auf einem anderen Computer "
           "installierten Radlex-Service konfiguriert.",
           "Unter der von Ihnen angegebenen Netzwerkadresse wurde ein Radlex-Service gefunden.",
           "Klicken Sie auf \"Fertig stellen\", um Ihre Einstellungen zu übernehmen."});
const QString kServiceNotFound = Lines(
    {"Achtung: Sie haben versucht, diese Anwendung für die Verwendung eines auf einem anderen "
     "Computer installierten Radlex-Service zu konfigurieren.",
     "Es wurde jedoch unter der von Ihnen angegebenen Netzwerkadresse kein Radlex-Service "
     "gefunden.",
     "Klicken Sie auf \"Fertig stellen\", um Ihre Einstellungen trotzdem zu übernehmen oder "
     "auf \"Zurück\", um Ihre Einstellungen zu überprüfen."});

QString Hint(QWizard& sheet, int id) {
    return Control<QLabel>(sheet, id).text();
}

} // namespace

TEST_F(Wizard, UsbWaysSayWhatTheCheckFound) {
    ExpectOutcome(Walk(0), Says(kUsbNotFound, false));
    hid.AddInterface(0, "USB0000042");
    const Outcome found = Walk(0);
    EXPECT_EQ(found.text, "Es wurde ein an diesen Computer angeschlossenes USB-Interface "
                          "gefunden.\nKlicken Sie auf \"Fertig stellen\", um die Anwendung für "
                          "die Verwendung dieses Velantrix-USB-Interfaces (KP-CFG-USB) zu "
                          "konfigurieren.");
    EXPECT_TRUE(found.finish);
    EXPECT_EQ(workingCopy.usbSerial, "USB0000042");
    const int lock = hid.Hold(0);
    ASSERT_GE(lock, 0);
    ExpectOutcome(Walk(0), Says(kUsbInUse, false));
    hid.Release(lock);
    const pid_t holder = hid.HoldWithoutLock(0); // another program, no lock taken
    ASSERT_GT(holder, 0);
    ExpectOutcome(Walk(0), Says(kUsbInUse, false));
    hid.ReleaseHolder(holder);

    // A node this user may not open is no interface in use, and says how to fix it.
    ASSERT_TRUE(hid.DenyAccess(0));
    Outcome denied;
    {
        AsOrdinaryUser user;
        ASSERT_TRUE(user.Active());
        denied = Walk(0);
    }
    ExpectOutcome(denied, Says(kUsbDenied, false));
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

    ExpectOutcome(Walk(1, lanPage("KPL0000001", "")), Says(kLanFound, true));
    ExpectOutcome(Walk(1, lanPage("KPL0000002", QString::fromStdString(simtest::kWrongKeyText))),
                  Says(kLanWrongCode, false));
    ExpectOutcome(Walk(1, lanPage("KPL0000005", "")), Says(kLanNoDhcp, true));
    ExpectOutcome(Walk(1, lanPage("KPL0009999", "")), Says(kLanNotFound, false));

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
                  Says(kLanAddressGiven, true));
    EXPECT_EQ(workingCopy.lanHost, "10.1.2.3");
    // Next waits for a whole address while one is to be given.
    Walk(1, [](QWizard& sheet) {
        Type(sheet, 1006, "KPL0000001");
        Control<QCheckBox>(sheet, 1008).click();
        Type(sheet, 1009, "10..5");
        EXPECT_FALSE(sheet.button(QWizard::NextButton)->isEnabled());
        EXPECT_EQ(Hint(sheet, 1015), "Bitte geben Sie die IP-Adresse vollständig ein (vier "
                                     "Zahlen von 0 bis 255).");
        Type(sheet, 1009, "10.0.0.5");
        EXPECT_TRUE(sheet.button(QWizard::NextButton)->isEnabled());
    });
    EXPECT_EQ(sim.Requests().size(), before);
}

TEST_F(Wizard, LanAndServicePagesSayWhatIsMissingAndStoreNothingUnusable) {
    controller = std::make_unique<CServiceController>(options.service);
    CConfigSheet sheet(workingCopy, *controller);
    sheet.show();
    Choose(sheet, 1);
    QAbstractButton* next = sheet.button(QWizard::NextButton);
    EXPECT_EQ(sheet.focusWidget(), &Control<QLineEdit>(sheet, 1006));
    EXPECT_FALSE(next->isEnabled());
    EXPECT_EQ(Hint(sheet, 1015), "Bitte geben Sie die Seriennummer des Lan-Interfaces ein.");
    Type(sheet, 1006, "   ");
    sheet.next(); // Return in a field, or a stray call: the page stays
    EXPECT_EQ(sheet.currentId(), 1);

    Type(sheet, 1006, "KPL0000001");
    for (const char* key : {"0011", "000102030405060708090A0B0C0D0E0G"}) {
        Type(sheet, 1007, key);
        EXPECT_FALSE(next->isEnabled()) << key;
        EXPECT_EQ(Hint(sheet, 1015), "Der Zugriffscode besteht aus 32 Hexadezimalziffern (0-9, "
                                     "A-F) oder bleibt leer.");
        sheet.next();
        EXPECT_EQ(sheet.currentId(), 1);
    }
    EXPECT_EQ(workingCopy.lanSerial, "");
    EXPECT_EQ(workingCopy.lanKey, "");

    Type(sheet, 1007, QString::fromStdString(simtest::kKeyText));
    EXPECT_TRUE(next->isEnabled());
    EXPECT_EQ(Hint(sheet, 1015), "");

    // The service page, reached by going back to the choice.
    sheet.back();
    Choose(sheet, 2);
    EXPECT_EQ(sheet.focusWidget(), &Control<QLineEdit>(sheet, 1012));
    EXPECT_FALSE(next->isEnabled());
    EXPECT_EQ(Hint(sheet, 1019),
              "Bitte geben Sie den Rechnernamen oder die IP-Adresse des Rechners ein.");
    Type(sheet, 1012, "127.0.0.1");
    for (const char* port : {"abc", "0", "65536", "-1", "20x1", ""}) {
        Type(sheet, 1013, port);
        EXPECT_FALSE(next->isEnabled()) << port;
        EXPECT_EQ(Hint(sheet, 1019), "Die Portnummer muss eine Zahl von 1 bis 65535 sein.");
        sheet.next();
        EXPECT_EQ(sheet.currentId(), 2);
    }
    EXPECT_EQ(workingCopy.serviceHost, "");
    EXPECT_EQ(workingCopy.servicePort, 2001);
    // The port keeps its base: hexadecimal after 0x, octal after a leading zero.
    Type(sheet, 1013, "0x7D1");
    EXPECT_TRUE(next->isEnabled());
    EXPECT_EQ(Hint(sheet, 1019), "");
    sheet.next();
    EXPECT_EQ(workingCopy.servicePort, 2001);
    sheet.back();
    Type(sheet, 1013, "02001");
    sheet.next();
    EXPECT_EQ(workingCopy.servicePort, 1025);
    sheet.button(QWizard::CancelButton)->click();
}

TEST_F(Wizard, LanPageMasksTheCodeListsWhatTheSearchFoundAndTheLastPageNamesTheDevice) {
    StartWith({simtest::PlainDevice(), simtest::BootloaderDevice()});
    const Outcome picked = Walk(1, [&](QWizard& sheet) {
        auto& key = Control<QLineEdit>(sheet, 1007);
        auto& show = Control<QPushButton>(sheet, 1021);
        const QString code = QString::fromStdString(simtest::kKeyText);
        Type(sheet, 1007, code);
        EXPECT_FALSE(key.displayText().contains(code.left(4))) << "the code shows";
        EXPECT_EQ(show.text(), "A&nzeigen");
        show.click();
        EXPECT_EQ(key.displayText(), code);
        EXPECT_EQ(show.text(), "&Verbergen");
        show.click();
        EXPECT_FALSE(key.displayText().contains(code.left(4)));

        Control<QPushButton>(sheet, 1016).click();
        auto& found = Control<QTableWidget>(sheet, 1017);
        ASSERT_EQ(found.rowCount(), 2);
        QStringList rows;
        for (int row = 0; row < found.rowCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < found.columnCount(); ++column)
                cells << found.item(row, column)->text();
            rows << cells.join(" | ");
        }
        rows.sort();
        EXPECT_EQ(rows, QStringList({"KPL0000001 | 1.234 | Run | 127.0.0.1 (lo)",
                                     "KPL0000003 | 0.010 | Maintenance | 127.0.0.1 (lo)"}));
        // A larger wizard gives the list the room, the line below it keeps below it.
        const QSize before = found.size();
        sheet.resize(sheet.size() + QSize(120, 90));
        EXPECT_TRUE(QTest::qWaitFor([&] { return found.size() == before + QSize(120, 90); }))
            << found.width() << "x" << found.height();
        EXPECT_GT(Control<QLabel>(sheet, 1015).y(), found.geometry().bottom());
        const int plain = found.item(0, 0)->text() == "KPL0000001" ? 0 : 1;
        found.selectRow(plain);
        EXPECT_EQ(Control<QLineEdit>(sheet, 1006).text(), "KPL0000001");
        Type(sheet, 1007, "");
    });
    EXPECT_EQ(workingCopy.lanSerial, "KPL0000001");
    ExpectOutcome(picked, Says(kLanFound, true));
    EXPECT_EQ(picked.device, "Lan-Interface KPL0000001");

    // Nothing on the network: the list says so, and a serial number can still be typed.
    sim.Stop();
    const Outcome typed = Walk(1, [&](QWizard& sheet) {
        Control<QPushButton>(sheet, 1016).click();
        EXPECT_EQ(Control<QTableWidget>(sheet, 1017).rowCount(), 0);
        EXPECT_EQ(Control<QLabel>(sheet, 1018).text(), "Es wurde kein Lan-Interface gefunden.");
        Type(sheet, 1006, "KPL0000001");
    });
    ExpectOutcome(typed, Says(kLanNotFound, false));
}

TEST_F(Wizard, StoredAddressShowsAndBackFromFinishChecksAgain) {
    StartWith({simtest::PlainDevice()});
    controller = std::make_unique<CServiceController>(options.service);
    workingCopy = LanChoice("KPL0000001", simtest::kKeyText);
    workingCopy.lanHost = "10.1.2.3";
    CConfigSheet sheet(workingCopy, *controller);
    sheet.show();
    sheet.next();
    EXPECT_TRUE(Control<QCheckBox>(sheet, 1008).isChecked());
    EXPECT_TRUE(Control<QLineEdit>(sheet, 1009).isEnabled());
    EXPECT_EQ(Control<QLineEdit>(sheet, 1009).text(), "10.1.2.3");
    EXPECT_EQ(Control<QLineEdit>(sheet, 1006).text(), "KPL0000001");
    EXPECT_EQ(Control<QLineEdit>(sheet, 1007).text(), QString::fromStdString(simtest::kKeyText));
    sheet.next();
    ExpectOutcome(ShownOutcome(sheet), Says(kLanAddressGiven, true));
    EXPECT_TRUE(sim.Requests().empty());

    sheet.back();
    ASSERT_EQ(sheet.currentId(), 1);
    Control<QCheckBox>(sheet, 1008).click();
    EXPECT_FALSE(Control<QLineEdit>(sheet, 1009).isEnabled());
    sheet.next();
    // The check ran anew, this time asking the network.
    ExpectOutcome(ShownOutcome(sheet), Says(kLanFound, true));
    EXPECT_FALSE(sim.Requests().empty());
    EXPECT_EQ(workingCopy.lanHost, "");
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
    ExpectOutcome(Walk(2, address("127.0.0.1", port)), Says(kServiceFound, true));
    ExpectOutcome(Walk(2, address("127.0.0.1", "9")), Says(kServiceNotFound, true));
}

TEST_F(Wizard, KeyboardRunOfTheWizardAndItsLogWithoutTheKey) {
    StartWith({simtest::PlainDevice()});
    Launch();
    modals.Expect([&](QDialog& dialog) {
        auto& sheet = static_cast<QWizard&>(dialog);
        sheet.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&sheet));
        Choose(sheet, 1);
        Type(sheet, 1006, "KPL0000009");
        Type(sheet, 1007, QString::fromStdString(simtest::kKeyText));
        // Every button has its Alt key.
        const std::pair<QWizard::WizardButton, Qt::Key> mnemonics[] = {
            {QWizard::BackButton, Qt::Key_Z},
            {QWizard::NextButton, Qt::Key_W},
            {QWizard::FinishButton, Qt::Key_F},
            {QWizard::CancelButton, Qt::Key_A}};
        for (const auto& [which, key] : mnemonics)
            EXPECT_EQ(QKeySequence::mnemonic(sheet.button(which)->text()),
                      QKeySequence(Qt::ALT | key))
                << sheet.button(which)->text().toStdString();
        QTest::keyClick(&sheet, Qt::Key_Return);
        EXPECT_EQ(ShownOutcome(sheet).text, kLanNotFound);
        // Only Back is offered, yet Return must not go back on its own.
        EXPECT_NE(sheet.focusWidget(), sheet.button(QWizard::BackButton));
        EXPECT_FALSE(static_cast<QPushButton*>(sheet.button(QWizard::BackButton))->isDefault());
        sheet.back();
        Type(sheet, 1006, "KPL0000001");
        QTest::keyClick(&sheet, Qt::Key_Return);
        EXPECT_EQ(ShownOutcome(sheet).text, kLanFound);
        // Return presses the default button; the focus is not on "< Zurück".
        EXPECT_NE(sheet.focusWidget(), sheet.button(QWizard::BackButton));
        EXPECT_TRUE(static_cast<QPushButton*>(sheet.button(QWizard::FinishButton))->isDefault());
        QTest::keyClick(&sheet, Qt::Key_Return);
    });
    Frame().OnCmdMsg(IdSettings);
    EXPECT_EQ(Stored("LanifSerial").toString(), "KPL0000001");

    modals.Expect([&](QDialog& dialog) { static_cast<QWizard&>(dialog).reject(); });
    Frame().OnCmdMsg(IdSettings);

    QFile log(QString::fromStdString(options.logFile));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    EXPECT_TRUE(text.contains("[wizard] check of LAN interface KPL0000009: not found\n"))
        << text.toStdString();
    EXPECT_TRUE(
        text.contains("[wizard] check of LAN interface KPL0000001: found with a static address\n"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("[wizard] finished, stored LAN interface KPL0000001\n"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("[wizard] cancelled, nothing stored\n")) << text.toStdString();
    EXPECT_FALSE(text.contains(QString::fromStdString(simtest::kKeyText), Qt::CaseInsensitive));
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
    EXPECT_TRUE(WaitForPage("/config/devconfig.cgi", "Funkdienst auf 127.0.0.1, Port " + port));
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
