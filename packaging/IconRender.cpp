// Renders a window program's icon, as the program draws it at run time, into the PNG files of
// the hicolor icon theme: <folder>/<N>x<N>/apps/<name>.png for each usual size up to the largest
// the icon holds. A size between the icon's own is scaled down from a larger one, never up.

#include "AppIcon.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>

#include <algorithm>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <folder> <icon name>\n", argv[0]);
        return 2;
    }
    const QIcon icon = AppIcon();
    int largest = 0;
    for (const QSize& size : icon.availableSizes())
        largest = std::max(largest, size.width());
    int written = 0;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        if (size > largest)
            break;
        const QString folder =
            QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        const QString file = folder + QLatin1Char('/') + QString::fromLocal8Bit(argv[2]) + ".png";
        const QPixmap pixmap = icon.pixmap(QSize(size, size));
        if (!QDir().mkpath(folder) || pixmap.size() != QSize(size, size) || !pixmap.save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        ++written;
    }
    return written > 0 ? 0 : 1;
}
