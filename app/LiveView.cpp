#include "app/LiveView.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cstdlib>

namespace ruvo {
namespace {

constexpr std::int32_t kPeakBlock = 256;                                  // samples per waveform column
constexpr std::int32_t kBlocksPerFrame = kFrameSamples / kPeakBlock;
constexpr std::int32_t kPixelsPerFrame = kBlocksPerFrame;                 // one pixel per block
constexpr double kWaveShare = 0.3;                                        // of the height, for the waveform
constexpr std::int32_t kLeastRows = 24;                                   // notes shown at least
constexpr std::int32_t kRowMargin = 3;                                    // notes above and below the ones heard

}  // namespace

TLiveView::TLiveView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("LiveView"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setStatusTip(QStringLiteral("Live notes|The melody of the take while it is recorded."));
}

void TLiveView::Clear() {
    m_peaks.clear();
    m_blockPeak = 0;
    m_blockFill = 0;
    m_samples = 0;
    m_oddByte = false;
    m_notes.clear();
    m_finalCount = 0;
    update();
}

void TLiveView::AddSamples(const char* bytes, std::int32_t size) {
    for (std::int32_t i = 0; i < size; ++i) {
        const auto byte = static_cast<std::uint8_t>(bytes[i]);
        if (!m_oddByte) {
            m_lowByte = byte;
            m_oddByte = true;
            continue;
        }
        m_oddByte = false;
        const auto sample = static_cast<std::int16_t>(static_cast<std::uint16_t>(m_lowByte | (byte << 8)));
        m_blockPeak = std::max(m_blockPeak, std::abs(static_cast<std::int32_t>(sample)));
        ++m_samples;
        if (++m_blockFill == kPeakBlock) {
            m_peaks.push_back(static_cast<std::uint8_t>(std::min(m_blockPeak, 32767) * 255 / 32767));
            m_blockPeak = 0;
            m_blockFill = 0;
        }
    }
    update();
}

void TLiveView::SetNotes(std::vector<LiveNote> notes, std::size_t finalCount) {
    m_notes = std::move(notes);
    m_finalCount = std::min(finalCount, m_notes.size());
    update();
}

std::int32_t TLiveView::FirstShownFrame() const {
    const auto newest = static_cast<std::int32_t>(m_peaks.size()) / kBlocksPerFrame;
    return std::max(newest - width() / kPixelsPerFrame + 1, 0);
}

void TLiveView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const std::int32_t first = FirstShownFrame();
    const std::int32_t waveHeight = static_cast<std::int32_t>(height() * kWaveShare);
    const std::int32_t middle = waveHeight / 2;

    painter.setPen(QColor(0, 110, 0));
    const auto firstBlock = static_cast<std::size_t>(first) * kBlocksPerFrame;
    for (std::size_t k = firstBlock; k < m_peaks.size(); ++k) {
        const auto x = static_cast<std::int32_t>(k - firstBlock);
        const std::int32_t reach = m_peaks[k] * middle / 255;
        painter.drawLine(x, middle - reach, x, middle + reach);
    }
    painter.setPen(Qt::gray);
    painter.drawLine(0, waveHeight, width(), waveHeight);

    // The rows follow the notes heard so far.
    std::int32_t low = kNoteCount;
    std::int32_t high = -1;
    for (const LiveNote& note : m_notes) {
        low = std::min(low, note.Note);
        high = std::max(high, note.Note);
    }
    if (high < 0) {
        low = 24;  // A3 .. G#5 until a note is heard
        high = low + kLeastRows - 1;
    }
    low = std::max(low - kRowMargin, 0);
    high = std::min(std::max(high + kRowMargin, low + kLeastRows - 1), kNoteCount - 1);
    const std::int32_t rows = high - low + 1;
    const double rowHeight = static_cast<double>(height() - waveHeight - 1) / rows;
    const auto rowTop = [&](std::int32_t note) { return waveHeight + 1 + (high - note) * rowHeight; };
    // A line under every C, named at the left edge, where the keyboard it covers would name it.
    for (std::int32_t n = low; n <= high; ++n) {
        if (NoteToMidiKey(n) % 12 != 0) continue;
        const double bottom = rowTop(n) + rowHeight;
        painter.setPen(QColor(225, 225, 225));
        painter.drawLine(QPointF(0, bottom), QPointF(width(), bottom));
        painter.setPen(Qt::gray);
        painter.drawText(QPointF(2, bottom - 2), QString::fromStdString(KeyName(NoteToMidiKey(n))));
    }
    for (std::size_t i = 0; i < m_notes.size(); ++i) {
        const LiveNote& note = m_notes[i];
        if (note.End <= first) continue;
        const QRectF cell((note.First - first) * kPixelsPerFrame, rowTop(note.Note),
                          (note.End - note.First) * kPixelsPerFrame, std::max(rowHeight, 2.0));
        if (i < m_finalCount) {
            painter.fillRect(cell, QColor(0, 0, 200));
        } else {
            painter.setPen(QColor(0, 0, 200));
            painter.drawRect(cell.adjusted(0, 0, -1, -1));
        }
    }
}

}  // namespace ruvo
