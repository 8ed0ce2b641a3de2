#include "panes/HarmonicPane.h"

#include "engine/RawFile.h"
#include "engine/Rounding.h"
#include "panes/NoteEdits.h"
#include "panes/PaintBox.h"
#include "panes/PaneHost.h"

#include <QPainter>

#include <algorithm>
#include <exception>
#include <vector>

namespace ruvo {

namespace {

const QColor kNavy(0, 0, 128);
const QColor kWhite(255, 255, 255);
const QColor kRed(255, 0, 0);

}  // namespace

PixelSpan HarmonicSelectionSpan(const WavHead& doc, std::int32_t width) {
    const double divisor = doc.ViewWidth - 1.0;
    return SelectionSpan(doc, doc.SelStart - doc.ViewStart, divisor, doc.SelEnd - doc.ViewStart, divisor, width);
}

void PaintHarmonics(QPainter& painter, const WavHead& doc, std::int32_t width, std::int32_t height) {
    if (doc.HarmonicFileName.empty()) {
        return;
    }
    painter.fillRect(0, 0, width, height, kNavy);
    const PixelSpan selected = HarmonicSelectionSpan(doc, width);
    if (!selected.Empty()) {
        painter.fillRect(selected.Left, 0, selected.Right - selected.Left, height, kWhite);
    }
    if (doc.ViewWidth <= 0) {
        return;
    }
    std::vector<double> values(static_cast<std::size_t>(doc.ViewWidth));
    RawFile file;
    file.Open(doc.HarmonicFileName, RawFile::Mode::Read);
    file.Seek(std::int64_t{std::max(doc.ViewStart, 0)} * static_cast<std::int64_t>(sizeof(double)));
    const std::size_t got = file.Read(values.data(), values.size() * sizeof(double)) / sizeof(double);
    file.Close();
    for (std::size_t s = 0; s < got; ++s) {
        if (values[s] != kKeepHarmonics) {
            continue;
        }
        const auto frame = static_cast<std::int64_t>(s);
        const auto left = static_cast<int>(RoundToInt(static_cast<double>(frame * width) / doc.ViewWidth));
        const auto right = static_cast<int>(RoundToInt(static_cast<double>((frame + 1) * width) / doc.ViewWidth));
        if (right > left) {
            painter.fillRect(left, 0, right - left, height, kRed);
        }
    }
}

THarmonicPane::THarmonicPane(IPaneHost& host, TPaintBox& box) : m_host(host), m_box(box) {}

void THarmonicPane::DoubleNotePaint(QPainter& painter) {
    try {
        PaintHarmonics(painter, m_host.Doc(), m_box.width(), m_box.height());
    } catch (const std::exception&) {
    }
}

void THarmonicPane::DoubleNoteMouseDown(Qt::MouseButton button, std::int32_t /*x*/, std::int32_t /*y*/) {
    const WavHead& doc = m_host.Doc();
    if (m_host.Busy() || doc.HarmonicFileName.empty()) {
        return;
    }
    const double value = button == Qt::LeftButton ? 0.0 : kKeepHarmonics;
    (void)m_host.EditSideFile(SideFile::Harmonic, doc.SelStart, doc.SelEnd, value);
    m_box.update();
}

}  // namespace ruvo
