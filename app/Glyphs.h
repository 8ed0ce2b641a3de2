#pragma once
// Pictures the program draws itself: its icon and the glyph of the tempo speed button.

#include <QIcon>

namespace ruvo {

QIcon ProgramIcon();
QIcon TempoGlyph();

}  // namespace ruvo
