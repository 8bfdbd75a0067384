#include "ProppageConfigFinish.h"

#include "CServiceController.h"
#include "DialogTemplate.h"
#include "VerifyOutcome.h"
#include "WizardControlIds.h"
#include "WizardLog.h"

#include <QApplication>
#include <QLabel>

namespace {

const ControlTemplate kControls[] = {
    {IdResultText, ControlKind::StaticText, "", 7, 7, 302, 171},
};

const DialogTemplate kTemplate{"Verbindungsauswahl bestätigen", 316, 185, kControls};

} // namespace

ProppageConfigFinish::ProppageConfigFinish(ConnectionSettings& settings,
                                           CServiceController& controller)
    : ProppageConfig(kTemplate, settings), controller_(controller) {}

void ProppageConfigFinish::OnSetActive() {
    auto* text = FindControl<QLabel>(*this, IdResultText);
    finishAllowed_ = false;
    text->clear();
    emit completeChanged();
    // The check blocks the window while it waits for devices or the remote service.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    lastResult = controller_.VerifySettings(settings_);
    QApplication::restoreOverrideCursor();
    LogVerifyResult(settings_, lastResult);
    const VerifyOutcome outcome = DescribeVerifyResult(settings_.connection, lastResult);
    resultText = outcome.text;
    text->setText(QString::fromStdString(resultText).replace(QStringLiteral("\r\n"), "\n"));
    finishAllowed_ = outcome.finishAllowed;
    emit completeChanged();
}

bool ProppageConfigFinish::isComplete() const {
    return finishAllowed_;
}

int ProppageConfigFinish::nextId() const {
    return -1;
}
