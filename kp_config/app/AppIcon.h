#pragma once

#include <QIcon>

// kp_config's icon, drawn at run time: a radio device with its antenna and signal waves.
QIcon AppIcon();
