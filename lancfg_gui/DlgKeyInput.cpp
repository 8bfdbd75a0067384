#include "DlgKeyInput.h"

#include "ControlIds.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace {

const ControlTemplate kKeyInputControls[] = {
    {IdKeyDevice, ControlKind::StaticText, "", 7, 7, 229, 8},
    {IdNone, ControlKind::StaticText, "Please enter the network AES key of the device.", 7, 20, 156,
     8},
    {IdNone, ControlKind::StaticText,
     "You find this 32 digit key printed on the outside of the Lan Interface.", 7, 33, 229, 8},
    {IdKeyEdit, ControlKind::Edit, "", 7, 50, 229, 14},
    {IdKeyRejected, ControlKind::StaticText,
     "The key entered before was not accepted by the device. Please check it and enter it again.",
     7, 69, 229, 16, false},
    {IdOk, ControlKind::DefaultPushButton, "OK", 7, 91, 50, 14},
    {IdCancel, ControlKind::PushButton, "Abbrechen", 80, 91, 50, 14},
};

const DialogTemplate kKeyInputTemplate{"Input AES Key", 243, 112, kKeyInputControls};

} // namespace

DlgKeyInput::DlgKeyInput(const QString& deviceName, bool previousKeyRejected, QWidget* parent)
    : QDialog(parent) {
    BuildDialog(*this, kKeyInputTemplate);
    keyEdit_ = FindControl<QLineEdit>(*this, IdKeyEdit);
    okButton_ = FindControl<QPushButton>(*this, IdOk);
    FindControl<QLabel>(*this, IdKeyDevice)->setText(QStringLiteral("Device: ") + deviceName);
    FindControl<QLabel>(*this, IdKeyRejected)->setVisible(previousKeyRejected);
    keyEdit_->setMaxLength(KeyLength);
    // The key is 16 bytes written as hexadecimal digits; nothing else can be typed.
    keyEdit_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9A-Fa-f]{0,32}")), keyEdit_));
    keyEdit_->setFocus();
    OnKeyChanged(keyEdit_->text());

    connect(keyEdit_, &QLineEdit::textChanged, this, &DlgKeyInput::OnKeyChanged);
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(FindControl<QPushButton>(*this, IdCancel), &QPushButton::clicked, this,
            &QDialog::reject);
}

void DlgKeyInput::OnKeyChanged(const QString& text) {
    keyText = text;
    okButton_->setEnabled(keyText.size() == KeyLength);
}
