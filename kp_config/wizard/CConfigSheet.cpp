#include "CConfigSheet.h"

#include "ProppageConfigFinish.h"
#include "ProppageConfigLanif.h"
#include "ProppageConfigService.h"
#include "ProppageConfigStart.h"

CConfigSheet::CConfigSheet(ConnectionSettings& workingCopy, CServiceController& controller,
                           QWidget* parent)
    : QWizard(parent) {
    setWindowTitle(QStringLiteral("Velantrix-Konfigurator Einstellungen"));
    setWizardStyle(QWizard::ClassicStyle);
    setOption(QWizard::IndependentPages);
    setButtonText(QWizard::BackButton, QStringLiteral("< Zurück"));
    setButtonText(QWizard::NextButton, QStringLiteral("Weiter >"));
    setButtonText(QWizard::FinishButton, QStringLiteral("Fertig stellen"));
    setButtonText(QWizard::CancelButton, QStringLiteral("Abbrechen"));
    setPage(PageStart, new ProppageConfigStart(workingCopy));
    setPage(PageLanif, new ProppageConfigLanif(workingCopy));
    setPage(PageService, new ProppageConfigService(workingCopy));
    setPage(PageFinish, new ProppageConfigFinish(workingCopy, controller));
    setStartId(PageStart);
    // Every page reads the working copy each time it is shown, going back as well as forward.
    connect(this, &QWizard::currentIdChanged, this, &CConfigSheet::OnPageActivated);
}

ProppageConfigFinish* CConfigSheet::FinishPage() const {
    return static_cast<ProppageConfigFinish*>(page(PageFinish));
}

void CConfigSheet::OnPageActivated(int id) {
    if (auto* activated = qobject_cast<ProppageConfig*>(page(id)))
        activated->OnSetActive();
}
