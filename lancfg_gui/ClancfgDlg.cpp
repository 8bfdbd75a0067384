#include "ClancfgDlg.h"

#include "AppIcon.h"
#include "CAboutDlg.h"
#include "ControlIds.h"
#include "DlgIpConfig.h"
#include "DlgKeyInput.h"
#include "KeySource.h"
#include "LanProtocol.h"
#include "LanSearch.h"
#include "ProgramTexts.h"

#include <OSCompat.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QStyle>
#include <QTableWidget>

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace {

const ControlTemplate kMainControls[] = {
    // Close is no default button: Return in the list opens the selected device's IP settings.
    {IdOk, ControlKind::PushButton, "&Close", 7, 271, 50, 14},
    {IdDeviceList, ControlKind::ListView, "", 7, 18, 480, 177},
    {IdNone, ControlKind::StaticText, "Detected Devices", 7, 7, 57, 8},
    {IdRefreshList, ControlKind::PushButton, "&Refresh List", 115, 249, 50, 14},
    {IdChangeIpSettings, ControlKind::PushButton, "Change &IP Settings", 183, 249, 91, 14},
    {IdUpdateFirmware, ControlKind::PushButton, "&Update Firmware", 291, 249, 85, 14},
    {IdProgressBar, ControlKind::ProgressBar, "", 7, 227, 480, 14, false},
    {IdProgressText, ControlKind::SunkenText, "", 7, 200, 480, 21, false},
    {IdFirmwareFiles, ControlKind::DropDownCombo, "", 291, 272, 196, 44, false},
};

const DialogTemplate kMainTemplate{"Velantrix Lan-Interface Configurator", 494, 292, kMainControls};

struct Column {
    const char* header;
    int width; // pixels
};

const Column kColumns[] = {
    {"Serial Number", 150}, {"Status", 80},   {"Version", 60}, {"IP", 120},
    {"Netmask", 120},       {"Gateway", 120}, {"DHCP", 60},
};

enum : int {
    ColSerial = 0,
    ColStatus,
    ColVersion,
    ColIp,
    ColNetmask,
    ColGateway,
    ColDhcp,
};

// The firmware files beside the program, and in the user's own firmware folder for an
// installed program, whose folder the user cannot write.
const char* const kFirmwarePattern = "kplan*.enc";
const char* const kUserFirmwareFolder = "/velantrix-konfigurator/firmware";

// The smallest size the dialog may be given, in dialog units: the buttons and the file box
// keep their place below a list of a few rows.
constexpr int kMinWidth = 384;
constexpr int kMinHeight = 175;
constexpr int kMinFileBoxWidth = 80;

QString UserFirmwareDirectory() {
    return QString::fromStdString(OSCompat::CommonAppDataDirectory()) +
           QLatin1String(kUserFirmwareFolder);
}

QStringList FirmwareNames(const QString& directory) {
    QStringList names = QDir(directory).entryList({QString::fromLatin1(kFirmwarePattern)},
                                                  QDir::Files | QDir::Readable);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    return names;
}

QString SerialCell(const LanInterface& device) {
    // Serial numbers are bytes from the network: shown with visible escapes for anything but
    // printable ASCII, so an ordinary serial number reads as it is.
    return QString::fromLatin1(lanproto::PrintableText(device.serialNumber));
}

// The name under which the keys file and LANCFG_KEY know a device, as lancfg looks it up.
std::string KeyName(const LanInterface& device) {
    return lanproto::PrintableText(device.serialNumber);
}

// The keys lancfg takes when no -k is given: LANCFG_KEY, else the user's keys file. When they
// cannot be used, none are given and refused receives why.
KeySource StoredKeys(std::string* refused) {
    const KeySource::Environment environment = [](const char* name) -> const char* {
        return std::getenv(name);
    };
    KeySource keys(std::nullopt, environment, KeySource::DefaultKeysFile(environment));
    if (!keys.Load(nullptr, refused))
        return KeySource();
    return keys;
}

// The first few networks by name and the rest as a count, so that the status line stays short.
QString NameAFew(const std::vector<std::string>& names) {
    constexpr size_t kNamed = 4;
    QStringList named;
    for (size_t n = 0; n < names.size() && n < kNamed; ++n)
        named << QString::fromStdString(names[n]);
    if (names.size() <= kNamed)
        return named.join(QLatin1String(", "));
    return QString::fromUtf8(kMoreNetworks)
        .arg(named.join(QLatin1String(", ")), QString::number(names.size() - kNamed));
}

// A reason of the LAN layer ("the keys file ... is not a regular file") as a sentence.
QString Sentence(const std::string& reason) {
    QString text = QString::fromStdString(reason);
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text + QLatin1Char('.');
}

// The wait cursor of a blocking exchange. Show and Restore pair up however often they are
// called, and the destructor restores what is still shown.
class WaitCursor {
public:
    WaitCursor() { Show(); }
    ~WaitCursor() { Restore(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

    void Show() {
        if (!shown_)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        shown_ = true;
    }
    void Restore() {
        if (shown_)
            QApplication::restoreOverrideCursor();
        shown_ = false;
    }

private:
    bool shown_ = false;
};

} // namespace

// Marks the dialog busy for one exchange with the devices, however the handler leaves.
class ClancfgDlg::BusyScope {
public:
    explicit BusyScope(ClancfgDlg& dialog) : dialog_(dialog) { dialog_.SetBusy(true); }
    ~BusyScope() { dialog_.SetBusy(false); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    ClancfgDlg& dialog_;
};

ClancfgDlg::ClancfgDlg(const QString& programDirectory, QWidget* parent)
    : QDialog(parent),
      programDirectory_(programDirectory.isEmpty() ? QCoreApplication::applicationDirPath()
                                                   : programDirectory) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    BuildDialog(*this, kMainTemplate);
    deviceList_ = FindControl<QTableWidget>(*this, IdDeviceList);
    closeButton_ = FindControl<QPushButton>(*this, IdOk);
    refreshButton_ = FindControl<QPushButton>(*this, IdRefreshList);
    changeIpButton_ = FindControl<QPushButton>(*this, IdChangeIpSettings);
    updateFirmwareButton_ = FindControl<QPushButton>(*this, IdUpdateFirmware);
    progressBar_ = FindControl<QProgressBar>(*this, IdProgressBar);
    progressText_ = FindControl<QLabel>(*this, IdProgressText);
    firmwareFiles_ = FindControl<QComboBox>(*this, IdFirmwareFiles);
    // The status line may name a long path or many networks: it wraps rather than cut them.
    progressText_->setWordWrap(true);
    changeIpButton_->setEnabled(false);
    updateFirmwareButton_->setEnabled(false);

    // The template's size is the size the dialog opens with; it may be resized, the list taking
    // the room, down to what the buttons below it need.
    const DialogBaseUnits units{QFontMetrics(font())};
    setMinimumSize(units.ToPixelsX(kMinWidth), units.ToPixelsY(kMinHeight));
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setSizeGripEnabled(true);

    // Tab goes from control to control (the arrow keys move within the list), in the order the
    // user works: list, actions, file box, Close.
    deviceList_->setTabKeyNavigation(false);
    setTabOrder(deviceList_, refreshButton_);
    setTabOrder(refreshButton_, changeIpButton_);
    setTabOrder(changeIpButton_, updateFirmwareButton_);
    setTabOrder(updateFirmwareButton_, firmwareFiles_);
    setTabOrder(firmwareFiles_, closeButton_);

    bootPollTimer_.setInterval(BootPollPeriodMs);
    connect(&bootPollTimer_, &QTimer::timeout, this, &ClancfgDlg::OnBootPollTimer);
    connect(closeButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(refreshButton_, &QPushButton::clicked, this, &ClancfgDlg::OnRefreshList);
    connect(changeIpButton_, &QPushButton::clicked, this, &ClancfgDlg::OnChangeIpSettings);
    connect(updateFirmwareButton_, &QPushButton::clicked, this, &ClancfgDlg::OnUpdateFirmware);
    connect(deviceList_, &QTableWidget::itemSelectionChanged, this,
            &ClancfgDlg::OnDeviceSelectionChanged);
    // Return on a row, or a double click, is the list's own way to "Change IP Settings".
    connect(deviceList_, &QTableWidget::activated, this, &ClancfgDlg::OnChangeIpSettings);
}

ClancfgDlg::~ClancfgDlg() {
    // The poll may still wait for a reply; its result has nowhere to go.
    if (pollThread_.joinable()) {
        pollAbandoned_ = true;
        pollThread_.join();
    }
}

void ClancfgDlg::showEvent(QShowEvent* event) {
    // The first showing initialises the dialog, before it is painted.
    if (!initialised_) {
        initialised_ = true;
        FitToScreen();
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void ClancfgDlg::FitToScreen() {
    // On a small or highly scaled screen the template's size may not fit: the dialog shrinks,
    // its frame included, to the screen's free area and is placed inside it.
    const QScreen* shown = screen();
    if (shown == nullptr)
        return;
    const QRect area = shown->availableGeometry();
    const int border = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    const QSize frame(2 * border, titleBar + 2 * border);
    const QSize fitting = size().boundedTo(area.size() - frame).expandedTo(minimumSize());
    if (fitting == size())
        return;
    resize(fitting);
    LayOutControls(); // the window system may report the new size only later
    move(area.x() + std::max(0, (area.width() - fitting.width() - frame.width()) / 2),
         area.y() + std::max(0, (area.height() - fitting.height() - frame.height()) / 2));
}

void ClancfgDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayOutControls();
}

void ClancfgDlg::LayOutControls() {
    // The template's places, with what the dialog grew or shrank by: the list takes it all,
    // the progress fields widen with it, and everything below the list moves with its bottom.
    const DialogBaseUnits units{QFontMetrics(font())};
    const int dx = width() - units.ToPixelsX(kMainTemplate.width);
    const int dy = height() - units.ToPixelsY(kMainTemplate.height);
    for (const ControlTemplate& control : kMainControls) {
        QWidget* widget = control.id == IdNone ? nullptr : FindControl<QWidget>(*this, control.id);
        if (widget == nullptr)
            continue;
        QRect rect = units.ToPixels(control.x, control.y, control.width, control.height);
        switch (control.id) {
        case IdDeviceList:
            rect.setSize(rect.size() + QSize(dx, dy));
            break;
        case IdProgressBar:
        case IdProgressText:
            rect.translate(0, dy);
            rect.setWidth(rect.width() + dx);
            break;
        case IdFirmwareFiles:
            rect.translate(0, dy);
            rect.setWidth(std::max(rect.width() + dx, units.ToPixelsX(kMinFileBoxWidth)));
            rect.setHeight(widget->sizeHint().height()); // the closed box
            break;
        default:
            rect.translate(0, dy);
            break;
        }
        widget->setGeometry(rect);
    }
}

void ClancfgDlg::OnInitDialog() {
    const QIcon icon = AppIcon();
    setWindowIcon(icon);

    deviceList_->setColumnCount(static_cast<int>(std::size(kColumns)));
    for (int column = 0; column < static_cast<int>(std::size(kColumns)); ++column) {
        auto* header = new QTableWidgetItem(QString::fromUtf8(kColumns[column].header));
        header->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        deviceList_->setHorizontalHeaderItem(column, header);
        deviceList_->setColumnWidth(column, kColumns[column].width);
    }

    {
        BusyScope busy(*this);
        RefreshDeviceList();
    }
    RefreshFirmwareFiles();
}

LanInterface* ClancfgDlg::GetSelectedDevice() {
    int upper = -1;
    for (const QModelIndex& index : deviceList_->selectionModel()->selectedRows())
        if (upper < 0 || index.row() < upper)
            upper = index.row();
    if (upper < 0)
        return nullptr;
    const QTableWidgetItem* cell = deviceList_->item(upper, ColSerial);
    if (cell == nullptr)
        return nullptr;
    auto entry = devices.find(cell->data(Qt::UserRole).toByteArray().toStdString());
    return entry == devices.end() ? nullptr : &entry->second;
}

void ClancfgDlg::UpdateDeviceRow(const LanInterface& device) {
    // The row keeps the record's key as it came from the network; the cell shows it escaped.
    const QByteArray key = QByteArray::fromStdString(device.SerialText());
    int row = 0;
    const int rows = deviceList_->rowCount();
    while (row < rows) {
        const QTableWidgetItem* cell = deviceList_->item(row, ColSerial);
        if (cell != nullptr && cell->data(Qt::UserRole).toByteArray() == key)
            break;
        ++row;
    }
    if (row == rows) {
        deviceList_->insertRow(row);
        auto* cell = new QTableWidgetItem(SerialCell(device));
        cell->setData(Qt::UserRole, key);
        deviceList_->setItem(row, ColSerial, cell);
    }

    auto setCell = [&](int column, const QString& text) {
        QTableWidgetItem* cell = deviceList_->item(row, column);
        if (cell == nullptr)
            deviceList_->setItem(row, column, new QTableWidgetItem(text));
        else
            cell->setText(text);
    };

    setCell(ColStatus, QString::fromUtf8(StatusWord(device.state)));
    setCell(ColVersion, QString::fromStdString(device.version));
    const bool showAddresses = device.state == StateDisconnected || device.state == StateRun;
    setCell(ColIp, showAddresses ? QString::fromStdString(device.currentIp) : QString());
    setCell(ColNetmask, showAddresses ? QString::fromStdString(device.currentNetmask) : QString());
    setCell(ColGateway, showAddresses ? QString::fromStdString(device.currentGateway) : QString());
    setCell(ColDhcp, showAddresses ? QString::fromUtf8(device.dhcp ? "On" : "Off") : QString());

    if (device.state == StateBooting)
        bootPollTimer_.start();
}

void ClancfgDlg::RefreshDeviceList() {
    WaitCursor waitCursor;
    SearchResult found = SearchLanInterfaces(SearchScope{});
    std::string keysRefused;
    const KeySource keys = StoredKeys(&keysRefused);
    for (LanInterface& device : found.devices)
        keys.GiveTo(device, KeyName(device));
    // Every record, a device in its bootloader too, all at once: the wait is one reply window,
    // not two per device.
    const std::vector<DeviceReads> reads = ReadAll(found.devices, false);
    for (size_t i = 0; i < found.devices.size(); ++i) {
        const LanInterface& device = found.devices[i];
        const std::string serial = device.SerialText();
        // The fresh record replaces the old one whole, a key entered earlier included.
        devices[serial] = device;
        if (reads[i].config == ResultOk)
            configRead_.insert(serial);
        else
            configRead_.erase(serial);
        UpdateDeviceRow(device);
    }
    waitCursor.Restore();
    QStringList notes;
    if (!found.unasked.empty())
        notes << QString::fromUtf8(kMsgSearchNotSent)
                     .arg(NameAFew(found.unasked), QString::fromStdString(found.reason));
    if (!keysRefused.empty())
        notes << Sentence(keysRefused);
    if (!notes.isEmpty())
        ShowStatus(notes.join(QLatin1Char('\n')));
    UpdateActionButtons();
}

void ClancfgDlg::RefreshFirmwareFiles() {
    // The files beside the program come first; a user's file of the same name is not offered.
    QStringList names = FirmwareNames(programDirectory_);
    for (const QString& name : FirmwareNames(UserFirmwareDirectory()))
        if (!names.contains(name))
            names.append(name);
    firmwareFiles_->clear();
    firmwareFiles_->addItems(names);
    firmwareFiles_->setCurrentIndex(names.isEmpty() ? -1 : 0);
    // With one file the box stays hidden but holds it, so an update uses it without asking.
    firmwareFiles_->setVisible(names.size() >= 2);
}

void ClancfgDlg::OnRefreshList() {
    if (busy_) {
        RefuseWhileBusy();
        return;
    }
    {
        BusyScope busy(*this);
        AbandonPoll();
        RefreshDeviceList();
    }
    RefreshFirmwareFiles();
}

bool ClancfgDlg::AskForKey(LanInterface& device, bool previousKeyRejected) {
    DlgKeyInput keyDialog(SerialCell(device), previousKeyRejected, this);
    if (keyDialog.exec() != QDialog::Accepted)
        return false;
    device.SetCryptKey(keyDialog.keyText.toStdString());
    return true;
}

LanResult ClancfgDlg::RunWithKey(LanInterface& device, const std::function<LanResult()>& exchange,
                                 bool* cancelled) {
    if (cancelled != nullptr)
        *cancelled = false;
    WaitCursor waitCursor;
    LanResult result = exchange();
    bool keyRejected = !device.cryptKey.empty(); // a key held already was refused
    while (result == ResultKeyError) {
        waitCursor.Restore();
        if (!AskForKey(device, keyRejected)) {
            if (cancelled != nullptr)
                *cancelled = true;
            break;
        }
        keyRejected = true;
        waitCursor.Show();
        result = exchange();
    }
    return result;
}

bool ClancfgDlg::ReadStoredConfig(LanInterface& device) {
    const std::string serial = device.SerialText();
    if (configRead_.count(serial) != 0)
        return true;
    BusyScope busy(*this);
    AbandonPoll(); // its view of the record is about to be stale
    // A key put into the keys file since the refresh counts before the user is asked.
    if (device.cryptKey.empty()) {
        std::string refused;
        StoredKeys(&refused).GiveTo(device, KeyName(device));
    }
    bool cancelled = false;
    const LanResult read = RunWithKey(
        device, [&device] { return device.Read(); }, &cancelled);
    if (read == ResultOk) {
        configRead_.insert(serial);
        return true;
    }
    // Without its key the user chose not to go on; anything else is said.
    if (!cancelled)
        ShowMessage(QString::fromUtf8(kMsgReadConfigFailed).arg(SerialCell(device)));
    return false;
}

void ClancfgDlg::ShowStatus(const QString& text) {
    progressText_->setText(text);
    progressText_->show();
}

void ClancfgDlg::ShowMessage(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kProgramName), text, QMessageBox::Ok,
                    this);
    box.exec();
}

void ClancfgDlg::OnChangeIpSettings() {
    if (busy_) {
        RefuseWhileBusy();
        return;
    }
    LanInterface* device = GetSelectedDevice();
    if (device == nullptr)
        return;
    if (!ReadStoredConfig(*device)) {
        UpdateDeviceRow(*device); // the read may have found it offline
        return;
    }

    DlgIpConfig ipDialog(SerialCell(*device), this);
    ipDialog.dhcpEnabled = device->dhcp;
    ipDialog.ipAddressText = QString::fromStdString(device->staticIp);
    ipDialog.netmaskText = QString::fromStdString(device->staticNetmask);
    ipDialog.gatewayText = QString::fromStdString(device->staticGateway);
    ipDialog.cryptEnabled = device->crypt;
    QString status; // what the status line says about the write
    if (ipDialog.exec() == QDialog::Accepted) {
        BusyScope busy(*this);
        AbandonPoll(); // its view of the record is about to be stale
        WriteFailure why = WriteKept;
        const LanResult result = RunWithKey(*device, [&] {
            device->dhcp = ipDialog.dhcpEnabled;
            device->crypt = ipDialog.cryptEnabled;
            device->staticIp = ipDialog.ipAddressText.toStdString();
            device->staticNetmask = ipDialog.netmaskText.toStdString();
            device->staticGateway = ipDialog.gatewayText.toStdString();
            return device->WriteConfig(&why);
        });
        // The record holds what the device reported only when the write was read back, kept or
        // not; otherwise it holds the user's values, which the device may not hold.
        if ((result == ResultOk && device->state != StateBooting) || why == WriteNotKept)
            configRead_.insert(device->SerialText());
        else
            configRead_.erase(device->SerialText());
        if (result == ResultOk) {
            status = QString::fromUtf8(device->state == StateBooting ? kMsgNetworkConfigRestarting
                                                                     : kMsgNetworkConfigDone)
                         .arg(SerialCell(*device));
        } else if (why == WriteNotKept) {
            status = QString::fromUtf8(kMsgNetworkConfigNotKept).arg(SerialCell(*device));
            ShowMessage(status);
        } else {
            ShowMessage(QString::fromUtf8(kMsgNetworkConfigFailed));
        }
        device->ReadStatus();
    }
    if (!status.isEmpty())
        ShowStatus(status);
    UpdateDeviceRow(*device);
}

void ClancfgDlg::OnUpdateFirmware() {
    if (busy_) {
        RefuseWhileBusy();
        return;
    }
    LanInterface* device = GetSelectedDevice();
    if (device == nullptr)
        return;

    // Files put in place since the last look are offered at once; with none at all the user
    // learns where they belong instead of a bare failure.
    if (firmwareFiles_->count() == 0)
        RefreshFirmwareFiles();
    if (firmwareFiles_->count() == 0) {
        ShowMessage(QString::fromUtf8(kMsgNoFirmwareFile)
                        .arg(QDir::toNativeSeparators(programDirectory_),
                             QDir::toNativeSeparators(UserFirmwareDirectory())));
        return;
    }

    LanResult result = ResultFailed;
    bool keyCancelled = false;
    std::string refusal; // why the file was refused, when it was
    const QString name = firmwareFiles_->currentText();
    {
        BusyScope busy(*this);
        AbandonPoll();
        // The box names a file of the program directory or, failing that, of the user's
        // firmware folder; a text that is no plain file name (or none at all) cannot be a
        // firmware file there and fails without talking to the device.
        if (!name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String(".") &&
            name != QLatin1String("..")) {
            QString file = QDir(programDirectory_).filePath(name);
            const QString userFile = QDir(UserFirmwareDirectory()).filePath(name);
            if (!QFileInfo::exists(file) && QFileInfo::exists(userFile))
                file = userFile;
            const std::string path = file.toStdString();
            progressBar_->setRange(0, 100);
            progressBar_->setValue(0);
            progressBar_->show();
            result = RunWithKey(
                *device, [&] { return device->UpdateFirmware(path, *this, &refusal); },
                &keyCancelled);
            progressText_->hide();
            progressBar_->hide();
        }
    }
    if (result == ResultOk) {
        ShowStatus(QString::fromUtf8(kMsgFirmwareUpdateDone));
    } else if (keyCancelled) {
        // The user chose not to go on: nothing failed, and the device was left as it was.
    } else if (refusal.empty()) {
        ShowMessage(QString::fromUtf8(kMsgFirmwareUpdateFailed));
    } else {
        // The same message, with the reason the file was refused below it.
        QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kProgramName),
                        QString::fromUtf8(kMsgFirmwareUpdateFailed), QMessageBox::Ok, this);
        box.setInformativeText(name + QLatin1String(": ") + QString::fromStdString(refusal));
        box.exec();
    }
    UpdateDeviceRow(*device);
}

