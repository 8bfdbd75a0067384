#include "DlgKeyInput.h"

#include "ControlIds.h"

#include <QLineEdit>
#include <QPushButton>

namespace {

const ControlTemplate kKeyInputControls[] = {
    {IdNone, ControlKind::StaticText, "Please enter the network AES key of the device.", 7, 7, 156,
     8},
    {IdNone, ControlKind::StaticText,
     "You find this 32 digit key printed on the outside of the Lan Interface.", 7, 20, 229, 8},
    {IdKeyEdit, ControlKind::Edit, "", 7, 37, 229, 14},
    {IdOk, ControlKind::DefaultPushButton, "OK", 7, 61, 50, 14},
    {IdCancel, ControlKind::PushButton, "Abbrechen", 80, 61, 50, 14},
};

const DialogTemplate kKeyInputTemplate{"Input AES Key", 243, 82, kKeyInputControls};

} // namespace

DlgKeyInput::DlgKeyInput(QWidget* parent) : QDialog(parent) {
    BuildDialog(*this, kKeyInputTemplate);
    keyEdit_ = FindControl<QLineEdit>(*this, IdKeyEdit);
    okButton_ = FindControl<QPushButton>(*this, IdOk);
    keyEdit_->setMaxLength(KeyLength);
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
