#pragma once

// The scene of the main dialog's tests: simulated devices in this test's private network
// namespace, a program directory of its own for firmware files, and a driver for the modal
// dialogs the actions open.

#include "ClancfgDlg.h"
#include "ControlIds.h"
#include "LanIfSimulator.h"
#include "ModalDriver.h"
#include "SimFixture.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Readable QString values in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace guitest {

using simtest::BootloaderDevice;
using simtest::kBootSerial;
using simtest::kCryptSerial;
inline const std::string kRunSerial = simtest::kPlainSerial;
inline const std::string kLoopSerial = simtest::kLoopbackSerial;
inline const QString kKeyText = QString::fromStdString(simtest::kKeyText);
inline const QString kWrongKeyText = QString::fromStdString(simtest::kWrongKeyText);

inline lanifsim::SimDevice RunningDevice(const std::string& serial = kRunSerial) {
    return simtest::PlainDevice(serial);
}

// Wants its key for writes and the bootloader, restarts to apply a configuration, and uses DHCP.
inline lanifsim::SimDevice CryptDevice() {
    lanifsim::SimDevice d = simtest::CryptDevice();
    d.version = 1240;
    d.dhcp = true;
    d.currentIp = {192, 168, 1, 52};
    d.staticIp = {192, 168, 1, 52};
    return d;
}

inline lanifsim::SimDevice LoopbackDevice() {
    return simtest::LoopbackDevice();
}

class LancfgGuiMain : public ::testing::Test {
protected:
    // The user's firmware folder and keys file lie in this test's own folders, and no key
    // comes from the environment.
    LancfgGuiMain() {
        qputenv("XDG_DATA_HOME", userData.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", userConfig.path().toUtf8());
        qunsetenv("LANCFG_KEY");
    }

    void TearDown() override {
        dialog.reset();
        sim.Stop();
        EXPECT_TRUE(modals.unexpected.isEmpty()) << modals.unexpected.join(", ").toStdString();
        EXPECT_EQ(modals.Pending(), 0u) << "expected dialogs that never came";
    }

    void StartSim(const std::vector<lanifsim::SimDevice>& devices) {
        for (const auto& d : devices)
            sim.AddDevice(d);
        ASSERT_TRUE(sim.Start()) << sim.LastError();
    }

    template <class Dialog = ClancfgDlg> Dialog& Open() {
        auto owned = std::make_unique<Dialog>(programDir.path());
        Dialog& d = *owned;
        dialog = std::move(owned);
        dialog->show(); // initialises: discovery, reads, firmware files
        return d;
    }

    void WriteFirmwareFile(const QString& name, const QByteArray& content,
                           const QString& directory = QString()) {
        QDir().mkpath(directory.isEmpty() ? programDir.path() : directory);
        QFile file(QDir(directory.isEmpty() ? programDir.path() : directory).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    QTableWidget& List() { return *FindControl<QTableWidget>(*dialog, IdDeviceList); }
    QPushButton& Button(int id) { return *FindControl<QPushButton>(*dialog, id); }
    // The status line above the buttons.
    QLabel& Status() { return *FindControl<QLabel>(*dialog, IdProgressText); }

    int RowOf(const std::string& serial) {
        for (int row = 0; row < List().rowCount(); ++row)
            if (List().item(row, 0)->text() == QString::fromStdString(serial))
                return row;
        return -1;
    }

    // The texts of one row, all seven columns.
    QStringList Row(const std::string& serial) {
        QStringList texts;
        const int row = RowOf(serial);
        if (row < 0)
            return texts;
        for (int column = 0; column < List().columnCount(); ++column)
            texts << (List().item(row, column) ? List().item(row, column)->text() : QString());
        return texts;
    }

    void Select(const std::vector<std::string>& serials) {
        List().clearSelection();
        for (const auto& serial : serials)
            List().selectionModel()->select(List().model()->index(RowOf(serial), 0),
                                            QItemSelectionModel::Select |
                                                QItemSelectionModel::Rows);
    }

    // A running device that restarts on a written configuration and then stays silent: the
    // dialog shows it "Booting" and polls it.
    void RestartIntoSilence() {
        lanifsim::SimDevice device = RunningDevice();
        device.writeConfigCode = 2;
        device.restartSilenceMs = 120000;
        StartSim({device});
        Open();
        Select({kRunSerial});
        modals.Expect(Accept());
        Button(IdChangeIpSettings).click();
    }

    // Opens the selected device's IP settings and cancels them: the address they showed, or
    // "(asked the device)" when opening them sent a request.
    QString AddressShownWithoutAnExchange() {
        sim.ClearRequests();
        QString address;
        modals.Expect([&address](QDialog& ipDialog) {
            address = FindControl<QLineEdit>(ipDialog, IdIpAddress)->text();
            Reject()(ipDialog);
        });
        Button(IdChangeIpSettings).click();
        return sim.Requests().empty() ? address : QStringLiteral("(asked the device)");
    }

    int CountRequests(char command) {
        int count = 0;
        for (const auto& request : sim.Requests())
            count += request.command == command ? 1 : 0;
        return count;
    }

    lanifsim::Simulator sim;
    QTemporaryDir programDir;
    QTemporaryDir userData;
    QTemporaryDir userConfig;
    ModalDriver modals;
    std::unique_ptr<ClancfgDlg> dialog;
};

// Types text into a line edit of a dialog in place of what it held, as a user does.
inline void Retype(QLineEdit* edit, const QString& text) {
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}
inline void Retype(QDialog& dialog, int id, const QString& text) {
    Retype(FindControl<QLineEdit>(dialog, id), text);
}

// Types text into the key dialog's edit box and presses OK.
inline ModalDriver::Handler EnterKey(const QString& key) {
    return [key](QDialog& dialog) {
        auto* edit = FindControl<QLineEdit>(dialog, IdKeyEdit);
        if (edit == nullptr)
            return; // not the key dialog: the driver notes it and closes it
        edit->clear();
        QTest::keyClicks(edit, key);
        FindControl<QPushButton>(dialog, IdOk)->click();
    };
}

} // namespace guitest
