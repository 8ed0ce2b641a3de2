#include "panes/BeatLinePainter.h"

#include "panes/StrCGrid.h"

#include <QColor>
#include <QPainter>
#include <QPen>
#include <QRect>

#include <algorithm>

namespace ruvo {

namespace {

// Opaque colours: blending translucent lines costs the grid's repaint several milliseconds.
// On the grid, cyan (a colour no cell has) on the line between two columns, so that a beat
// hides no note; a bar takes the first pixel of its column as well.
const QColor kGridBarColor(0, 255, 255);
const QColor kGridBeatColor(0, 160, 170);
const QColor kScaleBarColor(160, 0, 0);
const QColor kScaleBeatColor(200, 100, 100);

}  // namespace

BeatView BeatLinePainter::GridView(const TStrColGrid& grid) {
    const std::int32_t pitch = grid.DefaultColWidth() + (grid.Options().testFlag(GridOption::VertLine) ? 1 : 0);
    const QRect first = grid.CellRect(grid.LeftCol(), grid.TopRow());
    // The grid line before a column is the last pixel of the column on its left.
    const double origin = (first.isEmpty() ? 0.0 : first.x()) - (pitch > grid.DefaultColWidth() ? 1 : 0);
    return {static_cast<double>(grid.LeftCol()), origin, static_cast<double>(std::max(1, pitch)),
            grid.viewport()->width(), true};
}

BeatView BeatLinePainter::ScaleView(std::int32_t width, std::int32_t viewStart, std::int32_t viewWidth) {
    return {static_cast<double>(viewStart), 0.0, static_cast<double>(width) / std::max(1, viewWidth), width};
}

std::vector<BeatPixel> BeatLinePainter::Pixels(const BeatView& view) const {
    if (!m_shown || !m_source || view.Width <= 0) {
        return {};
    }
    const std::vector<BeatLine> lines = m_source(view.FromSeconds(), view.ToSeconds());
    return BeatPixels(lines, view);
}

void BeatLinePainter::PaintGrid(QPainter& painter, const TStrColGrid& grid, const QRect& area) const {
    if (!m_shown) {
        return;
    }
    const std::vector<BeatPixel> pixels = Pixels(GridView(grid));
    for (const BeatPixel& pixel : pixels) {
        if (pixel.X + 1 < area.left() || pixel.X > area.right()) {
            continue;
        }
        painter.fillRect(QRect(pixel.X, area.top(), pixel.Bar ? 2 : 1, area.height()),
                         pixel.Bar ? kGridBarColor : kGridBeatColor);
    }
}

void BeatLinePainter::PaintScale(QPainter& painter, QSize size, std::int32_t viewStart, std::int32_t viewWidth) const {
    const std::vector<BeatPixel> pixels = Pixels(ScaleView(size.width(), viewStart, viewWidth));
    const int bottom = size.height() - 1;
    for (const BeatPixel& pixel : pixels) {
        painter.setPen(QPen(pixel.Bar ? kScaleBarColor : kScaleBeatColor, pixel.Bar ? 2 : 1));
        painter.drawLine(pixel.X, pixel.Bar ? 0 : size.height() / 2, pixel.X, bottom);
    }
}

}  // namespace ruvo
