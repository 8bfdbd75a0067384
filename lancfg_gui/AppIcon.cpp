#include "AppIcon.h"

#include "DrawnIcon.h"

#include <QPainter>

QIcon AppIcon() {
    return DrawnIcon({16, 32, 48, 64, 128}, [](QPainter& painter, qreal unit) {
        // Housing.
        painter.setPen(QPen(QColor(30, 50, 90), unit));
        painter.setBrush(QColor(60, 110, 180));
        painter.drawRoundedRect(QRectF(2 * unit, 9 * unit, 28 * unit, 14 * unit), 3 * unit,
                                3 * unit);
        // Antenna.
        painter.drawLine(QPointF(24 * unit, 9 * unit), QPointF(27 * unit, 2 * unit));
        // Link lamps.
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(120, 230, 120));
        for (int i = 0; i < 3; ++i)
            painter.drawEllipse(QPointF((7 + 6 * i) * unit, 16 * unit), 2 * unit, 2 * unit);
    });
}
