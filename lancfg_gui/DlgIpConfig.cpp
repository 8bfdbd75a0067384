#include "DlgIpConfig.h"

#include "ControlIds.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace {

const ControlTemplate kIpConfigControls[] = {
    {IdDhcp, ControlKind::CheckBox, "DHCP", 7, 7, 34, 10},
    {IdStaticGroup, ControlKind::GroupBox, "Static Configuration", 7, 23, 191, 87},
    {IdIpAddressLabel, ControlKind::StaticText, "IP Address", 14, 37, 36, 8},
    {IdIpAddress, ControlKind::IpAddress, "", 91, 37, 100, 15},
    {IdNetmaskLabel, ControlKind::StaticText, "Network Mask", 14, 60, 46, 8},
    {IdNetmask, ControlKind::IpAddress, "", 91, 60, 100, 15},
    {IdGatewayLabel, ControlKind::StaticText, "Gateway", 14, 83, 30, 8},
    {IdGateway, ControlKind::IpAddress, "", 91, 83, 100, 15},
    {IdCrypt, ControlKind::CheckBox, "AES Encrypt Lan Communication", 7, 117, 119, 10},
    {IdOk, ControlKind::DefaultPushButton, "OK", 7, 137, 50, 14},
    {IdCancel, ControlKind::PushButton, "Abbrechen", 75, 137, 50, 14},
};

const DialogTemplate kIpConfigTemplate{"IP Configuration", 205, 158, kIpConfigControls};

// The controls that only matter for a static configuration.
constexpr int kStaticControls[] = {IdStaticGroup, IdIpAddressLabel, IdNetmaskLabel, IdGatewayLabel,
                                   IdIpAddress,   IdNetmask,        IdGateway};

} // namespace

DlgIpConfig::DlgIpConfig(const QString& deviceName, QWidget* parent) : QDialog(parent) {
    BuildDialog(*this, kIpConfigTemplate);
    if (!deviceName.isEmpty())
        setWindowTitle(windowTitle() + QString::fromUtf8(" – ") + deviceName);
    dhcpBox_ = FindControl<QCheckBox>(*this, IdDhcp);
    cryptBox_ = FindControl<QCheckBox>(*this, IdCrypt);
    ipEdit_ = FindControl<QLineEdit>(*this, IdIpAddress);
    netmaskEdit_ = FindControl<QLineEdit>(*this, IdNetmask);
    gatewayEdit_ = FindControl<QLineEdit>(*this, IdGateway);

    okButton_ = FindControl<QPushButton>(*this, IdOk);

    connect(dhcpBox_, &QCheckBox::clicked, this, &DlgIpConfig::UpdateStaticControls);
    for (QLineEdit* edit : {ipEdit_, netmaskEdit_, gatewayEdit_})
        connect(edit, &QLineEdit::textChanged, this, &DlgIpConfig::UpdateOkButton);
    connect(okButton_, &QPushButton::clicked, this, &DlgIpConfig::OnOK);
    connect(FindControl<QPushButton>(*this, IdCancel), &QPushButton::clicked, this,
            &QDialog::reject);
}

void DlgIpConfig::showEvent(QShowEvent* event) {
    // The fields are set between construction and exec, so the controls take them on showing.
    if (!initialised_) {
        initialised_ = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void DlgIpConfig::OnInitDialog() {
    dhcpBox_->setChecked(dhcpEnabled);
    cryptBox_->setChecked(cryptEnabled);
    ipEdit_->setText(ipAddressText);
    netmaskEdit_->setText(netmaskText);
    gatewayEdit_->setText(gatewayText);
    UpdateStaticControls();
    UpdateOkButton();
}

bool DlgIpConfig::AddressesComplete() const {
    // The static addresses are written also with DHCP on, so all three must be whole.
    return ipEdit_->hasAcceptableInput() && netmaskEdit_->hasAcceptableInput() &&
           gatewayEdit_->hasAcceptableInput();
}

void DlgIpConfig::UpdateOkButton() {
    okButton_->setEnabled(AddressesComplete());
}

void DlgIpConfig::UpdateStaticControls() {
    dhcpEnabled = dhcpBox_->isChecked();
    cryptEnabled = cryptBox_->isChecked();
    for (int id : kStaticControls)
        FindControl<QWidget>(*this, id)->setEnabled(!dhcpEnabled);
}

void DlgIpConfig::OnOK() {
    if (!AddressesComplete())
        return;
    // Disabled address fields are read too: their texts go out as the static configuration.
    ipAddressText = ipEdit_->text();
    netmaskText = netmaskEdit_->text();
    gatewayText = gatewayEdit_->text();
    dhcpEnabled = dhcpBox_->isChecked();
    cryptEnabled = cryptBox_->isChecked();
    accept();
}
