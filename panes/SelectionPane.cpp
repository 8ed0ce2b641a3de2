#include "panes/SelectionPane.h"

#include "engine/Rounding.h"
#include "panes/PaintBox.h"
#include "panes/PaneHost.h"

#include <QPainter>

#include <algorithm>

namespace ruvo {

namespace {

const QColor kNavy(0, 0, 128);
const QColor kGreen(0, 128, 0);
const QColor kFuchsia(255, 0, 255);

std::int32_t ScaledX(double frames, double scale, std::int32_t width) {
    const double x = RoundEven(frames * scale);
    return static_cast<std::int32_t>(std::clamp(x, -1.0, static_cast<double>(width) + 1.0));
}

}  // namespace

double OverviewScale(const WavHead& doc, std::int32_t width) {
    if (doc.FrameCount <= 1) {
        return width;
    }
    return static_cast<double>(width) / (doc.FrameCount - 1);
}

PixelSpan OverviewSelection(const WavHead& doc, std::int32_t width) {
    const double s = OverviewScale(doc, width);
    return {ScaledX(doc.SelStart, s, width), ScaledX(doc.SelEnd, s, width)};
}

PixelSpan OverviewViewMarker(const WavHead& doc, std::int32_t width) {
    const double s = OverviewScale(doc, width);
    const auto keepInside = [width](std::int32_t x) { return x >= width - 1 ? width - 2 : x; };
    return {keepInside(ScaledX(doc.ViewStart, s, width)),
            keepInside(ScaledX(static_cast<double>(doc.ViewStart) + doc.ViewWidth, s, width))};
}

void PaintOverview(QPainter& painter, const WavHead& doc, std::int32_t width, std::int32_t height) {
    if (doc.NormFileName.empty()) {
        return;
    }
    painter.fillRect(0, 0, width, height, kNavy);
    const PixelSpan selected = OverviewSelection(doc, width);
    if (!selected.Empty()) {
        painter.fillRect(selected.Left, 0, selected.Right - selected.Left, height, kGreen);
    }
    const PixelSpan marker = OverviewViewMarker(doc, width);
    const auto mid = static_cast<int>(RoundToInt(height * 0.5));
    painter.setPen(QPen(kFuchsia, 2, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(marker.Left, mid, marker.Right, mid);
    painter.drawLine(marker.Right, 0, marker.Right, height);
    painter.drawLine(marker.Left, 0, marker.Left, height);
}

std::int32_t OverviewFrameAt(const WavHead& doc, std::int32_t x, std::int32_t width) {
    if (doc.FrameCount <= 1 || width <= 0) {
        return 0;
    }
    const double frame = RoundEven(x / (static_cast<double>(width) / (doc.FrameCount - 1)));
    return static_cast<std::int32_t>(std::clamp(frame, -1.0e9, 1.0e9));
}

TSelectionPane::TSelectionPane(IPaneHost& host, TPaintBox& box) : m_host(host), m_box(box) {}

void TSelectionPane::SelectRgnPaint(QPainter& painter) {
    PaintOverview(painter, m_host.Doc(), m_box.width(), m_box.height());
}

void TSelectionPane::SelectRgnMouseDown(Qt::MouseButton button, std::int32_t x, std::int32_t /*y*/) {
    SelectFrame(m_host, button == Qt::LeftButton, button == Qt::RightButton,
                OverviewFrameAt(m_host.Doc(), x, m_box.width()));
}

}  // namespace ruvo
