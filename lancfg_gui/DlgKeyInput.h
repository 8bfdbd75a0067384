#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

// Asks for a device's AES key: 32 hexadecimal digits, OK only when exactly 32 were typed. It
// names the device it asks for and, when the key tried before was refused, says so.
class DlgKeyInput : public QDialog {
    Q_OBJECT
public:
    static constexpr int KeyLength = 32;

    explicit DlgKeyInput(const QString& deviceName = QString(), bool previousKeyRejected = false,
                         QWidget* parent = nullptr);

    QString keyText; // the text of the edit box; 32 hexadecimal digits after OK

private:
    void OnKeyChanged(const QString& text);

    QLineEdit* keyEdit_;
    QPushButton* okButton_;
};
