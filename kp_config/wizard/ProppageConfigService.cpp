#include "ProppageConfigService.h"

#include "DialogTemplate.h"
#include "WizardControlIds.h"
#include "WizardInput.h"

#include <QLabel>
#include <QLineEdit>

namespace {

const ControlTemplate kControls[] = {
    {IdNone, ControlKind::StaticText,
     "Bitte geben Sie den Rechnernamen oder die IP-Adresse des Rechners an, auf dem der "
     "Radlex-Service installiert ist. Fall Sie nicht die vorgegebene Portnummer 2001 für den "
     "Radlex-Service verwenden, müssen Sie die Portnummer ebenfalls angeben.",
     7, 7, 302, 30},
    {IdNone, ControlKind::StaticText, "IP-Adresse oder Rechnername", 7, 46, 99, 8},
    {IdServiceHost, ControlKind::Edit, "", 113, 46, 196, 14},
    {IdNone, ControlKind::StaticText, "Portnummer", 7, 66, 40, 8},
    {IdServicePort, ControlKind::Edit, "", 113, 66, 40, 14},
    {IdServiceHint, ControlKind::StaticText, "", 7, 88, 302, 10},
};

const DialogTemplate kTemplate{"Einstellungen für entfernten Radlex-Service", 316, 185, kControls};

} // namespace

ProppageConfigService::ProppageConfigService(ConnectionSettings& settings)
    : ProppageConfig(kTemplate, settings) {
    for (int id : {IdServiceHost, IdServicePort})
        connect(FindControl<QLineEdit>(*this, id), &QLineEdit::textChanged, this,
                &ProppageConfigService::UpdateHint);
}

std::string ProppageConfigService::InputProblem() const {
    return ServiceInputProblem(FindControl<QLineEdit>(*this, IdServiceHost)->text().toStdString(),
                               FindControl<QLineEdit>(*this, IdServicePort)->text().toStdString());
}

bool ProppageConfigService::isComplete() const {
    return InputProblem().empty();
}

QWidget* ProppageConfigService::FirstFocus() const {
    return FindControl<QLineEdit>(*this, IdServiceHost);
}

void ProppageConfigService::UpdateHint() {
    FindControl<QLabel>(*this, IdServiceHint)->setText(QString::fromStdString(InputProblem()));
    emit completeChanged();
}

void ProppageConfigService::OnSetActive() {
    FindControl<QLineEdit>(*this, IdServiceHost)
        ->setText(QString::fromStdString(settings_.serviceHost));
    FindControl<QLineEdit>(*this, IdServicePort)->setText(QString::number(settings_.servicePort));
    UpdateHint();
}

bool ProppageConfigService::validatePage() {
    int32_t port = 0;
    // Nothing that cannot work is stored, also when Next is reached without its button.
    if (!InputProblem().empty() ||
        !ReadPortText(FindControl<QLineEdit>(*this, IdServicePort)->text().toStdString(), &port))
        return false;
    settings_.serviceHost =
        TrimmedText(FindControl<QLineEdit>(*this, IdServiceHost)->text().toStdString());
    settings_.servicePort = port;
    return true;
}

int ProppageConfigService::nextId() const {
    return PageFinish;
}
