// The dialog templates and the two small dialogs, without any device.

#include "CAboutDlg.h"
#include "ClancfgDlg.h"
#include "ControlIds.h"
#include "DlgIpConfig.h"
#include "DlgKeyInput.h"
#include "GuiFixture.h"
#include "ModalDriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using guitest::Retype;

TEST(LancfgGuiTemplate, ConvertsDialogUnitsFromTheFontMetrics) {
    const QFontMetrics metrics(DialogFont());
    const DialogBaseUnits units(metrics);
    EXPECT_GT(units.x, 2);
    EXPECT_GE(units.y, metrics.height());
    // Four horizontal units are one average character, eight vertical units one line.
    EXPECT_EQ(units.ToPixelsX(4), units.x);
    EXPECT_EQ(units.ToPixelsY(8), units.y);
    EXPECT_EQ(units.ToPixels(0, 0, 400, 800), QRect(0, 0, 100 * units.x, 100 * units.y));
}

TEST(LancfgGuiTemplate, MainDialogHasEveryControlWhereTheTemplatePutsIt) {
    ClancfgDlg dialog(QStringLiteral("/nonexistent")); // never shown: no discovery
    const DialogBaseUnits units{QFontMetrics(dialog.font())};
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Velantrix Lan-Interface Configurator"));
    EXPECT_EQ(dialog.size(), QSize(units.ToPixelsX(494), units.ToPixelsY(292)));

    struct Expected {
        int id;
        const char* text;
        QRect rect;
        bool hidden;
    };
    const Expected expected[] = {
        {IdOk, "&Close", units.ToPixels(7, 271, 50, 14), false},
        {IdRefreshList, "&Refresh List", units.ToPixels(115, 249, 50, 14), false},
        {IdChangeIpSettings, "Change &IP Settings", units.ToPixels(183, 249, 91, 14), false},
        {IdUpdateFirmware, "&Update Firmware", units.ToPixels(291, 249, 85, 14), false},
    };
    for (const Expected& e : expected) {
        auto* button = FindControl<QPushButton>(dialog, e.id);
        ASSERT_NE(button, nullptr) << e.id;
        EXPECT_EQ(button->text(), QString::fromUtf8(e.text));
        EXPECT_EQ(button->geometry(), e.rect) << e.text;
        EXPECT_EQ(button->isHidden(), e.hidden);
    }
    EXPECT_FALSE(FindControl<QPushButton>(dialog, IdOk)->isDefault());
    auto* list = FindControl<QTableWidget>(dialog, IdDeviceList);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->geometry(), units.ToPixels(7, 18, 480, 177));
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    auto* bar = FindControl<QProgressBar>(dialog, IdProgressBar);
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->isHidden());
    EXPECT_EQ(bar->geometry(), units.ToPixels(7, 227, 480, 14));
    auto* text = FindControl<QLabel>(dialog, IdProgressText);
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->isHidden());
    auto* files = FindControl<QComboBox>(dialog, IdFirmwareFiles);
    ASSERT_NE(files, nullptr);
    EXPECT_TRUE(files->isHidden());
    EXPECT_TRUE(files->isEditable());
    EXPECT_EQ(files->geometry().topLeft(), units.ToPixels(291, 272, 0, 0).topLeft());
    // Nothing selected yet: the actions on a device are off.
    EXPECT_FALSE(FindControl<QPushButton>(dialog, IdChangeIpSettings)->isEnabled());
    EXPECT_FALSE(FindControl<QPushButton>(dialog, IdUpdateFirmware)->isEnabled());
}

// The texts of the dialog's labels that are shown.
QStringList ShownLabels(const QDialog& dialog) {
    QStringList texts;
    for (auto* label : dialog.findChildren<QLabel*>())
        if (!label->isHidden())
            texts << label->text();
    return texts;
}

