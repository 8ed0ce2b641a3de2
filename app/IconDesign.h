#pragma once
// The program's icon, described once as shapes on a 64-unit square: drawn with a painter for
// the windows and the PNG sizes, and written as SVG for the desktop's scalable icon. A waveform
// on the left turns into the yellow note bars of the piano roll on the right.

#include <QImage>
#include <QString>

class QPainter;

namespace ruvo {

constexpr int kIconDesignSize = 64;

// Paints the icon into the square (0, 0, size, size) of `painter`.
void PaintProgramIcon(QPainter& painter, int size);
// The icon at `size` x `size` pixels, transparent around the rounded square.
QImage ProgramIconImage(int size);
// The same shapes as an SVG document with a 64-unit view box.
QString ProgramIconSvg();

}  // namespace ruvo
