#include "UserMessage.h"

#include "KpConfigTexts.h"

#include <Logger.h>

#include <QMessageBox>
#include <QString>

void LogLine(const QString& text) {
    QString line = text;
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    Logger::Write(1, "kp_config", line.toUtf8().constData());
}

void ShowUserMessage(QWidget* parent, const QString& text) {
    LogLine(QStringLiteral("message shown: ") + text);
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kAppName), text, QMessageBox::Ok,
                    parent);
    box.exec();
}
