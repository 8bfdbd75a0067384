#include "ProppageConfigService.h"

#include "DialogTemplate.h"
#include "WizardControlIds.h"

#include <QLineEdit>

#include <cstdlib>
#include <limits>

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
};

const DialogTemplate kTemplate{"Einstellungen für entfernten Radlex-Service", 316, 185, kControls};

} // namespace

int32_t ParsePortText(const std::string& text) {
    const long long value = std::strtoll(text.c_str(), nullptr, 0);
    if (value > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

ProppageConfigService::ProppageConfigService(ConnectionSettings& settings)
    : ProppageConfig(kTemplate, settings) {}

void ProppageConfigService::OnSetActive() {
    FindControl<QLineEdit>(*this, IdServiceHost)
        ->setText(QString::fromStdString(settings_.serviceHost));
    FindControl<QLineEdit>(*this, IdServicePort)->setText(QString::number(settings_.servicePort));
}

bool ProppageConfigService::validatePage() {
    settings_.serviceHost = FindControl<QLineEdit>(*this, IdServiceHost)->text().toStdString();
    settings_.servicePort =
        ParsePortText(FindControl<QLineEdit>(*this, IdServicePort)->text().toStdString());
    return true;
}

int ProppageConfigService::nextId() const {
    return PageFinish;
}
