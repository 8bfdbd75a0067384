#include "ProppageConfigLanif.h"

#include "DialogTemplate.h"
#include "WizardControlIds.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

namespace {

const ControlTemplate kControls[] = {
    {IdNone, ControlKind::StaticText,
     "Bitte geben Sie die 10stellige Seriennummer und den 32stelligen Zugriffscode des zu "
     "verwendenden Lan-Interfaces ein. Sie finden beide Informationen auf Aufklebern am "
     "Lan-Interface.",
     7, 7, 302, 28},
    {IdNone, ControlKind::StaticText, "Seriennummer (10stellig)", 7, 42, 80, 8},
    {IdLanSerial, ControlKind::Edit, "", 91, 42, 83, 14},
    {IdNone, ControlKind::StaticText, "Zugriffscode (32stellig)", 7, 62, 74, 8},
    {IdLanKey, ControlKind::Edit, "", 91, 62, 169, 14},
    {IdSpecifyIp, ControlKind::CheckBox, "IP-Adresse des Lan-Interfaces angeben (nur selten nötig)",
     7, 89, 201, 10},
    {IdLanHostLabel, ControlKind::StaticText, "IP-Adresse", 7, 107, 36, 8},
    {IdLanHost, ControlKind::IpAddress, "", 91, 107, 100, 15},
};

const DialogTemplate kTemplate{"Einstellungen für Lan-Interface", 316, 185, kControls};

QString Text(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

ProppageConfigLanif::ProppageConfigLanif(ConnectionSettings& settings)
    : ProppageConfig(kTemplate, settings) {
    connect(FindControl<QCheckBox>(*this, IdSpecifyIp), &QCheckBox::clicked, this,
            &ProppageConfigLanif::OnSpecifyIpClicked);
    connect(FindControl<QLineEdit>(*this, IdLanHost), &QLineEdit::textChanged, this,
            &QWizardPage::completeChanged);
}

bool ProppageConfigLanif::isComplete() const {
    return !FindControl<QCheckBox>(*this, IdSpecifyIp)->isChecked() ||
           FindControl<QLineEdit>(*this, IdLanHost)->hasAcceptableInput();
}

void ProppageConfigLanif::OnSetActive() {
    specifyIp = !settings_.lanHost.empty();
    FindControl<QLineEdit>(*this, IdLanHost)->setText(Text(settings_.lanHost));
    FindControl<QLineEdit>(*this, IdLanSerial)->setText(Text(settings_.lanSerial));
    FindControl<QLineEdit>(*this, IdLanKey)->setText(Text(settings_.lanKey));
    FindControl<QCheckBox>(*this, IdSpecifyIp)->setChecked(specifyIp);
    UpdateIpControls();
}

void ProppageConfigLanif::OnSpecifyIpClicked() {
    specifyIp = FindControl<QCheckBox>(*this, IdSpecifyIp)->isChecked();
    UpdateIpControls();
}

void ProppageConfigLanif::UpdateIpControls() {
    FindControl<QLabel>(*this, IdLanHostLabel)->setEnabled(specifyIp);
    FindControl<QLineEdit>(*this, IdLanHost)->setEnabled(specifyIp);
    emit completeChanged();
}

bool ProppageConfigLanif::validatePage() {
    specifyIp = FindControl<QCheckBox>(*this, IdSpecifyIp)->isChecked();
    settings_.lanHost =
        specifyIp ? FindControl<QLineEdit>(*this, IdLanHost)->text().toStdString() : std::string();
    settings_.lanKey = FindControl<QLineEdit>(*this, IdLanKey)->text().toStdString();
    settings_.lanSerial = FindControl<QLineEdit>(*this, IdLanSerial)->text().toStdString();
    return true;
}

int ProppageConfigLanif::nextId() const {
    return PageFinish;
}
