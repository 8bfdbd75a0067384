#include "CConfigSheet.h"

#include "ProppageConfigFinish.h"
#include "ProppageConfigLanif.h"
#include "ProppageConfigService.h"
#include "ProppageConfigStart.h"
#include "WizardLog.h"

#include <QAbstractButton>
#include <QPushButton>

CConfigSheet::CConfigSheet(ConnectionSettings& workingCopy, CServiceController& controller,
                           QWidget* parent)
    : QWizard(parent), workingCopy_(workingCopy) {
    setWindowTitle(QStringLiteral("Velantrix-Konfigurator Einstellungen"));
    setWizardStyle(QWizard::ClassicStyle);
    setOption(QWizard::IndependentPages);
    setButtonText(QWizard::BackButton, QStringLiteral("< &Zurück"));
    setButtonText(QWizard::NextButton, QStringLiteral("&Weiter >"));
    setButtonText(QWizard::FinishButton, QStringLiteral("&Fertig stellen"));
    setButtonText(QWizard::CancelButton, QStringLiteral("&Abbrechen"));
    setPage(PageStart, new ProppageConfigStart(workingCopy));
    setPage(PageLanif, new ProppageConfigLanif(workingCopy));
    setPage(PageService, new ProppageConfigService(workingCopy));
    setPage(PageFinish, new ProppageConfigFinish(workingCopy, controller));
    setStartId(PageStart);
    // Every page reads the working copy each time it is shown, going back as well as forward.
    connect(this, &QWizard::currentIdChanged, this, &CConfigSheet::OnPageActivated);
    // Connected after the sheet's own handling, so the buttons' states are current here.
    for (int id : pageIds())
        connect(page(id), &QWizardPage::completeChanged, this,
                [this] { UpdateDefaultButton(false); });
}

ProppageConfigFinish* CConfigSheet::FinishPage() const {
    return static_cast<ProppageConfigFinish*>(page(PageFinish));
}

void CConfigSheet::done(int result) {
    if (result == QDialog::Accepted)
        LogWizardFinished(workingCopy_);
    else
        LogWizardCancelled();
    QWizard::done(result);
}

void CConfigSheet::OnPageActivated(int id) {
    if (auto* activated = qobject_cast<ProppageConfig*>(page(id)))
        activated->OnSetActive();
    UpdateDefaultButton(true);
}

void CConfigSheet::UpdateDefaultButton(bool pageShown) {
    auto* shown = qobject_cast<ProppageConfig*>(currentPage());
    if (!shown)
        return;
    const bool last = currentId() == PageFinish;
    const bool goOn = shown->isComplete();
    QAbstractButton* forward = button(last ? QWizard::FinishButton : QWizard::NextButton);
    QAbstractButton* back = button(QWizard::BackButton);
    if (auto* push = qobject_cast<QPushButton*>(forward))
        push->setDefault(goOn);
    if (auto* push = qobject_cast<QPushButton*>(back))
        push->setDefault(false);

    QWidget* focused = focusWidget();
    const bool misplaced =
        focused == nullptr || focused == back || !focused->isEnabled() || !focused->isVisible();
    if (!pageShown && !misplaced)
        return;
    QWidget* target = shown->FirstFocus();
    if (target == nullptr || !target->isEnabled())
        target = goOn ? forward : button(QWizard::CancelButton);
    target->setFocus();
}