void ClancfgDlg::OnProgress(int percent, const std::string& text) {
    progressBar_->setValue(percent);
    if (!text.empty())
        progressText_->show();
    progressText_->setText(QString::fromStdString(text));
    if (busyNoteShown_)
        AppendBusyNote();
    // Keeps the window painted and answering between the blocking steps of the update; the
    // busy mark keeps what is dispatched here from starting another exchange.
    QCoreApplication::processEvents();
}

void ClancfgDlg::OnDeviceSelectionChanged() {
    UpdateActionButtons();
}

void ClancfgDlg::UpdateActionButtons() {
    const bool selected = !busy_ && GetSelectedDevice() != nullptr;
    changeIpButton_->setEnabled(selected);
    updateFirmwareButton_->setEnabled(selected);
}

void ClancfgDlg::SetBusy(bool busy) {
    busy_ = busy;
    // A new exchange replaces what the progress text said about the last one.
    if (busy && !busyNoteShown_) {
        progressText_->clear();
        progressText_->hide();
    }
    if (!busy && busyNoteShown_) {
        busyNoteShown_ = false;
        progressText_->clear();
        progressText_->hide();
    }
    closeButton_->setEnabled(!busy);
    refreshButton_->setEnabled(!busy);
    firmwareFiles_->setEnabled(!busy);
    UpdateActionButtons();
}

