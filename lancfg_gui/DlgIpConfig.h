#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;
class QPushButton;

// Edits a device's stored network configuration. Set the fields, run it modally; after OK the
// fields hold the user's choice, after "Abbrechen" they are not to be used. OK is enabled only
// while each address field holds a complete address, so an address is never sent other than
// as it is shown. Its title names the device it edits.
class DlgIpConfig : public QDialog {
    Q_OBJECT
public:
    explicit DlgIpConfig(const QString& deviceName = QString(), QWidget* parent = nullptr);

    bool dhcpEnabled = false;
    bool cryptEnabled = false;
    QString ipAddressText;
    QString netmaskText;
    QString gatewayText;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();
    void UpdateStaticControls();
    bool AddressesComplete() const;
    void UpdateOkButton();
    void OnOK();

    QCheckBox* dhcpBox_;
    QCheckBox* cryptBox_;
    QLineEdit* ipEdit_;
    QLineEdit* netmaskEdit_;
    QLineEdit* gatewayEdit_;
    QPushButton* okButton_;
    bool initialised_ = false;
};