TEST(LancfgGuiKeyInput, NamesTheDeviceSaysWhenTheKeyWasRefusedAndTakesOnlyHexDigits) {
    DlgKeyInput first(QStringLiteral("KPL0000002"), false);
    EXPECT_EQ(ShownLabels(first),
              (QStringList{"Device: KPL0000002", "Please enter the network AES key of the device.",
                           "You find this 32 digit key printed on the outside of the Lan "
                           "Interface."}));
    DlgKeyInput again(QStringLiteral("KPL0000002"), true);
    EXPECT_TRUE(ShownLabels(again).contains(
        QStringLiteral("The key entered before was not accepted by the device. Please check it "
                       "and enter it again.")));

    auto* edit = FindControl<QLineEdit>(first, IdKeyEdit);
    QTest::keyClicks(edit, QStringLiteral("00 11-22gg33xAaFf"));
    EXPECT_EQ(edit->text(), QStringLiteral("00112233AaFf"));
}

TEST(LancfgGuiKeyInput, OkOnlyAtExactly32CharactersAndNo33rd) {
    DlgKeyInput dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Input AES Key"));
    auto* edit = FindControl<QLineEdit>(dialog, IdKeyEdit);
    auto* ok = FindControl<QPushButton>(dialog, IdOk);
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(FindControl<QPushButton>(dialog, IdCancel)->text(), QStringLiteral("Abbrechen"));
    EXPECT_FALSE(ok->isEnabled());

    QTest::keyClicks(edit, QString(31, QLatin1Char('a')));
    EXPECT_FALSE(ok->isEnabled());
    QTest::keyClicks(edit, QStringLiteral("b"));
    EXPECT_TRUE(ok->isEnabled());
    QTest::keyClicks(edit, QStringLiteral("c")); // a 33rd character is not taken
    EXPECT_EQ(edit->text().size(), 32);
    EXPECT_EQ(dialog.keyText, QString(31, QLatin1Char('a')) + QLatin1Char('b'));
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_FALSE(ok->isEnabled());
    // Return does not confirm a short key.
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), 0);
}

class LancfgGuiIpConfig : public ::testing::Test {
protected:
    void Open() {
        dialog.dhcpEnabled = false;
        dialog.cryptEnabled = true;
        dialog.ipAddressText = QStringLiteral("192.168.1.50");
        dialog.netmaskText = QStringLiteral("255.255.255.0");
        dialog.gatewayText = QStringLiteral("192.168.1.1");
        dialog.show();
    }
    QWidget* Control(int id) { return FindControl<QWidget>(dialog, id); }

    DlgIpConfig dialog;
};

TEST_F(LancfgGuiIpConfig, ShowsTheFieldsInItsControls) {
    Open();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("IP Configuration"));
    EXPECT_EQ(FindControl<QLineEdit>(dialog, IdIpAddress)->text(), QStringLiteral("192.168.1.50"));
    EXPECT_EQ(FindControl<QLineEdit>(dialog, IdNetmask)->text(), QStringLiteral("255.255.255.0"));
    EXPECT_EQ(FindControl<QLineEdit>(dialog, IdGateway)->text(), QStringLiteral("192.168.1.1"));
    EXPECT_FALSE(FindControl<QCheckBox>(dialog, IdDhcp)->isChecked());
    EXPECT_TRUE(FindControl<QCheckBox>(dialog, IdCrypt)->isChecked());
    EXPECT_EQ(FindControl<QCheckBox>(dialog, IdCrypt)->text(),
              QStringLiteral("AES Encrypt Lan Communication"));
    EXPECT_EQ(FindControl<QGroupBox>(dialog, IdStaticGroup)->title(),
              QStringLiteral("Static Configuration"));
    for (int id : {IdStaticGroup, IdIpAddressLabel, IdNetmaskLabel, IdGatewayLabel, IdIpAddress,
                   IdNetmask, IdGateway})
        EXPECT_TRUE(Control(id)->isEnabled()) << id;
}

