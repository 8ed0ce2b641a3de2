#include "panes/ThresholdPane.h"

#include "engine/RawFile.h"
#include "engine/Rounding.h"
#include "panes/NoteEdits.h"
#include "panes/NoteGridFile.h"
#include "panes/PaintBox.h"
#include "panes/PaneHost.h"

#include <QPainter>

#include <algorithm>
#include <exception>
#include <vector>

namespace ruvo {

namespace {

const QColor kMaroon(128, 0, 0);
const QColor kBlue(0, 0, 255);
const QColor kWhite(255, 255, 255);
const QColor kYellow(255, 255, 0);
const QColor kBlack(0, 0, 0);

void FillSpan(QPainter& painter, const PixelSpan& span, std::int32_t height, const QColor& colour) {
    if (!span.Empty()) {
        painter.fillRect(span.Left, 0, span.Right - span.Left, height, colour);
    }
}

// A line from x = left to the pixel before right, as the strips draw their segments.
void HorizontalLine(QPainter& painter, std::int32_t left, std::int32_t right, std::int32_t y) {
    if (right > left) {
        painter.drawLine(left, y, right - 1, y);
    }
}

}  // namespace

std::int32_t ThresholdY(double margin, std::int32_t height, double peak) {
    const double span = peak - kLevelOffset;
    if (span <= 0.0) {
        return height;
    }
    const double y = RoundEven(height - (margin - kLevelOffset) * height / span);
    return static_cast<std::int32_t>(std::clamp(y, -1.0e6, 1.0e6));
}

double ThresholdMargin(std::int32_t y, std::int32_t height, double peak) {
    if (height <= 0) {
        return peak;
    }
    const double f = static_cast<double>(height - y) / height;
    return (peak - kLevelOffset) * f + kLevelOffset;
}

PixelSpan ThresholdPaintSpan(const WavHead& doc, std::int32_t width) {
    return SelectionSpan(doc, doc.SelStart - doc.ViewStart, doc.ViewWidth - 1.0,
                         static_cast<double>(doc.SelEnd) + 1.0 - doc.ViewStart, doc.ViewWidth, width);
}

PixelSpan ThresholdPressSpan(const WavHead& doc, std::int32_t width) {
    return SelectionSpan(doc, doc.SelStart - doc.ViewStart, doc.ViewWidth, doc.SelEnd - doc.ViewStart, doc.ViewWidth,
                         width);
}

void PaintThreshold(QPainter& painter, const WavHead& doc, std::int32_t width, std::int32_t height) {
    if (doc.ThresholdFileName.empty()) {
        return;
    }
    painter.fillRect(0, 0, width, height, kMaroon);
    FillSpan(painter, ThresholdPaintSpan(doc, width), height, kBlue);
    if (doc.ViewWidth <= 0) {
        return;
    }
    std::vector<double> margins(static_cast<std::size_t>(doc.ViewWidth));
    RawFile file;
    file.Open(doc.ThresholdFileName, RawFile::Mode::Read);
    file.Seek(std::int64_t{std::max(doc.ViewStart, 0)} * static_cast<std::int64_t>(sizeof(double)));
    const std::size_t got = file.Read(margins.data(), margins.size() * sizeof(double)) / sizeof(double);
    file.Close();
    painter.setPen(QPen(kWhite, 0));
    for (std::size_t s = 0; s < got; ++s) {
        const auto frame = static_cast<std::int64_t>(s);
        const auto left = static_cast<std::int32_t>(RoundToInt(static_cast<double>(frame * width) / doc.ViewWidth));
        const auto right =
            static_cast<std::int32_t>(RoundToInt(static_cast<double>((frame + 1) * width) / doc.ViewWidth));
        HorizontalLine(painter, left, right, ThresholdY(margins[s], height, doc.PeakNoteValue));
    }
}

void PaintThresholdOverlay(QPainter& painter, const ThresholdOverlay& overlay, std::int32_t height) {
    painter.setPen(QPen(kBlack, 0));
    if (overlay.Pressed) {
        FillSpan(painter, overlay.PressSpan, height, kYellow);
        HorizontalLine(painter, overlay.PressSpan.Left, overlay.PressSpan.Right, overlay.PressY);
    }
    if (overlay.Moved) {
        // Each move's yellow covers the line of the move before it.
        FillSpan(painter, overlay.MoveSpan, height, kYellow);
        HorizontalLine(painter, overlay.MoveSpan.Left, overlay.MoveSpan.Right, overlay.MoveY);
    }
}

TThresholdPane::TThresholdPane(IPaneHost& host, TPaintBox& box) : m_host(host), m_box(box) {}

void TThresholdPane::ThreadValuePaint(QPainter& painter) {
    const WavHead& doc = m_host.Doc();
    try {
        PaintThreshold(painter, doc, m_box.width(), m_box.height());
    } catch (const std::exception&) {
    }
    if (!doc.ThresholdFileName.empty()) {
        PaintThresholdOverlay(painter, m_overlay, m_box.height());
    }
}

void TThresholdPane::ThreadValueMouseDown(Qt::MouseButton /*button*/, std::int32_t /*x*/, std::int32_t y) {
    // Without a document there is no margin to set, so no drag begins.
    if (m_host.Busy() || m_host.Doc().ThresholdFileName.empty()) {
        return;
    }
    m_thresholdDrag = 1;
    m_overlay = ThresholdOverlay{};
    m_overlay.Pressed = true;
    m_overlay.PressSpan = ThresholdPressSpan(m_host.Doc(), m_box.width());
    m_overlay.PressY = y;
    m_box.repaint();
}

void TThresholdPane::ThreadValueMouseMove(std::int32_t /*x*/, std::int32_t y) {
    if (m_thresholdDrag != 1 || m_host.Busy()) {
        return;
    }
    m_overlay.Moved = true;
    m_overlay.MoveSpan = ThresholdPaintSpan(m_host.Doc(), m_box.width());
    m_overlay.MoveY = y;
    m_box.repaint();
}

void TThresholdPane::ThreadValueMouseUp(Qt::MouseButton /*button*/, std::int32_t /*x*/, std::int32_t y) {
    // A release whose press was refused (a re-run was running) has nothing to set; every
    // release ends the drag.
    const bool dragged = m_thresholdDrag == 1;
    m_thresholdDrag = 0;
    const WavHead& doc = m_host.Doc();
    if (!dragged || m_host.Busy() || doc.ThresholdFileName.empty()) {
        return;
    }
    const double margin = ThresholdMargin(y, m_box.height(), doc.PeakNoteValue);
    (void)m_host.EditSideFile(SideFile::Threshold, doc.SelStart, doc.SelEnd, margin);
}

void TThresholdPane::EndDrag() {
    m_thresholdDrag = 0;
    Refreshed();
}

void TThresholdPane::Refreshed() {
    m_overlay = ThresholdOverlay{};
    m_box.update();
}

}  // namespace ruvo
