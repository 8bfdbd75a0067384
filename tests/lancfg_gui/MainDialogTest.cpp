// The main dialog against simulated devices: the list, refresh, the IP settings with the key
// loop, and the polling of restarting devices.

#include "GuiFixture.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using namespace guitest;

namespace {

using Strings = QStringList;

TEST_F(LancfgGuiMain, ListsRunningEncryptedBootloaderAndLoopbackDevices) {
    StartSim({LoopbackDevice(), BootloaderDevice(), RunningDevice(), CryptDevice()});
    Open();

    ASSERT_EQ(List().columnCount(), 7);
    const Strings headers{"Serial Number", "Status", "Version", "IP", "Netmask", "Gateway", "DHCP"};
    const int widths[] = {150, 80, 60, 120, 120, 120, 60};
    for (int column = 0; column < 7; ++column) {
        EXPECT_EQ(List().horizontalHeaderItem(column)->text(), headers[column]);
        EXPECT_EQ(List().columnWidth(column), widths[column]);
    }

    EXPECT_EQ(List().rowCount(), 4);
    EXPECT_EQ(Row(kRunSerial), (Strings{"KPL0000001", "Online", "1.234", "192.168.1.50",
                                        "255.255.255.0", "192.168.1.1", "Off"}));
    EXPECT_EQ(Row(kCryptSerial), (Strings{"KPL0000002", "Online", "1.240", "192.168.1.52",
                                          "255.255.255.0", "192.168.1.1", "On"}));
    EXPECT_EQ(Row(kBootSerial), (Strings{"KPL0000003", "Maintenance", "0.010", "", "", "", ""}));
    EXPECT_EQ(Row(kLoopSerial),
              (Strings{"KPL0000004", "Online", "1.234", "n/a", "n/a", "n/a", "Off"}));
    EXPECT_FALSE(Button(IdChangeIpSettings).isEnabled());
    EXPECT_FALSE(Button(IdUpdateFirmware).isEnabled());
    EXPECT_FALSE(dialog->BootPollTimer().isActive());

    Select({kRunSerial});
    EXPECT_TRUE(Button(IdChangeIpSettings).isEnabled());
    EXPECT_TRUE(Button(IdUpdateFirmware).isEnabled());
}

TEST_F(LancfgGuiMain, SerialWithControlBytesShowsEscapedAndCanBeActedOn) {
    const std::string raw("KP\x1b[2J0001", 10);
    StartSim({RunningDevice(raw)});
    Open();
    ASSERT_EQ(List().rowCount(), 1);
    EXPECT_EQ(List().item(0, 0)->text(), QStringLiteral("KP\\x1b[2J0001"));
    List().selectRow(0);
    ASSERT_NE(dialog->GetSelectedDevice(), nullptr);
    EXPECT_EQ(dialog->GetSelectedDevice()->SerialText(), raw);
    EXPECT_TRUE(Button(IdChangeIpSettings).isEnabled());
}

TEST_F(LancfgGuiMain, NoDeviceLeavesTheListEmptyAndTheActionsOff) {
    StartSim({});
    Open();
    EXPECT_EQ(List().rowCount(), 0);
    EXPECT_EQ(dialog->GetSelectedDevice(), nullptr);
    EXPECT_FALSE(Button(IdChangeIpSettings).isEnabled());
    EXPECT_FALSE(Button(IdUpdateFirmware).isEnabled());
    EXPECT_TRUE(Button(IdRefreshList).isEnabled());
    // Without a selection the handlers do nothing, and nothing is sent.
    sim.ClearRequests();
    dialog->OnChangeIpSettings();
    dialog->OnUpdateFirmware();
    EXPECT_TRUE(sim.Requests().empty());
}

TEST_F(LancfgGuiMain, TwoSelectedRowsActOnTheUpperOne) {
    StartSim({RunningDevice(), CryptDevice(), LoopbackDevice()});
    Open();
    Select({kLoopSerial, kCryptSerial});
    ASSERT_NE(dialog->GetSelectedDevice(), nullptr);
    EXPECT_EQ(dialog->GetSelectedDevice()->SerialText(), kCryptSerial);

    QString shownAddress;
    modals.Expect([&](QDialog& ipDialog) {
        shownAddress = FindControl<QLineEdit>(ipDialog, IdIpAddress)->text();
        ipDialog.reject();
    });
    Button(IdChangeIpSettings).click();
    EXPECT_EQ(shownAddress, QStringLiteral("192.168.1.52"));
}

TEST_F(LancfgGuiMain, RefreshKeepsTheRowOfADeviceThatWentSilent) {
    StartSim({RunningDevice(), CryptDevice()});
    Open();
    const Strings before = Row(kRunSerial);
    sim.ModifyDevice(kRunSerial, [](lanifsim::SimDevice& d) { d.silent = true; });
    sim.ModifyDevice(kCryptSerial, [](lanifsim::SimDevice& d) { d.currentIp = {192, 168, 1, 99}; });
    Button(IdRefreshList).click();
    EXPECT_EQ(List().rowCount(), 2);
    EXPECT_EQ(Row(kRunSerial), before);
    EXPECT_EQ(Row(kCryptSerial)[3], QStringLiteral("192.168.1.99"));
}

TEST_F(LancfgGuiMain, NewSettingsReachTheDeviceWithoutAKeyWhenNoneIsWanted) {
    StartSim({RunningDevice()});
    Open();
    Select({kRunSerial});
    bool incompleteRefused = false;
    modals.Expect([&](QDialog& ipDialog) {
        // An incomplete address is not taken for some other one: OK waits for a whole one.
        Retype(ipDialog, IdIpAddress, QStringLiteral("10..3"));
        FindControl<QPushButton>(ipDialog, IdOk)->click();
        incompleteRefused = ipDialog.isVisible();
        Retype(ipDialog, IdIpAddress, QStringLiteral("10.1.2.3"));
        Retype(ipDialog, IdNetmask, QStringLiteral("255.0.0.0"));
        Retype(ipDialog, IdGateway, QStringLiteral("10.0.0.1"));
        // DHCP on: the static fields are disabled, yet their texts go out.
        FindControl<QCheckBox>(ipDialog, IdDhcp)->click();
        Accept()(ipDialog);
    });
    Button(IdChangeIpSettings).click();

    EXPECT_TRUE(incompleteRefused);
    lanifsim::SimDevice device;
    ASSERT_TRUE(sim.GetDevice(kRunSerial, &device));
    EXPECT_EQ(device.staticIp, (lanifsim::Address{10, 1, 2, 3}));
    EXPECT_EQ(device.staticNetmask, (lanifsim::Address{255, 0, 0, 0}));
    EXPECT_EQ(device.staticGateway, (lanifsim::Address{10, 0, 0, 1}));
    EXPECT_TRUE(device.dhcp);
    EXPECT_EQ(CountRequests('*'), 0);
    EXPECT_EQ(Row(kRunSerial)[1], QStringLiteral("Online"));
    EXPECT_EQ(Row(kRunSerial)[6], QStringLiteral("On"));
    EXPECT_TRUE(modals.texts.isEmpty());
}

TEST_F(LancfgGuiMain, CancelledIpDialogSendsNothing) {
    StartSim({RunningDevice()});
    Open();
    Select({kRunSerial});
    const Strings before = Row(kRunSerial);
    sim.ClearRequests();
    modals.Expect([](QDialog& ipDialog) {
        Retype(ipDialog, IdIpAddress, QStringLiteral("10.1.2.3"));
        Reject()(ipDialog);
    });
    Button(IdChangeIpSettings).click();
    EXPECT_TRUE(sim.Requests().empty());
    EXPECT_EQ(Row(kRunSerial), before);
    EXPECT_EQ(dialog->GetSelectedDevice()->staticIp, "192.168.1.50");
}

TEST_F(LancfgGuiMain, WrongKeyAsksAgainAndTheRightOneRestartsTheDevice) {
    StartSim({CryptDevice()});
    Open();
    Select({kCryptSerial});
    modals.Expect([](QDialog& ipDialog) {
        FindControl<QCheckBox>(ipDialog, IdDhcp)->click(); // DHCP off: the fields take input
        Retype(ipDialog, IdIpAddress, QStringLiteral("192.168.1.77"));
        Accept()(ipDialog);
    });
    modals.Expect(EnterKey(kWrongKeyText));
    modals.Expect(EnterKey(kKeyText));
    Button(IdChangeIpSettings).click();

    EXPECT_EQ(modals.seen,
              (Strings{"IP Configuration – KPL0000002", "Input AES Key", "Input AES Key"}));
    EXPECT_TRUE(modals.texts.isEmpty()) << "no message after an accepted key";
    lanifsim::SimDevice device;
    ASSERT_TRUE(sim.GetDevice(kCryptSerial, &device));
    EXPECT_EQ(device.staticIp, (lanifsim::Address{192, 168, 1, 77}));
    EXPECT_FALSE(device.dhcp);

    // The device restarts: "Booting" without addresses, polled until it answers again.
    EXPECT_EQ(Row(kCryptSerial), (Strings{"KPL0000002", "Booting", "1.240", "", "", "", ""}));
    EXPECT_TRUE(dialog->BootPollTimer().isActive());
    EXPECT_EQ(dialog->BootPollTimer().interval(), 2000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Row(kCryptSerial)[1] == "Online"; }, 15000));
    EXPECT_EQ(Row(kCryptSerial)[3], QStringLiteral("192.168.1.77")); // the new address
    EXPECT_FALSE(dialog->BootPollTimer().isActive()) << "nothing left to poll";

    // The key stays with the record for the next action ...
    EXPECT_FALSE(dialog->devices.at(kCryptSerial).cryptKey.empty());
    // ... until a refresh replaces the record: then the key is asked for again.
    Button(IdRefreshList).click();
    EXPECT_TRUE(dialog->devices.at(kCryptSerial).cryptKey.empty());
}