TEST_F(LancfgGuiIpConfig, DhcpDisablesTheStaticGroupButItsTextsAreStillRead) {
    Open();
    Retype(FindControl<QLineEdit>(dialog, IdIpAddress), QStringLiteral("10.0.0.7"));
    FindControl<QCheckBox>(dialog, IdDhcp)->click();
    for (int id : {IdStaticGroup, IdIpAddressLabel, IdNetmaskLabel, IdGatewayLabel, IdIpAddress,
                   IdNetmask, IdGateway})
        EXPECT_FALSE(Control(id)->isEnabled()) << id;
    FindControl<QCheckBox>(dialog, IdCrypt)->click();
    FindControl<QPushButton>(dialog, IdOk)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(dialog.dhcpEnabled);
    EXPECT_FALSE(dialog.cryptEnabled);
    EXPECT_EQ(dialog.ipAddressText, QStringLiteral("10.0.0.7"));
    EXPECT_EQ(dialog.gatewayText, QStringLiteral("192.168.1.1"));
}

TEST_F(LancfgGuiIpConfig, OkOnlyWhileEveryAddressFieldHoldsAWholeAddress) {
    Open();
    auto* edit = FindControl<QLineEdit>(dialog, IdNetmask);
    auto* ok = FindControl<QPushButton>(dialog, IdOk);
    EXPECT_TRUE(ok->isEnabled());
    Retype(edit, QStringLiteral("10.x0.300.1.9"));
    // Letters, a number above 255 and a fifth number are refused as they are typed.
    EXPECT_EQ(edit->text(), QStringLiteral("10.0.30.19"));
    EXPECT_TRUE(ok->isEnabled());

    // A leading zero is read as octal elsewhere: not whole until it is dropped.
    for (const char* partial : {"10..5", "192.168.1", "1.2.3.", "", "010.0.0.1"}) {
        Retype(edit, QString::fromLatin1(partial));
        EXPECT_EQ(edit->text(), QString::fromLatin1(partial));
        EXPECT_FALSE(ok->isEnabled()) << partial;
    }
    // Return drops the leading zero; the address shown is the one taken.
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(edit->text(), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.netmaskText, QStringLiteral("10.0.0.1"));
}

TEST(LancfgGuiAbout, ShowsNameAndVersion) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("Info über lancfg"));
    bool found = false;
    for (auto* label : about.findChildren<QLabel*>())
        found = found || label->text() == QStringLiteral("lancfg, Version 1.0");
    EXPECT_TRUE(found);
}

TEST(LancfgGuiAbout, OpensFromTheWindowMenu) {
    ClancfgDlg dialog(QStringLiteral("/nonexistent"));
    ModalDriver modals;
    modals.Expect(Accept());
    // The menu opens where the window system offers none (the menu key, or a right click), and
    // its item is chosen with its letter.
    QStringList items;
    QTimer user;
    user.setInterval(10);
    QObject::connect(&user, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr)
            return;
        user.stop();
        for (const QAction* action : menu->actions())
            items << action->text();
        QTest::keyClick(menu, Qt::Key_I);
        if (menu->isVisible())
            menu->close(); // the letter chose nothing: the test goes on, and fails
    });
    user.start();
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(10, 10),
                              dialog.mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(&dialog, &menuKey);
    EXPECT_EQ(items, QStringList{QStringLiteral("&Info über lancfg...")});
    EXPECT_EQ(modals.seen, QStringList{QStringLiteral("Info über lancfg")});

    // The command of the menu item counts without its low four bits; another opens nothing.
    modals.Expect(Accept());
    dialog.OnSysCommand(ClancfgDlg::IdmAboutBox + 1);
    dialog.OnSysCommand(32);
    EXPECT_EQ(modals.seen.size(), 2);
    EXPECT_TRUE(modals.unexpected.isEmpty());
}

} // namespace
