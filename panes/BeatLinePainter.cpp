#include "panes/BeatLinePainter.h"

#include "panes/StrCGrid.h"

#include <QColor>
#include <QPainter>
#include <QPen>
#include <QRect>

#include <algorithm>

namespace ruvo {

namespace {

// Cyan, a colour no cell of the grid has; beats translucent so that the notes under them show.
const QColor kGridBarColor(0, 255, 255);
const QColor kGridBeatColor(0, 255, 255, 150);
const QColor kScaleBarColor(160, 0, 0);
const QColor kScaleBeatColor(160, 0, 0, 120);

}  // namespace

BeatView BeatLinePainter::GridView(const TStrColGrid& grid) {
    const std::int32_t pitch = grid.DefaultColWidth() + (grid.Options().testFlag(GridOption::VertLine) ? 1 : 0);
    const QRect first = grid.CellRect(grid.LeftCol(), grid.TopRow());
    const double origin = first.isEmpty() ? 0.0 : first.x();
    return {static_cast<double>(grid.LeftCol()), origin, static_cast<double>(std::max(1, pitch)),
            grid.viewport()->width()};
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
        if (pixel.Bar) {
            painter.fillRect(QRect(pixel.X, area.top(), 2, area.height()), kGridBarColor);
            continue;
        }
        painter.setPen(QPen(kGridBeatColor, 0));
        painter.drawLine(pixel.X, area.top(), pixel.X, area.bottom());
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