TEST_F(LancfgGuiMain, CancelledKeyDialogReportsTheFailure) {
    StartSim({CryptDevice()});
    Open();
    Select({kCryptSerial});
    modals.Expect(Accept());
    modals.Expect(Reject());
    modals.Expect(Accept());
    Button(IdChangeIpSettings).click();
    EXPECT_EQ(modals.texts, Strings{"Error sending new network configuration to device"});
    EXPECT_EQ(modals.seen.last(), QStringLiteral("lancfg_gui"));
    EXPECT_EQ(CountRequests('*'), 0);
    EXPECT_EQ(Row(kCryptSerial)[1], QStringLiteral("Online"));
}

TEST_F(LancfgGuiMain, ADeviceSilentForThirtySecondsAfterItsRestartShowsOffline) {
    RestartIntoSilence();
    ASSERT_EQ(Row(kRunSerial)[1], QStringLiteral("Booting"));

    // Within the grace a silent poll keeps "Booting".
    auto poll = [&] {
        dialog->OnBootPollTimer();
        return QTest::qWaitFor([&] { return !dialog->IsPolling(); }, 10000);
    };
    ASSERT_TRUE(poll());
    EXPECT_EQ(Row(kRunSerial)[1], QStringLiteral("Booting"));
    EXPECT_TRUE(dialog->BootPollTimer().isActive());
    // Thirty seconds after the restart began the next silent poll gives up on it.
    dialog->devices.at(kRunSerial).stateTime -= 31;
    ASSERT_TRUE(poll());
    EXPECT_EQ(Row(kRunSerial), (Strings{"KPL0000001", "Offline", "1.234", "192.168.1.50",
                                        "255.255.255.0", "192.168.1.1", "Off"}));
    EXPECT_FALSE(dialog->BootPollTimer().isActive());
}