void ClancfgDlg::OnBootPollTimer() {
    // A tick that arrives while another exchange runs (dispatched from OnProgress or during
    // a key dialog), or while the last poll still waits for replies, waits for the next one.
    if (busy_ || pollThread_.joinable())
        return;
    std::vector<LanInterface> booting;
    for (const auto& [serial, device] : devices)
        if (device.state == StateBooting)
            booting.push_back(device);
    // Nothing left to watch: the next row that shows "Booting" starts the timer again.
    if (booting.empty()) {
        bootPollTimer_.stop();
        return;
    }
    pollAbandoned_ = false;
    const unsigned generation = ++pollGeneration_;
    // The thread works on its own copies only; the records are touched on this thread again.
    pollThread_ = std::thread([this, booting = std::move(booting), generation]() mutable {
        for (LanInterface& device : booting) {
            if (pollAbandoned_)
                break;
            device.Identify();
        }
        QMetaObject::invokeMethod(
            this,
            [this, polled = std::move(booting), generation] { OnBootPollDone(polled, generation); },
            Qt::QueuedConnection);
    });
}

void ClancfgDlg::OnBootPollDone(const std::vector<LanInterface>& polled, unsigned generation) {
    // A poll abandoned since was joined then, and another may run now.
    if (generation != pollGeneration_ || !pollThread_.joinable())
        return;
    pollThread_.join();
    bool booting = false;
    for (const LanInterface& result : polled) {
        auto entry = devices.find(result.SerialText());
        if (entry == devices.end() || entry->second.state != StateBooting)
            continue;
        entry->second = result;
        UpdateDeviceRow(entry->second);
    }
    for (const auto& [serial, device] : devices)
        booting = booting || device.state == StateBooting;
    if (!booting)
        bootPollTimer_.stop();
}

