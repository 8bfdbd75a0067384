#include "ProppageConfig.h"

#include "DialogTemplate.h"

#include <QFontMetrics>
#include <QResizeEvent>

ProppageConfig::ProppageConfig(const DialogTemplate& dialogTemplate, ConnectionSettings& settings,
                               int growingControl)
    : settings_(settings), template_(dialogTemplate), growingControl_(growingControl) {
    BuildDialog(*this, dialogTemplate);
    setMinimumSize(size());
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    // Without it the sheet gives a larger height to the room below the page.
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    // The page's caption heads the page; the controls keep their places below it.
    setTitle(QString::fromUtf8(dialogTemplate.caption));
}

void ProppageConfig::resizeEvent(QResizeEvent* event) {
    QWizardPage::resizeEvent(event);
    const ControlTemplate* growing = nullptr;
    for (const ControlTemplate& control : template_.controls)
        if (control.id == growingControl_ && control.id != IdNone)
            growing = &control;
    if (growing == nullptr)
        return;
    const DialogBaseUnits units{QFontMetrics(font())};
    const int dx = std::max(0, width() - units.ToPixelsX(template_.width));
    const int dy = std::max(0, height() - units.ToPixelsY(template_.height));
    for (const ControlTemplate& control : template_.controls) {
        QWidget* widget = control.id == IdNone ? nullptr : FindControl<QWidget>(*this, control.id);
        if (widget == nullptr)
            continue;
        QRect rect = units.ToPixels(control.x, control.y, control.width, control.height);
        if (&control == growing)
            rect.setSize(rect.size() + QSize(dx, dy));
        else if (control.y >= growing->y + growing->height)
            rect.translate(0, dy);
        else
            continue;
        widget->setGeometry(rect);
    }
}