TEST_F(LancfgGuiMain, EscapeClosesTheDialogWhileAPollWaitsForASilentDevice) {
    RestartIntoSilence();
    ASSERT_EQ(Row(kRunSerial)[1], QStringLiteral("Booting"));

    QElapsedTimer clock;
    clock.start();
    dialog->OnBootPollTimer(); // waits 2 s for a reply that does not come
    ASSERT_TRUE(dialog->IsPolling());
    EXPECT_TRUE(Button(IdOk).isEnabled());
    EXPECT_TRUE(FindControl<QComboBox>(*dialog, IdFirmwareFiles)->isEnabled());
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_LT(clock.elapsed(), 1000) << "closing waited for the poll";
}

TEST_F(LancfgGuiMain, KeyboardUserTabsBetweenControlsAndEscapeClosesAnOpenFileListFirst) {
    WriteFirmwareFile(QStringLiteral("kplan_1.enc"), "0001AA");
    WriteFirmwareFile(QStringLiteral("kplan_2.enc"), "0001AA");
    StartSim({RunningDevice(), CryptDevice()});
    Open();
    QApplication::setActiveWindow(dialog.get());
    List().setFocus();
    Select({kRunSerial});
    QTest::keyClick(&List(), Qt::Key_Tab); // leaves the list, however many cells it has
    EXPECT_EQ(QApplication::focusWidget(), &Button(IdRefreshList));

    auto* files = FindControl<QComboBox>(*dialog, IdFirmwareFiles);
    files->showPopup();
    ASSERT_TRUE(files->view()->isVisible());
    QTest::keyClick(files->view(), Qt::Key_Escape);
    EXPECT_FALSE(files->view()->isVisible());
    EXPECT_TRUE(dialog->isVisible());
    QTest::keyClick(dialog.get(), Qt::Key_Escape); // with the list closed, Escape ends it
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(LancfgGuiMain, ReturnInTheListOpensTheIpSettingsOfTheRowInsteadOfClosing) {
    StartSim({RunningDevice()});
    Open();
    QApplication::setActiveWindow(dialog.get());
    List().setFocus();
    Select({kRunSerial});
    EXPECT_FALSE(Button(IdOk).isDefault());
    modals.Expect(Reject());
    QTest::keyClick(&List(), Qt::Key_Return);
    EXPECT_EQ(modals.seen, Strings{"IP Configuration – KPL0000001"});
    EXPECT_TRUE(dialog->isVisible());
    QTest::keyClick(&Button(IdRefreshList), Qt::Key_Return); // a plain button: nothing happens
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(LancfgGuiMain, KeyboardUserSeesTheCurrentRowGoesHomeAndEndAndReadsTheWriteInTheStatusLine) {
    StartSim({RunningDevice(), LoopbackDevice()});
    Open();
    ASSERT_EQ(List().rowCount(), 2);
    QApplication::setActiveWindow(dialog.get());
    List().setFocus(Qt::TabFocusReason);
    // The current row carries a dotted frame in the colour of its text while the list has the
    // focus: on its top edge, where no text is drawn.
    auto framePixels = [&] {
        const QImage shown = List().viewport()->grab().toImage();
        const int top = List().visualRect(List().currentIndex()).top();
        const QColor text = List().palette().color(QPalette::Active, QPalette::HighlightedText);
        int count = 0;
        for (int x = 0; x < List().horizontalHeader()->length(); ++x)
            count += shown.pixelColor(x, top) == text ? 1 : 0;
        return count;
    };
    const QString last = List().item(1, 0)->text();
    QTest::keyClick(&List(), Qt::Key_End);
    ASSERT_NE(dialog->GetSelectedDevice(), nullptr);
    EXPECT_EQ(QString::fromStdString(dialog->GetSelectedDevice()->SerialText()), last);
    EXPECT_GT(framePixels(), List().horizontalHeader()->length() / 4);
    Button(IdRefreshList).setFocus();
    EXPECT_EQ(framePixels(), 0);
    List().setFocus();
    QTest::keyClick(&List(), Qt::Key_Home);
    EXPECT_EQ(List().currentRow(), 0);
    QTest::keyClick(&List(), Qt::Key_End);
    EXPECT_EQ(List().currentRow(), 1);

    modals.Expect(Accept());
    QTest::keyClick(&List(), Qt::Key_Return);
    EXPECT_EQ(modals.seen, Strings{"IP Configuration – " + last});
    EXPECT_TRUE(Status().isVisible());
    EXPECT_EQ(Status().text(), last + " was updated successfully.");
}

TEST_F(LancfgGuiMain, RefusedOrUnansweredWriteSaysSo) {
    lanifsim::SimDevice device = RunningDevice();
    device.writeConfigCode = 0;
    StartSim({device});
    Open();
    Select({kRunSerial});
    modals.Expect(Accept()); // the IP dialog
    modals.Expect(Accept()); // the message
    Button(IdChangeIpSettings).click();
    EXPECT_EQ(Row(kRunSerial)[1], QStringLiteral("Online")); // it refused, but it answers

    // The settings open again with what the device holds (read anew: the record held the
    // user's values); then it falls silent.
    modals.Expect([&](QDialog& ipDialog) {
        sim.ModifyDevice(kRunSerial, [](lanifsim::SimDevice& d) { d.silent = true; });
        Accept()(ipDialog);
    });
    modals.Expect(Accept());
    Button(IdChangeIpSettings).click();
    EXPECT_EQ(Row(kRunSerial)[1], QStringLiteral("Offline"));
    EXPECT_EQ(modals.texts, Strings(2, "Error sending new network configuration to device"));
}

TEST_F(LancfgGuiMain, ADeviceThatAnswersTheSearchButNotTheReadsIsOffline) {
    lanifsim::SimDevice device = RunningDevice();
    device.dropFirstReplyTo = "Nc";
    StartSim({device});
    Open();
    EXPECT_EQ(Row(kRunSerial), (Strings{"KPL0000001", "Offline", "1.234", "", "", "", "Off"}));
}

} // namespace

namespace {

TEST_F(LancfgGuiMain, AnEncryptedDeviceThatWantsItsKeyForReadsIsReadBeforeItsSettingsOpen) {
    lanifsim::SimDevice locked = simtest::CryptDevice();
    locked.challengeReads = true;
    locked.writeConfigCode = 1;
    lanifsim::SimDevice mute = RunningDevice("KPL0000005");
    mute.answersOnlySearch = true;
    StartSim({locked, mute});
    Open();
    EXPECT_EQ(Row(kCryptSerial)[3], QString()) << "nothing could be read without the key";

    // The key first, then the settings as the device holds them.
    Select({kCryptSerial});
    bool cryptShown = false;
    QString address;
    modals.Expect(EnterKey(kKeyText));
    modals.Expect([&](QDialog& ipDialog) {
        cryptShown = FindControl<QCheckBox>(ipDialog, IdCrypt)->isChecked();
        address = FindControl<QLineEdit>(ipDialog, IdIpAddress)->text();
        Retype(ipDialog, IdIpAddress, QStringLiteral("192.168.1.77"));
        Accept()(ipDialog);
    });
    Button(IdChangeIpSettings).click();
    EXPECT_EQ(modals.seen, (Strings{"Input AES Key", "IP Configuration – KPL0000002"}));
    EXPECT_TRUE(cryptShown);
    EXPECT_EQ(address, QStringLiteral("192.168.1.50"));
    lanifsim::SimDevice device;
    ASSERT_TRUE(sim.GetDevice(kCryptSerial, &device));
    EXPECT_EQ(device.staticIp, (lanifsim::Address{192, 168, 1, 77}));
    EXPECT_TRUE(device.crypt);
    EXPECT_EQ(device.staticAddress4, (lanifsim::Address{10, 0, 0, 4}));
    EXPECT_EQ(device.staticAddress5, (lanifsim::Address{10, 0, 0, 5}));
    EXPECT_EQ(Status().text(), QStringLiteral("KPL0000002 was updated successfully."));

    // What cannot be read is not offered.
    Select({"KPL0000005"});
    modals.Expect(Accept());
    Button(IdChangeIpSettings).click();
    EXPECT_EQ(modals.texts, Strings{"Error reading configuration from Lan Interface KPL0000005."});
    EXPECT_EQ(modals.seen.size(), 3);
    EXPECT_EQ(CountRequests('C'), 1);
}

TEST_F(LancfgGuiMain, TheKeysFileReadsAnEncryptedDeviceOnceOnlyItsOwnerMayReadIt) {
    lanifsim::SimDevice locked = simtest::CryptDevice();
    locked.challengeReads = true;
    StartSim({locked});
    const QString folder = userConfig.filePath(QStringLiteral("velantrix-konfigurator"));
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile keys(folder + QStringLiteral("/keys"));
    ASSERT_TRUE(keys.open(QIODevice::WriteOnly));
    keys.write(QByteArray::fromStdString(kCryptSerial + " " + simtest::kKeyText + "\n"));
    keys.close();
    keys.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    Open();
    EXPECT_EQ(Status().text(), "The keys file " + keys.fileName() +
                                   " is accessible by others (mode 0644); it is not used until "
                                   "only its owner may read and write it (chmod 600).");
    EXPECT_EQ(Row(kCryptSerial)[3], QString());

    keys.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    Button(IdRefreshList).click();
    EXPECT_TRUE(Status().isHidden());
    EXPECT_EQ(Row(kCryptSerial)[3], QStringLiteral("192.168.1.50"));
    Select({kCryptSerial});
    EXPECT_EQ(AddressShownWithoutAnExchange(), QStringLiteral("192.168.1.50"));
    EXPECT_EQ(modals.seen, Strings{"IP Configuration – KPL0000002"}) << "no key asked for";
}

TEST_F(LancfgGuiMain, ADeviceInItsBootloaderIsReadByTheRefreshAndItsSettingsShowWhatItHolds) {
    lanifsim::SimDevice boot = BootloaderDevice();
    boot.staticIp = {10, 0, 0, 9};
    StartSim({boot});
    Open();
    EXPECT_EQ(Row(kBootSerial), (Strings{"KPL0000003", "Maintenance", "0.010", "", "", "", ""}));
    Select({kBootSerial});
    EXPECT_EQ(AddressShownWithoutAnExchange(), QStringLiteral("10.0.0.9")) << "read by the refresh";
}

TEST_F(LancfgGuiMain, AWriteTheDeviceDidNotKeepFailsAndItsSettingsShowWhatItHolds) {
    lanifsim::SimDevice device = RunningDevice();
    device.keepsOldConfig = true;
    StartSim({device});
    Open();
    Select({kRunSerial});
    modals.Expect([](QDialog& ipDialog) {
        Retype(ipDialog, IdIpAddress, QStringLiteral("10.1.2.3"));
        Accept()(ipDialog);
    });
    modals.Expect(Accept());
    Button(IdChangeIpSettings).click();
    EXPECT_EQ(modals.texts, Strings{"KPL0000001 did not keep the new configuration"});
    EXPECT_EQ(Status().text(), QStringLiteral("KPL0000001 did not keep the new configuration"));

    EXPECT_EQ(AddressShownWithoutAnExchange(), QStringLiteral("192.168.1.50"))
        << "the write's read-back told what it holds";
}

// Takes every port a socket bound to one of these addresses could be given, so that the search
// cannot bind its socket there; the ports come free again with the object.
class HeldPorts {
public:
    HeldPorts(const std::vector<std::string>& addresses, int first, int last) {
        // This namespace's own range of automatic ports: the sockets there take first to last.
        std::ofstream("/proc/sys/net/ipv4/ip_local_port_range") << first << ' ' << last << '\n';
        for (const std::string& address : addresses)
            for (int port = first; port <= last; ++port) {
                sockaddr_in at{};
                at.sin_family = AF_INET;
                at.sin_port = htons(static_cast<uint16_t>(port));
                ::inet_pton(AF_INET, address.c_str(), &at.sin_addr);
                const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
                held += ::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0;
                fds_.push_back(fd);
            }
    }
    ~HeldPorts() {
        for (int fd : fds_)
            ::close(fd);
    }
    HeldPorts(const HeldPorts&) = delete;
    HeldPorts& operator=(const HeldPorts&) = delete;

    int held = 0;

private:
    std::vector<int> fds_;
};

TEST_F(LancfgGuiMain, TheRefreshNamesTheNetworksItCouldNotAskAndListsWhatAnsweredElsewhere) {
    lanifsim::SimDevice device = RunningDevice();
    device.silent = true;
    StartSim({device});
    // Five more networks with nothing behind them, after lo (the simulator starts only where
    // lo is alone).
    ASSERT_EQ(std::system("for n in 0 1 2 3 4; do ip link add vkd$n type veth peer name vkp$n && "
                          "ip addr add 10.88.$n.1/24 dev vkd$n && ip link set vkp$n up && "
                          "ip link set vkd$n multicast on up || exit 1; done"),
              0);
    Open();
    EXPECT_EQ(List().rowCount(), 0);
    EXPECT_TRUE(Status().isHidden()) << "every network was asked";

    sim.ModifyDevice(kRunSerial, [](lanifsim::SimDevice& d) { d.silent = false; });
    // No port left on the five networks: the search goes out on lo only.
    const HeldPorts ports({"10.88.0.1", "10.88.1.1", "10.88.2.1", "10.88.3.1", "10.88.4.1"}, 40000,
                          40001);
    ASSERT_EQ(ports.held, 10);
    Button(IdRefreshList).click();
    EXPECT_EQ(Status().text(), QStringLiteral("The search could not be sent on vkd0, vkd1, vkd2, "
                                              "vkd3 and 1 more networks (Address already in "
                                              "use); devices there are not listed."));
    EXPECT_EQ(Row(kRunSerial), (Strings{"KPL0000001", "Online", "1.234", "192.168.1.50",
                                        "255.255.255.0", "192.168.1.1", "Off"}));
}

} // namespace
