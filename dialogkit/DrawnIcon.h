#pragma once

#include <QIcon>

#include <functional>
#include <initializer_list>

class QPainter;

// An icon drawn at run time, one pixmap per size: `draw` paints on a grid of 32 by 32 units,
// given an antialiasing painter on a transparent square and the size of one unit in pixels.
QIcon DrawnIcon(std::initializer_list<int> sizes,
                const std::function<void(QPainter&, qreal unit)>& draw);
