#include "ProppageConfigStart.h"

#include "DialogTemplate.h"
#include "WizardControlIds.h"

#include <QButtonGroup>
#include <QRadioButton>

namespace {

const ControlTemplate kControls[] = {
    {IdNone, ControlKind::StaticText,
     "Auf welchem Weg soll die Verbindung zu Ihren Velantrix-Geräten hergestellt werden?", 7, 7,
     279, 8},
    {IdRadioUsb, ControlKind::RadioGroupStart, "Velantrix-USB-Interface", 7, 29, 99, 10},
    {IdNone, ControlKind::StaticText,
     "Wählen Sie diese Option, wenn Sie einen über USB an Ihren Computer angeschlossenen Adapter "
     "für die Kommunikation mit Velantrix-Geräten verwenden.",
     18, 42, 291, 23},
    {IdRadioLan, ControlKind::RadioButton, "Velantrix-Lan-Interface", 7, 70, 97, 10},
    {IdNone, ControlKind::StaticText,
     "Wählen Sie diese Option, wenn Sie einen über Ethernet an Ihren Computer angeschlossenen "
     "Adapter für die Kommunikation mit Velantrix-Geräten verwenden.",
     18, 82, 291, 23},
    {IdRadioService, ControlKind::RadioButton, "Entfernter Radlex-Service", 7, 110, 99, 10},
    {IdNone, ControlKind::StaticText,
     "Wählen Sie diese Option, wenn Sie auf einen separat installierten Radlex-Service zugreifen "
     "möchten.",
     18, 122, 291, 23},
};

const DialogTemplate kTemplate{"Verbindungsauswahl", 316, 185, kControls};

constexpr int kRadioIds[] = {IdRadioUsb, IdRadioLan, IdRadioService};

} // namespace

ProppageConfigStart::ProppageConfigStart(ConnectionSettings& settings)
    : ProppageConfig(kTemplate, settings) {
    for (int id : kRadioIds)
        connect(FindControl<QRadioButton>(*this, id), &QRadioButton::toggled, this,
                &QWizardPage::completeChanged);
}

int ProppageConfigStart::CheckedChoice() const {
    for (int i = 0; i < 3; ++i)
        if (FindControl<QRadioButton>(*this, kRadioIds[i])->isChecked())
            return i;
    return -1;
}

void ProppageConfigStart::OnSetActive() {
    choice = static_cast<int>(settings_.connection);
    // A stored value outside the three choices checks no button; Next then waits for one.
    auto* group = FindControl<QRadioButton>(*this, IdRadioUsb)->group();
    group->setExclusive(false);
    for (int i = 0; i < 3; ++i)
        FindControl<QRadioButton>(*this, kRadioIds[i])->setChecked(i == choice);
    group->setExclusive(true);
    emit completeChanged();
}

QWidget* ProppageConfigStart::FirstFocus() const {
    const int checked = CheckedChoice();
    return FindControl<QRadioButton>(*this, kRadioIds[checked < 0 ? 0 : checked]);
}

bool ProppageConfigStart::isComplete() const {
    return CheckedChoice() >= 0;
}

bool ProppageConfigStart::validatePage() {
    choice = CheckedChoice();
    if (choice < 0)
        return false;
    settings_.connection = static_cast<ConnectionType>(choice);
    return true;
}

int ProppageConfigStart::nextId() const {
    switch (CheckedChoice()) {
    case 1:
        return PageLanif;
    case 2:
        return PageService;
    default:
        return PageFinish;
    }
}
