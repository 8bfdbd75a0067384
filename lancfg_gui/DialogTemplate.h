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

class QDialog;
class QFontMetrics;

enum class ControlKind {
    PushButton,
    DefaultPushButton,
    ListView, // report view, several rows may be selected, selection always shown
    StaticText,
    SunkenText, // static text with a sunken edge
    ProgressBar,
    DropDownCombo, // editable drop-down, sorted entries
    CheckBox,
    GroupBox,
    IpAddress, // dotted decimal IPv4 address
    Edit,      // single line, scrolling horizontally
};

// Ids of the program's controls; each becomes the widget's object name.
enum ControlId : int {
    IdNone = -1,
    IdOk = 1, // "Close" in the main dialog
    IdCancel = 2,
    IdDeviceList = 1000,
    IdRefreshList = 1001,
    IdChangeIpSettings = 1002,
    IdUpdateFirmware = 1003,
    IdIpAddress = 1004,
    IdNetmask = 1005,
    IdGateway = 1006,
    IdIpAddressLabel = 1009,
    IdNetmaskLabel = 1010,
    IdGatewayLabel = 1011,
    IdDhcp = 1012,
    IdStaticGroup = 1013,
    IdProgressBar = 1014,
    IdProgressText = 1015,
    IdFirmwareFiles = 1016,
    IdCrypt = 1017,
    IdKeyEdit = 1020,
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

// Sets the dialog's caption, font and fixed size and creates every control of the template
// as a child of the dialog, placed as the template says.
void BuildDialog(QDialog& dialog, const DialogTemplate& dialogTemplate);

// The control with this id among the dialog's children, or nullptr.
template <class Widget> Widget* FindControl(const QWidget& dialog, int id) {
    return dialog.findChild<Widget*>(ControlName(id));
}
