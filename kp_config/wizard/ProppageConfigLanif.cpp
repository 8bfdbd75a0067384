#include "ProppageConfigLanif.h"

#include "DialogTemplate.h"
#include "LanInterface.h"
#include "LanSearch.h"
#include "LanProtocol.h"
#include "WizardControlIds.h"
#include "WizardInput.h"

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include <set>
#include <vector>

namespace {

const ControlTemplate kControls[] = {
    {IdNone, ControlKind::StaticText,
     "Bitte geben Sie die 10stellige Seriennummer und den 32stelligen Zugriffscode des zu "
     "verwendenden Lan-Interfaces ein. Sie finden beide Informationen auf Aufklebern am "
     "Lan-Interface.",
     7, 7, 302, 28},
    {IdNone, ControlKind::StaticText, "Seriennummer (10stellig)", 7, 42, 80, 8},
    {IdLanSerial, ControlKind::Edit, "", 91, 42, 83, 14},
    {IdLanSearch, ControlKind::PushButton, "&Suchen", 178, 42, 50, 14},
    {IdNone, ControlKind::StaticText, "Zugriffscode (32stellig)", 7, 62, 74, 8},
    {IdLanKey, ControlKind::Edit, "", 91, 62, 169, 14},
    {IdLanShowKey, ControlKind::PushButton, "A&nzeigen", 264, 62, 45, 14},
    {IdSpecifyIp, ControlKind::CheckBox, "IP-Adresse des Lan-Interfaces angeben (nur selten nötig)",
     7, 89, 201, 10},
    {IdLanHostLabel, ControlKind::StaticText, "IP-Adresse", 7, 107, 36, 8},
    {IdLanHost, ControlKind::IpAddress, "", 91, 107, 100, 15},
    {IdLanFoundLabel, ControlKind::StaticText, "Gefundene Lan-Interfaces", 7, 128, 82, 16},
    {IdLanFound, ControlKind::ListView, "", 91, 128, 218, 42},
    {IdLanHint, ControlKind::StaticText, "", 7, 174, 302, 10},
};

const DialogTemplate kTemplate{"Einstellungen für Lan-Interface", 316, 185, kControls};

// The access code is a secret printed on the device: typed unseen unless the user asks to see it.
constexpr const char* kShowKey = "A&nzeigen";
constexpr const char* kHideKey = "&Verbergen";

constexpr const char* kFoundNone = "Es wurde kein Lan-Interface gefunden.";
constexpr const char* kSearchFailed = "Die Suche konnte nicht gesendet werden.";
// the networks, the system's reason
constexpr const char* kSearchPartial =
    "Die Suche konnte über %1 nicht gesendet werden (%2); Lan-Interfaces dort fehlen in der Liste.";

QString Text(const std::string& s) {
    return QString::fromStdString(s);
}

enum FoundColumn : int { ColSerial = 0, ColVersion, ColState, ColAddress, ColumnCount };

// Where the identification came from, and by which network when the search knew it.
QString AddressText(const LanInterface& device) {
    const QString address = Text(lanproto::PrintableText(device.address));
    const QString network = Text(lanproto::PrintableText(device.network));
    return network.isEmpty() ? address : address + QStringLiteral(" (") + network + u')';
}

} // namespace

ProppageConfigLanif::ProppageConfigLanif(ConnectionSettings& settings)
    : ProppageConfig(kTemplate, settings, IdLanFound) {
    connect(FindControl<QPushButton>(*this, IdLanShowKey), &QPushButton::clicked, this, [this] {
        ShowKey(FindControl<QLineEdit>(*this, IdLanKey)->echoMode() != QLineEdit::Normal);
    });
    connect(FindControl<QCheckBox>(*this, IdSpecifyIp), &QCheckBox::clicked, this,
            &ProppageConfigLanif::OnSpecifyIpClicked);
    for (int id : {IdLanHost, IdLanSerial, IdLanKey})
        connect(FindControl<QLineEdit>(*this, id), &QLineEdit::textChanged, this,
                &ProppageConfigLanif::UpdateHint);
    connect(FindControl<QPushButton>(*this, IdLanSearch), &QPushButton::clicked, this,
            &ProppageConfigLanif::OnSearchClicked);

    auto* found = FindControl<QTableWidget>(*this, IdLanFound);
    found->setSelectionMode(QAbstractItemView::SingleSelection);
    found->setColumnCount(ColumnCount);
    found->setHorizontalHeaderLabels({QStringLiteral("Seriennummer"), QStringLiteral("Version"),
                                      QStringLiteral("Zustand"), QStringLiteral("Adresse")});
    found->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    found->horizontalHeader()->setStretchLastSection(true);
    connect(found, &QTableWidget::itemSelectionChanged, this,
            &ProppageConfigLanif::OnFoundSelected);
}

std::string ProppageConfigLanif::InputProblem() const {
    return LanInputProblem(FindControl<QLineEdit>(*this, IdLanSerial)->text().toStdString(),
                           FindControl<QLineEdit>(*this, IdLanKey)->text().toStdString(),
                           FindControl<QCheckBox>(*this, IdSpecifyIp)->isChecked(),
                           FindControl<QLineEdit>(*this, IdLanHost)->hasAcceptableInput());
}

