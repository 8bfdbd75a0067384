#pragma once

// Dialog templates as tables: each control with its id, kind, text and its rectangle in dialog
// units. One helper turns a table into widgets, converting dialog units to pixels from the
// dialog font's metrics, so that every window of the program keeps the proportions it was laid
// out with.

#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>

#include <span>

class QFontMetrics;

enum class ControlKind {
    PushButton,
    DefaultPushButton,
    ListView,   // report view (ReportView), several rows may be selected, selection always shown
    StaticText, // wraps at word boundaries when the template gives it more than one line
    SunkenText, // static text with a sunken edge
    ProgressBar,
    DropDownCombo, // editable drop-down, sorted entries
    CheckBox,
    GroupBox,
    IpAddress,       // dotted decimal IPv4 address
    Edit,            // single line, scrolling horizontally
    RadioButton,     // automatic radio button of the group the last RadioGroupStart began
    RadioGroupStart, // automatic radio button that begins a new group
};

// The ids every dialog shares; each program names its other controls itself.
enum CommonControlId : int {
    IdNone = -1,
    IdOk = 1,
    IdCancel = 2,
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;        // UTF-8
    int x, y, width, height; // dialog units
    bool visible = true;
};

struct DialogTemplate {
    const char* caption; // UTF-8
    int width, height;   // dialog units
    std::span<const ControlTemplate> controls;
};

// The font all dialog templates are laid out for: the system's dialog font at 8 points.
QFont DialogFont();

// Horizontal and vertical dialog base units of a font: the average width of the Latin letters
// and the character height, in pixels.
struct DialogBaseUnits {
    int x;
    int y;
    explicit DialogBaseUnits(const QFontMetrics& metrics);
    int ToPixelsX(int dialogUnits) const;
    int ToPixelsY(int dialogUnits) const;
    QRect ToPixels(int x, int y, int width, int height) const;
};

// The object name a control id gives its widget ("1000"); empty for IdNone.
QString ControlName(int id);

// Sets the window's caption, font and fixed size and creates every control of the template
// as a child of the window (a dialog or a wizard page), placed as the template says.
void BuildDialog(QWidget& dialog, const DialogTemplate& dialogTemplate);

// The control with this id among the dialog's children, or nullptr.
template <class Widget> Widget* FindControl(const QWidget& dialog, int id) {
    return dialog.findChild<Widget*>(ControlName(id));
}
