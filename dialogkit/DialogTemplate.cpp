#include "DialogTemplate.h"

#include "ReportView.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QValidator>

QFont DialogFont() {
    QFont font = QApplication::font();
    font.setPointSize(8);
    return font;
}

DialogBaseUnits::DialogBaseUnits(const QFontMetrics& metrics) {
    // The average width of the 52 Latin letters, rounded, as the dialog units were defined on
    // the system the templates come from.
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    x = (letters / 26 + 1) / 2;
    y = metrics.height();
    if (x < 1)
        x = 1;
    if (y < 1)
        y = 1;
}

int DialogBaseUnits::ToPixelsX(int dialogUnits) const {
    return (dialogUnits * x + 2) / 4;
}

int DialogBaseUnits::ToPixelsY(int dialogUnits) const {
    return (dialogUnits * y + 4) / 8;
}

QRect DialogBaseUnits::ToPixels(int left, int top, int width, int height) const {
    return QRect(ToPixelsX(left), ToPixelsY(top), ToPixelsX(width), ToPixelsY(height));
}

QString ControlName(int id) {
    return id == IdNone ? QString() : QString::number(id);
}

namespace {

// A static text of this height (dialog units) or less holds one line.
constexpr int kOneLineHeight = 10;

// Dotted decimal IPv4 address. While typing, the field takes up to four numbers of up to three
// digits, each at most 255, joined by dots, with any of them still empty, so that a number in
// the middle can be deleted and typed anew. Only four numbers without leading zeros make a
// complete (acceptable) address: "10..5" or "1.2.3." must never be read as some other address,
// and some readers take a leading zero for octal. Fixup (on Return or leaving the field) drops
// leading zeros.
class IpAddressValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int&) const override {
        const QStringList numbers = input.split(QLatin1Char('.'));
        if (numbers.size() > 4)
            return Invalid;
        bool complete = numbers.size() == 4;
        for (const QString& number : numbers) {
            if (number.size() > 3)
                return Invalid;
            for (const QChar c : number)
                if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                    return Invalid;
            if (number.isEmpty() || (number.size() > 1 && number[0] == QLatin1Char('0')))
                complete = false;
            else if (number.toInt() > 255)
                return Invalid;
        }
        return complete ? Acceptable : Intermediate;
    }

    void fixup(QString& input) const override {
        QStringList numbers = input.split(QLatin1Char('.'));
        for (QString& number : numbers) {
            bool ok = false;
            const int value = number.toInt(&ok);
            if (ok)
                number = QString::number(value);
        }
        input = numbers.join(QLatin1Char('.'));
    }
};

QWidget* CreateControl(QWidget& dialog, QButtonGroup*& radioGroup, const ControlTemplate& control) {
    const QString text = QString::fromUtf8(control.text);
    switch (control.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton: {
        auto* button = new QPushButton(text, &dialog);
        button->setAutoDefault(false);
        button->setDefault(control.kind == ControlKind::DefaultPushButton);
        return button;
    }
    case ControlKind::ListView:
        return new ReportView(&dialog);
    case ControlKind::StaticText: {
        auto* label = new QLabel(text, &dialog);
        label->setTextFormat(Qt::PlainText);
        if (control.height > kOneLineHeight) {
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setWordWrap(true);
        }
        return label;
    }
    case ControlKind::SunkenText: {
        auto* label = new QLabel(text, &dialog);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(&dialog);
        bar->setTextVisible(false);
        return bar;
    }
    case ControlKind::DropDownCombo: {
        auto* combo = new QComboBox(&dialog);
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::InsertAlphabetically);
        return combo;
    }
    case ControlKind::CheckBox:
        return new QCheckBox(text, &dialog);
    case ControlKind::GroupBox:
        return new QGroupBox(text, &dialog);
    case ControlKind::IpAddress: {
        auto* edit = new QLineEdit(&dialog);
        edit->setValidator(new IpAddressValidator(edit));
        edit->setText(text);
        return edit;
    }
    case ControlKind::Edit: {
        auto* edit = new QLineEdit(&dialog);
        edit->setText(text);
        return edit;
    }
    case ControlKind::RadioGroupStart:
    case ControlKind::RadioButton: {
        auto* button = new QRadioButton(text, &dialog);
        if (control.kind == ControlKind::RadioGroupStart || radioGroup == nullptr)
            radioGroup = new QButtonGroup(&dialog);
        radioGroup->addButton(button);
        return button;
    }
    }
    return nullptr;
}

} // namespace

void BuildDialog(QWidget& dialog, const DialogTemplate& dialogTemplate) {
    dialog.setWindowTitle(QString::fromUtf8(dialogTemplate.caption));
    dialog.setFont(DialogFont());
    const DialogBaseUnits units(QFontMetrics(dialog.font()));
    dialog.setFixedSize(units.ToPixelsX(dialogTemplate.width),
                        units.ToPixelsY(dialogTemplate.height));

    QButtonGroup* radioGroup = nullptr;
    for (const ControlTemplate& control : dialogTemplate.controls) {
        QWidget* widget = CreateControl(dialog, radioGroup, control);
        widget->setObjectName(ControlName(control.id));
        QRect rect = units.ToPixels(control.x, control.y, control.width, control.height);
        if (control.kind == ControlKind::DropDownCombo) {
            // The template's height includes the dropped-down list; the closed box is as high
            // as the style draws it.
            rect.setHeight(widget->sizeHint().height());
        }
        widget->setGeometry(rect);
        widget->setVisible(control.visible);
    }
}
