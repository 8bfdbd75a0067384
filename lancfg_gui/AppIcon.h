#pragma once

#include <QIcon>

// The program's icon, drawn at run time: a small network device with its link lamps.
QIcon AppIcon();
