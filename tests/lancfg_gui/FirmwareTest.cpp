// The firmware file box and the firmware update from the main dialog.

#include "GuiFixture.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>

using namespace guitest;

namespace {

// Two records: four bytes, then three.
const QByteArray kFirmware = "0004DEADBEEF0003010203";

const QString kBusyNote = QStringLiteral("Please wait until the running operation has finished.");

// The main dialog that also notes what every progress report left on the screen.
class RecordingDlg : public ClancfgDlg {
public:
    using ClancfgDlg::ClancfgDlg;

    struct Report {
        int percent;
        std::string text;
        int barValue;
        bool barVisible;
        bool textVisible;
        QString shownText;
    };

    void OnProgress(int percent, const std::string& text) override {
        ClancfgDlg::OnProgress(percent, text);
        reports.push_back({percent, text, FindControl<QProgressBar>(*this, IdProgressBar)->value(),
                           FindControl<QProgressBar>(*this, IdProgressBar)->isVisible(),
                           FindControl<QLabel>(*this, IdProgressText)->isVisible(),
                           FindControl<QLabel>(*this, IdProgressText)->text()});
        if (duringUpdate && text == "Performing update") {
            auto once = std::move(duringUpdate);
            duringUpdate = nullptr;
            once();
        }
    }

    std::vector<Report> reports;
    std::function<void()> duringUpdate; // run once, at the first block
};

class LancfgGuiFirmware : public LancfgGuiMain {
protected:
    QComboBox& Files() { return *FindControl<QComboBox>(*dialog, IdFirmwareFiles); }
    QProgressBar& Bar() { return *FindControl<QProgressBar>(*dialog, IdProgressBar); }
};

TEST_F(LancfgGuiFirmware, NoFirmwareFileSaysWhereToPutThemAndAFileAddedThenIsUsed) {
    WriteFirmwareFile(QStringLiteral("firmware.enc"), kFirmware); // not kplan*
    StartSim({RunningDevice()});
    Open();
    EXPECT_TRUE(Files().isHidden());
    EXPECT_EQ(Files().count(), 0);

    Select({kRunSerial});
    sim.ClearRequests();
    modals.Expect(Accept());
    Button(IdUpdateFirmware).click();
    const QString userFolder = userData.filePath(QStringLiteral("velantrix-konfigurator/firmware"));
    EXPECT_EQ(modals.texts,
              QStringList{"No firmware file found.\n\nPlease put the firmware files (kplan*.enc) "
                          "into the folder beside the program:\n" +
                          programDir.path() + "\n\nor into your own firmware folder:\n" +
                          userFolder});
    EXPECT_TRUE(sim.Requests().empty());

    // The user follows the advice and tries again.
    WriteFirmwareFile(QStringLiteral("kplan_1.enc"), kFirmware, userFolder);
    Button(IdUpdateFirmware).click();
    EXPECT_EQ(modals.texts.size(), 1);
    EXPECT_EQ(sim.ReceivedBlocks(kRunSerial),
              (std::vector<std::string>{"\xDE\xAD\xBE\xEF", "\x01\x02\x03"}));
    EXPECT_EQ(Status().text(), QStringLiteral("Firmware update completed successfully."));
}

TEST_F(LancfgGuiFirmware, OneFileStaysHiddenButIsUsed) {
    WriteFirmwareFile(QStringLiteral("kplan_2.enc"), kFirmware);
    StartSim({});
    Open();
    EXPECT_TRUE(Files().isHidden());
    EXPECT_EQ(Files().count(), 1);
    EXPECT_EQ(Files().currentText(), QStringLiteral("kplan_2.enc"));
}

TEST_F(LancfgGuiFirmware, TwoFilesShowTheBoxWithTheFirstSelected) {
    WriteFirmwareFile(QStringLiteral("kplan_2.enc"), kFirmware);
    WriteFirmwareFile(QStringLiteral("kplan_1.enc"), kFirmware);
    WriteFirmwareFile(QStringLiteral("kplan_3.txt"), kFirmware);
    StartSim({});
    Open();
    EXPECT_TRUE(Files().isVisible());
    EXPECT_EQ(Files().count(), 2);
    EXPECT_EQ(Files().itemText(0), QStringLiteral("kplan_1.enc"));
    EXPECT_EQ(Files().currentText(), QStringLiteral("kplan_1.enc"));

    // A refresh reads the directory again.
    QFile::remove(programDir.filePath(QStringLiteral("kplan_2.enc")));
    Button(IdRefreshList).click();
    EXPECT_TRUE(Files().isHidden());
    EXPECT_EQ(Files().count(), 1);
}

TEST_F(LancfgGuiFirmware, UserFolderFilesFollowThoseBesideTheProgramAndAreUsed) {
    const QString userFolder = userData.filePath(QStringLiteral("velantrix-konfigurator/firmware"));
    WriteFirmwareFile(QStringLiteral("kplan_2.enc"), kFirmware);
    WriteFirmwareFile(QStringLiteral("kplan_2.enc"), "0001AA", userFolder); // hidden by the above
    WriteFirmwareFile(QStringLiteral("kplan_1.enc"), "000201020001FF", userFolder);
    StartSim({RunningDevice()});
    Open();
    EXPECT_TRUE(Files().isVisible());
    ASSERT_EQ(Files().count(), 2);
    EXPECT_EQ(Files().itemText(0), QStringLiteral("kplan_2.enc"));
    EXPECT_EQ(Files().itemText(1), QStringLiteral("kplan_1.enc"));

    Select({kRunSerial});
    Files().setCurrentIndex(1);
    Button(IdUpdateFirmware).click();
    EXPECT_TRUE(modals.texts.isEmpty()) << modals.texts.join(", ").toStdString();
    EXPECT_EQ(sim.ReceivedBlocks(kRunSerial), (std::vector<std::string>{"\x01\x02", "\xFF"}));
}

TEST_F(LancfgGuiFirmware, UpdateWithKeyMovesTheProgressBarAndRefusesASecondExchange) {
    WriteFirmwareFile(QStringLiteral("kplan_1.enc"), kFirmware);
    StartSim({CryptDevice()});
    auto& recording = Open<RecordingDlg>();
    Select({kCryptSerial});
    // The key dialog names the device; refused, it comes back and says so.
    QList<QStringList> keyDialogLabels;
    auto noteLabels = [&](const QString& key) -> ModalDriver::Handler {
        return [&, key](QDialog& shown) {
            QStringList texts;
            for (auto* label : shown.findChildren<QLabel*>())
                if (!label->isHidden())
                    texts << label->text();
            keyDialogLabels << texts;
            EnterKey(key)(shown);
        };
    };
    modals.Expect(noteLabels(kWrongKeyText));
    modals.Expect(noteLabels(kKeyText));

    bool refusedWhileBusy = false;
    recording.duringUpdate = [&] {
        // Everything that would start another exchange is off and refused.
        EXPECT_TRUE(recording.IsBusy());
        EXPECT_FALSE(Button(IdRefreshList).isEnabled());
        EXPECT_FALSE(Button(IdChangeIpSettings).isEnabled());
        EXPECT_FALSE(Button(IdUpdateFirmware).isEnabled());
        EXPECT_FALSE(Button(IdOk).isEnabled());
        EXPECT_FALSE(Files().isEnabled());
        const size_t requests = sim.Requests().size();
        recording.OnRefreshList();
        recording.OnUpdateFirmware();
        recording.OnChangeIpSettings();
        recording.OnBootPollTimer();
        recording.OnDeviceSelectionChanged();
        recording.reject();
        EXPECT_FALSE(Button(IdUpdateFirmware).isEnabled());
        EXPECT_TRUE(recording.isVisible());
        EXPECT_EQ(Status().text(), QStringLiteral("Performing update\n") + kBusyNote);
        refusedWhileBusy = sim.Requests().size() == requests;
    };
    Button(IdUpdateFirmware).click();

    EXPECT_TRUE(modals.texts.isEmpty()) << modals.texts.join(", ").toStdString();
    EXPECT_EQ(modals.seen, QStringList(2, QStringLiteral("Input AES Key")));
    const QString refusedNote = QStringLiteral(
        "The key entered before was not accepted by the device. Please check it and enter it "
        "again.");
    ASSERT_EQ(keyDialogLabels.size(), 2);
    EXPECT_TRUE(keyDialogLabels[0].contains("Device: " + QString::fromStdString(kCryptSerial)));
    EXPECT_FALSE(keyDialogLabels[0].contains(refusedNote));
    EXPECT_TRUE(keyDialogLabels[1].contains(refusedNote));
    EXPECT_TRUE(refusedWhileBusy);
    EXPECT_EQ(sim.ReceivedBlocks(kCryptSerial),
              (std::vector<std::string>{"\xDE\xAD\xBE\xEF", "\x01\x02\x03"}));

    // Waiting for the bootloader, then the blocks with the share of the file read so far.
    ASSERT_FALSE(recording.reports.empty());
    const auto& first = recording.reports.front();
    EXPECT_EQ(first.text, "Waiting for device to enter bootloader");
    EXPECT_EQ(first.shownText, QStringLiteral("Waiting for device to enter bootloader"));
    EXPECT_TRUE(first.barVisible);
    EXPECT_TRUE(first.textVisible);
    EXPECT_EQ(first.barValue, 0);
    std::vector<int> updateValues;
    for (const auto& report : recording.reports)
        if (report.text == "Performing update") {
            // From the refused requests on, their note stays until the update ends.
            EXPECT_EQ(report.shownText, updateValues.empty()
                                            ? QStringLiteral("Performing update")
                                            : QStringLiteral("Performing update\n") + kBusyNote);
            EXPECT_EQ(report.barValue, report.percent);
            updateValues.push_back(report.barValue);
        }
    ASSERT_GE(updateValues.size(), 2u);
    EXPECT_EQ(updateValues.front(), 0);
    EXPECT_GT(updateValues.back(), updateValues.front());
    EXPECT_TRUE(std::is_sorted(updateValues.begin(), updateValues.end()));

    // Afterwards: the bar hidden, the text says it worked, the controls back, the row redrawn.
    EXPECT_TRUE(Bar().isHidden());
    EXPECT_TRUE(Status().isVisible());
    EXPECT_EQ(Status().text(), QStringLiteral("Firmware update completed successfully."));
    EXPECT_FALSE(recording.IsBusy());
    EXPECT_TRUE(Button(IdRefreshList).isEnabled());
    EXPECT_TRUE(Button(IdUpdateFirmware).isEnabled());
    EXPECT_EQ(Row(kCryptSerial)[1], QStringLiteral("Maintenance"));
}

TEST_F(LancfgGuiFirmware, RefusedBlockEndsWithTheFailureMessage) {
    WriteFirmwareFile(QStringLiteral("kplan_1.enc"), kFirmware);
    lanifsim::SimDevice device = RunningDevice();
    device.refuseBlock = 1;
    StartSim({device});
    Open();
    Select({kRunSerial});
    modals.Expect(Accept());
    Button(IdUpdateFirmware).click();
    EXPECT_EQ(modals.texts, QStringList{"Firmware update failed!"});
    EXPECT_TRUE(Bar().isHidden());
    EXPECT_TRUE(Status().isHidden());
    EXPECT_EQ(sim.ReceivedBlocks(kRunSerial).size(), 1u);
}

TEST_F(LancfgGuiFirmware, BadFileFailsWithoutPuttingTheDeviceIntoItsBootloader) {
    WriteFirmwareFile(QStringLiteral("kplan_1.enc"), "0004DEADBEXF");
    StartSim({RunningDevice()});
    Open();
    Select({kRunSerial});
    sim.ClearRequests();
    modals.Expect(Accept());
    Button(IdUpdateFirmware).click();
    EXPECT_EQ(modals.texts, QStringList{"Firmware update failed!"});
    EXPECT_EQ(CountRequests('B'), 0);
    EXPECT_EQ(Row(kRunSerial)[1], QStringLiteral("Online"));
}

TEST_F(LancfgGuiFirmware, NameOutsideTheProgramDirectoryIsRefused) {
    WriteFirmwareFile(QStringLiteral("kplan_1.enc"), kFirmware);
    QTemporaryDir elsewhere;
    QFile outside(elsewhere.filePath(QStringLiteral("kplan_9.enc")));
    ASSERT_TRUE(outside.open(QIODevice::WriteOnly));
    outside.write(kFirmware);
    outside.close();
    StartSim({RunningDevice()});
    Open();
    Select({kRunSerial});
    Files().setEditText(elsewhere.filePath(QStringLiteral("kplan_9.enc")));
    sim.ClearRequests();
    modals.Expect(Accept());
    Button(IdUpdateFirmware).click();
    EXPECT_EQ(modals.texts, QStringList{"Firmware update failed!"});
    EXPECT_TRUE(sim.Requests().empty());
}

TEST_F(LancfgGuiFirmware, CancelledKeyDialogEndsTheUpdateWithoutReportingAFailure) {
    WriteFirmwareFile(QStringLiteral("kplan_1.enc"), kFirmware);
    StartSim({CryptDevice()});
    Open();
    Select({kCryptSerial});
    modals.Expect(Reject());
    Button(IdUpdateFirmware).click();
    EXPECT_EQ(modals.seen, QStringList{"Input AES Key"});
    EXPECT_TRUE(modals.texts.isEmpty()) << modals.texts.join(", ").toStdString();
    EXPECT_TRUE(sim.ReceivedBlocks(kCryptSerial).empty());
    EXPECT_TRUE(Status().isHidden());
}

TEST_F(LancfgGuiFirmware, LastBlockRestartsTheDeviceWhichComesBackWithItsNewVersion) {
    WriteFirmwareFile(QStringLiteral("kplan_1.enc"), kFirmware);
    lanifsim::SimDevice device = RunningDevice();
    device.restartAfterBlock = 1;
    StartSim({device});
    Open();
    Select({kRunSerial});
    Button(IdUpdateFirmware).click();
    EXPECT_TRUE(modals.texts.isEmpty()) << modals.texts.join(", ").toStdString();
    EXPECT_EQ(Row(kRunSerial), (QStringList{"KPL0000001", "Booting", "0.010", "", "", "", ""}));

    sim.ModifyDevice(kRunSerial, [](lanifsim::SimDevice& d) { d.version = 1300; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return Row(kRunSerial)[1] == "Online"; }, 10000));
    EXPECT_EQ(Row(kRunSerial)[2], QStringLiteral("1.300"));
}

} // namespace
