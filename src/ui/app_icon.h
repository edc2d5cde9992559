#pragma once

#include <QIcon>

// What the picture says beside the clock itself: nothing (the clock is being set), a warning
// (it should be and is not), or dimmed (no port is chosen).
enum class IconMark { None, Warning, Dimmed };

// The program's icon, for the window and the tray: a clock face with an infrared beam. The
// tray's other looks are the same drawing, marked.
QIcon BeamclockIcon(IconMark mark = IconMark::None);
