#pragma once

#include "LanInterface.h"
#include "ProgressObserver.h"

#include <QDialog>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

// The main dialog of lancfg_gui: the list of detected LAN interfaces and the actions on the
// selected one. It is also the progress observer of a firmware update and keeps itself alive
// during one by dispatching the waiting events in OnProgress.
//
// The IP settings dialog offers only what the device reported: a record whose stored
// configuration was not read (the device wants its key for reads, or did not answer) is read
// first, asking for the key when the device wants it, and the dialog does not open when the
// read fails. Otherwise the write would send fields the user never saw (encryption off, the
// fourth and fifth addresses zero) as if they were the device's.
//
// Only one exchange with the devices runs at a time. Refresh, IP settings and firmware update
// mark the dialog busy for their whole exchange: while busy, the controls that would start
// another exchange (and Close) are disabled, their handlers, Escape and the window's close
// button are refused with a note in the progress text, and the poll timer and the About box
// ignore what reaches them.
//
// The poll of restarting devices is a read that can be abandoned: it identifies copies of their
// records on a thread of its own, so that the dialog stays responsive (Close and Escape work)
// while a silent device keeps each exchange waiting for its reply time. Its results replace the
// records when it ends, unless an action has started an exchange since: such an action first
// abandons the poll (waiting for the exchange in flight, whose result is dropped).
class ClancfgDlg : public QDialog, public ProgressObserver {
    Q_OBJECT
public:
    // The text of the About item of the window menu, and the command it sends.
    static constexpr int IdmAboutBox = 16;
    static constexpr int BootPollPeriodMs = 2000;

    // programDirectory: where the firmware files are looked for; empty means the directory of
    // the running program.
    explicit ClancfgDlg(const QString& programDirectory = QString(), QWidget* parent = nullptr);
    ~ClancfgDlg() override;

    // Every device seen during this run, by serial number text. The record here is the one all
    // actions work on; entries are never removed.
    std::map<std::string, LanInterface> devices;

    // The map entry of the upper selected row, or nullptr when no row is selected.
    LanInterface* GetSelectedDevice();
    // Shows the record in its row (found by serial number, appended when new).
    void UpdateDeviceRow(const LanInterface& device);
    // Discovers the devices, reads status and configuration of each (with the keys of
    // LANCFG_KEY or the user's keys file) and shows them. The status line names the networks
    // the search could not be sent on, and why the stored keys were not used.
    void RefreshDeviceList();
    // Fills the firmware file box with the "kplan*.enc" files of the program directory, then
    // those of the user's firmware folder ($XDG_DATA_HOME/velantrix-konfigurator/firmware).
    void RefreshFirmwareFiles();

    void OnProgress(int percent, const std::string& text) override;

    // Command handlers.
    void OnRefreshList();
    void OnChangeIpSettings();
    void OnUpdateFirmware();
    void OnDeviceSelectionChanged();
    void OnBootPollTimer();
    void OnSysCommand(int id);

    bool IsBusy() const { return busy_; }
    // A poll of restarting devices is in flight (its results are not applied yet).
    bool IsPolling() const { return pollThread_.joinable(); }
    const QTimer& BootPollTimer() const { return bootPollTimer_; }
    QString ProgramDirectory() const { return programDirectory_; }

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    class BusyScope;

    void OnInitDialog();
    void FitToScreen();
    void LayOutControls();
    void UpdateActionButtons();
    void SetBusy(bool busy);
    // Runs the key dialog for the device, saying whether the key it held was just refused;
    // true with the key set on the device when the user confirmed one.
    bool AskForKey(LanInterface& device, bool previousKeyRejected);
    // Runs exchange under the wait cursor; while the device answers it with a key error, asks
    // for the key and runs it again. cancelled, when given, tells that the user gave none.
    LanResult RunWithKey(LanInterface& device, const std::function<LanResult()>& exchange,
                         bool* cancelled = nullptr);
    // True when the record holds the device's stored configuration as the device reported it,
    // reading it first when it does not; says so when it cannot be read.
    bool ReadStoredConfig(LanInterface& device);
    // Leaves text in the status line above the buttons until the next action starts.
    void ShowStatus(const QString& text);
    // Applies the records of a finished poll, unless it was abandoned.
    void OnBootPollDone(const std::vector<LanInterface>& polled, unsigned generation);
    // Waits for a poll in flight to end and drops its result; before any other exchange.
    void AbandonPoll();
    // Says in the progress text that an exchange runs and the user's request must wait.
    void RefuseWhileBusy();
    void AppendBusyNote();
    void ShowMessage(const QString& text);

    QString programDirectory_;
    QTableWidget* deviceList_;
    QPushButton* closeButton_;
    QPushButton* refreshButton_;
    QPushButton* changeIpButton_;
    QPushButton* updateFirmwareButton_;
    QProgressBar* progressBar_;
    QLabel* progressText_;
    QComboBox* firmwareFiles_;
    QTimer bootPollTimer_;
    bool initialised_ = false;
    bool busy_ = false;
    bool busyNoteShown_ = false;

    // The serial numbers (as in devices) of the records whose stored configuration is the one
    // the device last reported, so that the IP settings may offer it.
    std::set<std::string> configRead_;

    std::thread pollThread_;
    std::atomic<bool> pollAbandoned_{false};
    unsigned pollGeneration_ = 0; // counts started and abandoned polls
};
