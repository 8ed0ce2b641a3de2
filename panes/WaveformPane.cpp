#include "panes/WaveformPane.h"

#include "engine/RawFile.h"
#include "engine/Rounding.h"
#include "panes/PaintBox.h"
#include "panes/PaneHost.h"
#include "panes/ViewSpan.h"
#include "panes/WaveSummaryTask.h"

#include <QPainter>

#include <algorithm>
#include <exception>
#include <limits>

namespace ruvo {

namespace {

constexpr std::int64_t kFrameSamples = 1024;
constexpr std::size_t kChunkSamples = 32768;  // samples read at once
const QColor kNavy(0, 0, 128);
const QColor kPurple(128, 0, 128);
const QColor kYellow(255, 255, 0);

}  // namespace

std::int64_t WaveSampleAt(const WavHead& doc, std::int32_t x, std::int32_t width) {
    return std::int64_t{doc.ViewStart} * kFrameSamples +
           std::int64_t{x} * std::int64_t{doc.ViewWidth} * kFrameSamples / width;
}

namespace {

// Samples first .. last - 1 folded into low and high (rounded to integers first).
void FoldSamples(RawFile& file, std::int64_t first, std::int64_t last, std::vector<double>& buffer, std::int32_t& low,
                 std::int32_t& high) {
    if (last <= first) {
        return;
    }
    file.Seek(first * static_cast<std::int64_t>(sizeof(double)));
    while (first < last) {
        const auto wanted = static_cast<std::size_t>(std::min(last - first, static_cast<std::int64_t>(kChunkSamples)));
        const std::size_t got = file.Read(buffer.data(), wanted * sizeof(double)) / sizeof(double);
        if (got == 0) {
            return;
        }
        for (std::size_t i = 0; i < got; ++i) {
            const auto value = static_cast<std::int32_t>(std::clamp(RoundEven(buffer[i]), -1.0e9, 1.0e9));
            low = std::min(low, value);
            high = std::max(high, value);
        }
        first += static_cast<std::int64_t>(got);
    }
}

constexpr std::int64_t kSummaryFramesPerColumn = 4;  // below this, reading every sample is cheap

std::vector<WaveColumn> SummaryColumns(const WavHead& doc, std::int32_t width, const WaveSummary& summary) {
    std::vector<WaveColumn> columns(static_cast<std::size_t>(width));
    RawFile file;
    file.Open(doc.NormFileName, RawFile::Mode::Read);
    std::vector<double> buffer(kFrameSamples);
    const std::int64_t total = std::int64_t{summary.FrameCount} * kFrameSamples;
    for (std::int32_t x = 1; x < width; ++x) {
        const std::int64_t first = std::max<std::int64_t>(WaveSampleAt(doc, x - 1, width), 0);
        const std::int64_t last = std::min(WaveSampleAt(doc, x, width), total);
        std::int32_t low = std::numeric_limits<std::int32_t>::max();
        std::int32_t high = std::numeric_limits<std::int32_t>::min();
        const std::int64_t wholeFirst = (first + kFrameSamples - 1) / kFrameSamples;  // frames inside the column
        const std::int64_t wholeLast = last / kFrameSamples;                          // exclusive
        if (wholeFirst >= wholeLast) {
            FoldSamples(file, first, last, buffer, low, high);
        } else {
            FoldSamples(file, first, wholeFirst * kFrameSamples, buffer, low, high);
            for (std::int64_t f = wholeFirst; f < wholeLast; ++f) {
                low = std::min(low, summary.Min[static_cast<std::size_t>(f)]);
                high = std::max(high, summary.Max[static_cast<std::size_t>(f)]);
            }
            FoldSamples(file, wholeLast * kFrameSamples, last, buffer, low, high);
        }
        if (low <= high) {
            columns[static_cast<std::size_t>(x)] = {true, low, high};
        }
    }
    file.Close();
    return columns;
}

}  // namespace

WaveSummary WaveSummary::Build(const WavHead& doc, const std::stop_token& stop) {
    WaveSummary summary;
    summary.FileName = doc.NormFileName;
    summary.FrameCount = std::max(doc.FrameCount, 0);
    summary.Min.assign(static_cast<std::size_t>(summary.FrameCount), std::numeric_limits<std::int32_t>::max());
    summary.Max.assign(static_cast<std::size_t>(summary.FrameCount), std::numeric_limits<std::int32_t>::min());
    RawFile file;
    file.Open(doc.NormFileName, RawFile::Mode::Read);
    std::vector<double> buffer(kChunkSamples);  // a whole number of frames
    std::int64_t sample = 0;
    const std::int64_t total = std::int64_t{summary.FrameCount} * kFrameSamples;
    while (sample < total && !stop.stop_requested()) {
        const auto wanted =
            static_cast<std::size_t>(std::min(total - sample, static_cast<std::int64_t>(kChunkSamples)));
        const std::size_t got = file.Read(buffer.data(), wanted * sizeof(double)) / sizeof(double);
        if (got == 0) {
            break;
        }
        for (std::size_t i = 0; i < got; ++i) {
            const auto frame = static_cast<std::size_t>((sample + static_cast<std::int64_t>(i)) / kFrameSamples);
            const auto value = static_cast<std::int32_t>(std::clamp(RoundEven(buffer[i]), -1.0e9, 1.0e9));
            summary.Min[frame] = std::min(summary.Min[frame], value);
            summary.Max[frame] = std::max(summary.Max[frame], value);
        }
        sample += static_cast<std::int64_t>(got);
    }
    file.Close();
    return summary;
}

bool WaveNeedsSummary(const WavHead& doc, std::int32_t width) {
    return width > 0 && std::int64_t{doc.ViewWidth} >= kSummaryFramesPerColumn * width;
}

std::vector<WaveColumn> WaveColumns(const WavHead& doc, std::int32_t width, const WaveSummary* summary) {
    std::vector<WaveColumn> columns;
    if (doc.NormFileName.empty() || width <= 0 || doc.ViewWidth <= 0) {
        return columns;
    }
    if (summary != nullptr && summary->Describes(doc)) {
        return SummaryColumns(doc, width, *summary);
    }
    columns.resize(static_cast<std::size_t>(width));
    RawFile file;
    file.Open(doc.NormFileName, RawFile::Mode::Read);
    std::int64_t next = WaveSampleAt(doc, 0, width);  // the next sample to read
    file.Seek(std::max<std::int64_t>(next, 0) * static_cast<std::int64_t>(sizeof(double)));
    std::vector<double> chunk(kChunkSamples);
    std::size_t have = 0;  // samples in the chunk
    std::size_t used = 0;  // of them taken
    bool atEnd = false;
    for (std::int32_t x = 1; x < width && !atEnd; ++x) {
        const std::int64_t end = WaveSampleAt(doc, x, width);
        WaveColumn& column = columns[static_cast<std::size_t>(x)];
        std::int32_t low = std::numeric_limits<std::int32_t>::max();
        std::int32_t high = std::numeric_limits<std::int32_t>::min();
        for (; next < end; ++next) {
            if (used == have) {
                have = file.Read(chunk.data(), chunk.size() * sizeof(double)) / sizeof(double);
                used = 0;
                if (have == 0) {
                    atEnd = true;
                    break;
                }
            }
            const auto value = static_cast<std::int32_t>(std::clamp(RoundEven(chunk[used++]), -1.0e9, 1.0e9));
            low = std::min(low, value);
            high = std::max(high, value);
        }
        if (low <= high) {
            column = {true, low, high};
        }
    }
    file.Close();
    return columns;
}

std::int32_t WaveY(std::int32_t value, std::int32_t height, std::int32_t bitsPerSample) {
    const double scale = bitsPerSample == 16 ? 65536.0 : 256.0;
    const auto mid = static_cast<std::int32_t>(RoundToInt(height * 0.5));
    const double y = RoundEven(height * static_cast<double>(value) / scale);
    return static_cast<std::int32_t>(std::clamp(y, -1.0e6, 1.0e6)) + mid;
}

void PaintWaveform(QPainter& painter, const WavHead& doc, std::int32_t width, std::int32_t height,
                   const WaveSummary* summary) {
    if (doc.NormFileName.empty()) {
        return;
    }
    painter.fillRect(0, 0, width, height, kNavy);
    const double divisor = doc.ViewWidth - 1.0;
    const PixelSpan selected =
        SelectionSpan(doc, doc.SelStart - doc.ViewStart, divisor, doc.SelEnd - doc.ViewStart, divisor, width);
    if (!selected.Empty()) {
        painter.fillRect(selected.Left, 0, selected.Right - selected.Left, height, kPurple);
    }
    const std::vector<WaveColumn> columns = WaveColumns(doc, width, summary);
    painter.setPen(QPen(kYellow, 0));
    for (std::size_t x = 1; x < columns.size(); ++x) {
        const WaveColumn& column = columns[x];
        if (!column.Drawn) {
            continue;
        }
        const int px = static_cast<int>(x);
        const std::int32_t top = WaveY(column.Min, height, doc.BitsPerSample);
        const std::int32_t bottom = WaveY(column.Max, height, doc.BitsPerSample);
        if (top == bottom) {
            painter.drawPoint(px, bottom);
        } else {
            painter.drawLine(px, top, px, bottom);
        }
    }
}

std::int32_t WaveformFrameAt(const WavHead& doc, std::int32_t x, std::int32_t width) {
    const double divisor = doc.ViewWidth - 1.0;
    if (divisor == 0.0 || width <= 0) {
        return doc.ViewStart;
    }
    const double frame = RoundEven(x / (width / divisor));
    return static_cast<std::int32_t>(std::clamp(frame, -1.0e9, 1.0e9)) + doc.ViewStart;
}

TWaveformPane::TWaveformPane(IPaneHost& host, TPaintBox& box)
    : m_host(host), m_box(box), m_summaries(std::make_unique<WaveSummaryTask>()) {}

TWaveformPane::~TWaveformPane() = default;

void TWaveformPane::WavDispPaint(QPainter& painter) {
    try {
        const WavHead& doc = m_host.Doc();
        const WaveSummary* summary = nullptr;
        if (!doc.NormFileName.empty() && WaveNeedsSummary(doc, m_box.width())) {
            // Read once per document, at the first view that shows many frames per column, and
            // in the background: until it is there, the box shows no samples.
            summary = m_summaries->For(doc);
            if (summary == nullptr) {
                if (!m_summaries->Failed(doc)) PaintPending(painter, doc);
                return;
            }
        }
        PaintWaveform(painter, doc, m_box.width(), m_box.height(), summary);
    } catch (const std::exception&) {
    }
}

void TWaveformPane::WavDispMouseDown(Qt::MouseButton button, std::int32_t x, std::int32_t /*y*/) {
    SelectFrame(m_host, button == Qt::LeftButton, button == Qt::RightButton,
                WaveformFrameAt(m_host.Doc(), x, m_box.width()));
}

}  // namespace ruvo
