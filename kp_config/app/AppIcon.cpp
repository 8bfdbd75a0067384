#include "AppIcon.h"

#include "DrawnIcon.h"

#include <QPainter>

QIcon AppIcon() {
    return DrawnIcon({16, 32, 48, 64, 128}, [](QPainter& painter, qreal unit) {
        // Housing with a display.
        painter.setPen(QPen(QColor(40, 40, 40), unit));
        painter.setBrush(QColor(220, 120, 30));
        painter.drawRoundedRect(QRectF(6 * unit, 12 * unit, 16 * unit, 18 * unit), 2 * unit,
                                2 * unit);
        painter.setBrush(QColor(250, 240, 200));
        painter.drawRect(QRectF(9 * unit, 15 * unit, 10 * unit, 5 * unit));
        // Antenna and two waves.
        painter.setPen(QPen(QColor(40, 40, 40), 1.5 * unit));
        painter.drawLine(QPointF(18 * unit, 12 * unit), QPointF(18 * unit, 4 * unit));
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(30, 90, 170), 1.5 * unit));
        for (int r : {4, 8})
            painter.drawArc(QRectF((18 - r) * unit, (4 - r) * unit, 2 * r * unit, 2 * r * unit),
                            -60 * 16, 90 * 16);
    });
}
