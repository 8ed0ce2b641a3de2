#include "panes/WaveSummaryTask.h"

#include "panes/PaintBox.h"
#include "panes/ViewSpan.h"

#include <QPainter>
#include <QTimer>

#include <exception>

namespace ruvo {
namespace {

constexpr int kSummaryPollMs = 30;  // how soon a box without its summary asks again

}  // namespace

const WaveSummary* WaveSummaryTask::For(const WavHead& doc) {
    // The summary in hand serves its document until another document asks: collecting first
    // would let a build for another one, finished meanwhile, take its place mid-paint.
    if (m_summary && m_summary->Describes(doc)) return &*m_summary;
    Collect();
    if (m_summary && m_summary->Describes(doc)) return &*m_summary;
    if (m_file == doc.NormFileName && m_frames == doc.FrameCount) return nullptr;  // running or failed
    m_file = doc.NormFileName;
    m_frames = doc.FrameCount;
    m_failed = false;
    // Assigning stops and joins the build of another document first.
    m_worker = std::jthread([this, copy = doc](const std::stop_token& stop) {
        Result result{copy.NormFileName, copy.FrameCount, false, std::nullopt};
        try {
            WaveSummary summary = WaveSummary::Build(copy, stop);
            result.Stopped = stop.stop_requested();
            if (!result.Stopped) result.Summary = std::move(summary);
        } catch (const std::exception&) {
            // A file that cannot be read leaves the summary empty; the paint then says nothing.
        }
        const std::lock_guard lock(m_mutex);
        m_done = std::move(result);
    });
    return nullptr;
}

bool WaveSummaryTask::Failed(const WavHead& doc) const {
    return m_failed && m_file == doc.NormFileName && m_frames == doc.FrameCount;
}

void WaveSummaryTask::Wait() {
    if (m_worker.joinable()) m_worker.join();
    Collect();
}

void WaveSummaryTask::Collect() {
    std::optional<Result> done;
    {
        const std::lock_guard lock(m_mutex);
        done.swap(m_done);
    }
    if (!done || done->Stopped || done->File != m_file || done->Frames != m_frames) return;
    if (done->Summary) {
        m_summary = std::move(done->Summary);
    } else {
        m_failed = true;
    }
}

void PaintWaveformPending(QPainter& painter, const WavHead& doc, std::int32_t width, std::int32_t height) {
    if (doc.NormFileName.empty()) return;
    painter.fillRect(0, 0, width, height, QColor(0, 0, 128));
    const double divisor = doc.ViewWidth - 1.0;
    const PixelSpan selected =
        SelectionSpan(doc, doc.SelStart - doc.ViewStart, divisor, doc.SelEnd - doc.ViewStart, divisor, width);
    if (!selected.Empty())
        painter.fillRect(selected.Left, 0, selected.Right - selected.Left, height, QColor(128, 0, 128));
}

// The summary arrives without a signal: the box asks again shortly, and the timer belongs to
// the box, so that it never outlives it.
void TWaveformPane::PaintPending(QPainter& painter, const WavHead& doc) {
    PaintWaveformPending(painter, doc, m_box.width(), m_box.height());
    QTimer::singleShot(kSummaryPollMs, &m_box, [box = &m_box] { box->update(); });
}

}  // namespace ruvo