bool ProppageConfigLanif::isComplete() const {
    return InputProblem().empty();
}

QWidget* ProppageConfigLanif::FirstFocus() const {
    return FindControl<QLineEdit>(*this, IdLanSerial);
}

void ProppageConfigLanif::UpdateHint() {
    FindControl<QLabel>(*this, IdLanHint)->setText(Text(InputProblem()));
    emit completeChanged();
}

void ProppageConfigLanif::OnSetActive() {
    specifyIp = !settings_.lanHost.empty();
    FindControl<QLineEdit>(*this, IdLanHost)->setText(Text(settings_.lanHost));
    FindControl<QLineEdit>(*this, IdLanSerial)->setText(Text(settings_.lanSerial));
    FindControl<QLineEdit>(*this, IdLanKey)->setText(Text(settings_.lanKey));
    FindControl<QCheckBox>(*this, IdSpecifyIp)->setChecked(specifyIp);
    ShowKey(false);
    UpdateIpControls();
}

void ProppageConfigLanif::ShowKey(bool shown) {
    FindControl<QLineEdit>(*this, IdLanKey)
        ->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
    FindControl<QPushButton>(*this, IdLanShowKey)
        ->setText(QString::fromUtf8(shown ? kHideKey : kShowKey));
}

void ProppageConfigLanif::OnSpecifyIpClicked() {
    specifyIp = FindControl<QCheckBox>(*this, IdSpecifyIp)->isChecked();
    UpdateIpControls();
}

void ProppageConfigLanif::UpdateIpControls() {
    FindControl<QLabel>(*this, IdLanHostLabel)->setEnabled(specifyIp);
    FindControl<QLineEdit>(*this, IdLanHost)->setEnabled(specifyIp);
    UpdateHint();
}

void ProppageConfigLanif::OnSearchClicked() {
    auto* found = FindControl<QTableWidget>(*this, IdLanFound);
    auto* label = FindControl<QLabel>(*this, IdLanFoundLabel);
    found->setRowCount(0);
    // The search asks every local network and waits for all answers, blocking the window.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const SearchResult search = SearchLanInterfaces(SearchScope{});
    QApplication::restoreOverrideCursor();
    const std::vector<LanInterface>& devices = search.devices;

    // Rows that would say the same are listed once; two devices of one serial number are told
    // apart by their addresses.
    std::set<std::vector<QString>> listed;
    for (const LanInterface& device : devices) {
        const std::vector<QString> cells{
            Text(lanproto::PrintableText(device.serialNumber)), Text(device.version),
            QString::fromUtf8(StateWord(device.state)), AddressText(device)};
        if (cells[ColSerial].isEmpty() || !listed.insert(cells).second)
            continue;
        const int row = found->rowCount();
        found->insertRow(row);
        for (int column = 0; column < ColumnCount; ++column)
            found->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    // A search that went out on some networks only says which it missed: what is listed is
    // not all there is.
    QStringList missed;
    for (size_t i = 0; i < search.unasked.size() && i < 4; ++i)
        missed << Text(search.unasked[i]);
    if (search.unasked.size() > 4)
        missed << QStringLiteral("%1 weitere").arg(search.unasked.size() - 4);
    if (!search.sent)
        label->setText(QString::fromUtf8(kSearchFailed));
    else if (!search.unasked.empty())
        label->setText(QString::fromUtf8(kSearchPartial)
                           .arg(missed.join(QStringLiteral(", ")), Text(search.reason)));
    else if (found->rowCount() == 0)
        label->setText(QString::fromUtf8(kFoundNone));
    else
        label->setText(QStringLiteral("Gefundene Lan-Interfaces"));
}

void ProppageConfigLanif::OnFoundSelected() {
    auto* found = FindControl<QTableWidget>(*this, IdLanFound);
    const QList<QTableWidgetItem*> selected = found->selectedItems();
    if (selected.isEmpty())
        return;
    if (QTableWidgetItem* serial = found->item(selected.front()->row(), 0))
        FindControl<QLineEdit>(*this, IdLanSerial)->setText(serial->text());
}

bool ProppageConfigLanif::validatePage() {
    // Nothing that cannot work is stored, also when Next is reached without its button.
    if (!InputProblem().empty())
        return false;
    specifyIp = FindControl<QCheckBox>(*this, IdSpecifyIp)->isChecked();
    settings_.lanHost =
        specifyIp ? FindControl<QLineEdit>(*this, IdLanHost)->text().toStdString() : std::string();
    settings_.lanKey = TrimmedText(FindControl<QLineEdit>(*this, IdLanKey)->text().toStdString());
    settings_.lanSerial =
        TrimmedText(FindControl<QLineEdit>(*this, IdLanSerial)->text().toStdString());
    return true;
}

int ProppageConfigLanif::nextId() const {
    return PageFinish;
}