void ClancfgDlg::AbandonPoll() {
    if (!pollThread_.joinable())
        return;
    pollAbandoned_ = true;
    pollThread_.join();
    ++pollGeneration_; // the result already on its way is dropped
}

void ClancfgDlg::RefuseWhileBusy() {
    if (!busyNoteShown_) {
        busyNoteShown_ = true;
        AppendBusyNote();
    }
}

void ClancfgDlg::AppendBusyNote() {
    const QString note = QString::fromUtf8(kMsgBusyRefused);
    const QString shown = progressText_->text();
    progressText_->setText(shown.isEmpty() ? note : shown + QLatin1Char('\n') + note);
    progressText_->show();
}

void ClancfgDlg::OnSysCommand(int id) {
    if ((id & 0xFFF0) == IdmAboutBox && !busy_) {
        CAboutDlg about(this);
        about.exec();
    }
}

void ClancfgDlg::contextMenuEvent(QContextMenuEvent* event) {
    // The window manager may offer no window menu; the About item lives here instead.
    const QString text = QString::fromUtf8(kMenuAbout);
    if (text.isEmpty() || busy_) {
        QDialog::contextMenuEvent(event);
        return;
    }
    QMenu menu(this);
    QAction* about = menu.addAction(text);
    if (menu.exec(event->globalPos()) == about)
        OnSysCommand(IdmAboutBox);
}

void ClancfgDlg::reject() {
    // Escape while the file box's list is dropped down closes that list only.
    if (firmwareFiles_->view()->isVisible()) {
        firmwareFiles_->hidePopup();
        return;
    }
    // Escape and the window's close button end the program, but not in the middle of an
    // exchange: the handler that runs it still holds the device record. A poll is no such
    // exchange.
    if (busy_)
        RefuseWhileBusy();
    else
        QDialog::reject();
}

void ClancfgDlg::closeEvent(QCloseEvent* event) {
    if (busy_) {
        RefuseWhileBusy();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
