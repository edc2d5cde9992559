#pragma once

#include <QIcon>

// The program's icon, for the window and the tray: a clock face with an infrared beam.
QIcon BeamclockIcon();
