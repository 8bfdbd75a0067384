#include "ProppageConfigFinish.h"

#include "CServiceController.h"
#include "DialogTemplate.h"
#include "LanProtocol.h"
#include "VerifyOutcome.h"
#include "WizardControlIds.h"
#include "WizardLog.h"

#include <QApplication>
#include <QLabel>

namespace {

const ControlTemplate kControls[] = {
    {IdFinishDevice, ControlKind::StaticText, "", 7, 7, 302, 10},
    {IdResultText, ControlKind::StaticText, "", 7, 21, 302, 157},
};

const DialogTemplate kTemplate{"Verbindungsauswahl bestätigen", 316, 185, kControls};

QString Text(const std::string& s) {
    return QString::fromStdString(lanproto::PrintableText(s));
}

// The device or service the check was about, as the user gave it; a USB interface is named by
// the serial number the check found, a stored one may be gone.
QString CheckedDevice(const ConnectionSettings& settings, int result) {
    switch (settings.connection) {
    case ConnectionType::Usb:
        return result == VerifyOk ? QStringLiteral("USB-Interface ") + Text(settings.usbSerial)
                                  : QStringLiteral("USB-Interface");
    case ConnectionType::Lan:
        return QStringLiteral("Lan-Interface ") + Text(settings.lanSerial) +
               (settings.lanHost.empty() ? QString()
                                         : QStringLiteral(" unter ") + Text(settings.lanHost));
    case ConnectionType::RemoteService:
        return QStringLiteral("Radlex-Service auf %1, Port %2")
            .arg(Text(settings.serviceHost))
            .arg(settings.servicePort);
    default:
        return QString();
    }
}

} // namespace

ProppageConfigFinish::ProppageConfigFinish(ConnectionSettings& settings,
                                           CServiceController& controller)
    : ProppageConfig(kTemplate, settings, IdResultText), controller_(controller) {
    auto* device = FindControl<QLabel>(*this, IdFinishDevice);
    QFont bold = device->font();
    bold.setBold(true);
    device->setFont(bold);
}

void ProppageConfigFinish::OnSetActive() {
    auto* text = FindControl<QLabel>(*this, IdResultText);
    auto* device = FindControl<QLabel>(*this, IdFinishDevice);
    finishAllowed_ = false;
    text->clear();
    device->clear();
    emit completeChanged();
    // The check blocks the window while it waits for devices or the remote service.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    lastResult = controller_.VerifySettings(settings_);
    QApplication::restoreOverrideCursor();
    LogVerifyResult(settings_, lastResult);
    const VerifyOutcome outcome = DescribeVerifyResult(settings_.connection, lastResult);
    resultText = outcome.text;
    device->setText(
        CheckedDevice(settings_, lastResult)); // after the check, which finds the USB serial
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
