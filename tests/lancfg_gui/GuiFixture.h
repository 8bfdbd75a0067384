#pragma once

// The scene of the main dialog's tests: simulated devices in this test's private network
// namespace, a program directory of its own for firmware files, and a driver for the modal
// dialogs the actions open.

#include "ClancfgDlg.h"
#include "DialogTemplate.h"
#include "LanIfSimulator.h"
#include "ModalDriver.h"

#include <QFile>
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

inline const std::string kRunSerial = "KPL0000001";
inline const std::string kCryptSerial = "KPL0000002";
inline const std::string kBootSerial = "KPL0000003";
inline const std::string kLoopSerial = "KPL0000004";
inline const QString kKeyText = QStringLiteral("000102030405060708090A0B0C0D0E0F");
inline const QString kWrongKeyText = QStringLiteral("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");

inline lanifsim::SimDevice RunningDevice(const std::string& serial = kRunSerial) {
    lanifsim::SimDevice d;
    d.serial = serial;
    d.version = 1234;
    d.currentIp = {192, 168, 1, 50};
    d.currentGateway = {192, 168, 1, 1};
    d.currentNetmask = {255, 255, 255, 0};
    d.staticIp = {192, 168, 1, 50};
    d.staticGateway = {192, 168, 1, 1};
    d.staticNetmask = {255, 255, 255, 0};
    d.restartSilenceMs = 300;
    return d;
}

// Wants its key for writes and the bootloader, and restarts to apply a configuration.
inline lanifsim::SimDevice CryptDevice() {
    lanifsim::SimDevice d = RunningDevice(kCryptSerial);
    d.version = 1240;
    d.key = std::string("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F", 16);
    d.crypt = true;
    d.dhcp = true;
    d.currentIp = {192, 168, 1, 52};
    d.staticIp = {192, 168, 1, 52};
    d.writeConfigCode = 2;
    return d;
}

inline lanifsim::SimDevice BootloaderDevice() {
    lanifsim::SimDevice d = RunningDevice(kBootSerial);
    d.inBootloader = true;
    d.bootloaderVersion = 10;
    return d;
}

inline lanifsim::SimDevice LoopbackDevice() {
    lanifsim::SimDevice d = RunningDevice(kLoopSerial);
    d.currentIp = {127, 0, 0, 1};
    return d;
}

class LancfgGuiMain : public ::testing::Test {
protected:
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

    void WriteFirmwareFile(const QString& name, const QByteArray& content) {
        QFile file(programDir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    QTableWidget& List() { return *FindControl<QTableWidget>(*dialog, IdDeviceList); }
    QPushButton& Button(int id) { return *FindControl<QPushButton>(*dialog, id); }

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

    int CountRequests(char command) {
        int count = 0;
        for (const auto& request : sim.Requests())
            count += request.command == command ? 1 : 0;
        return count;
    }

    lanifsim::Simulator sim;
    QTemporaryDir programDir;
    ModalDriver modals;
    std::unique_ptr<ClancfgDlg> dialog;
};

} // namespace guitest
