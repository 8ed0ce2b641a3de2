#pragma once
// Helpers for looking at what a grid painted: a grab of its viewport and the colours in a
// rectangle of it.

#include <QColor>
#include <QImage>
#include <QRect>

#include <map>

namespace ruvo {
class TStrColGrid;
}

namespace ruvo::testsupport {

// The viewport of `grid` as painted now (the grid must have a size).
QImage GrabCells(TStrColGrid& grid);
// How many pixels of each colour (opaque QRgb) lie in `area` of `image`.
std::map<QRgb, int> ColoursIn(const QImage& image, const QRect& area);

}  // namespace ruvo::testsupport
