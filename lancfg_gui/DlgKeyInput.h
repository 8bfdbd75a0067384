#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

// Asks for a device's AES key: 32 characters, OK only when exactly 32 were typed.
class DlgKeyInput : public QDialog {
    Q_OBJECT
public:
    static constexpr int KeyLength = 32;

    explicit DlgKeyInput(QWidget* parent = nullptr);

    QString keyText; // the text of the edit box; 32 characters after OK

private:
    void OnKeyChanged(const QString& text);

    QLineEdit* keyEdit_;
    QPushButton* okButton_;
};
