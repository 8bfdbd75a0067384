#include "DrawnIcon.h"

#include <QPainter>
#include <QPixmap>

QIcon DrawnIcon(std::initializer_list<int> sizes,
                const std::function<void(QPainter&, qreal unit)>& draw) {
    QIcon icon;
    for (int size : sizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        draw(painter, size / 32.0);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
