#pragma once
// The waveform view `WavDisp`: the samples of the frames visible in the note grid, one
// vertical line from the minimum to the maximum per pixel column, the selected part purple.
// A left click sets the start of the selection, a right click its end. The picture is worked
// out without widgets (tests paint into an image); TWaveformPane holds the box's handlers.
// UI thread.

#include "engine/WavHead.h"

#include <Qt>

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

class QPainter;

namespace ruvo {

class IPaneHost;
class TPaintBox;
class WaveSummaryTask;

// The samples one pixel column covers, each rounded to an integer first.
struct WaveColumn {
    bool Drawn = false;  // column 0 and columns without samples are not drawn
    std::int32_t Min = 0;
    std::int32_t Max = 0;
};

// The first sample (at 22050 per second) of pixel column x + 1 of a box `width` wide, that
// is the right edge of column x: ViewStart x 1024 + floor(x x ViewWidth x 1024 / width).
std::int64_t WaveSampleAt(const WavHead& doc, std::int32_t x, std::int32_t width);

// The minimum and maximum of the rounded samples of every frame of doc's sample file. With it
// a view of many frames per pixel column reads only the parts of frames at the columns'
// edges: the same picture at a cost that no longer grows with the visible frames.
struct WaveSummary {
    std::string FileName;
    std::int32_t FrameCount = 0;
    std::vector<std::int32_t> Min;  // per frame; Min > Max for a frame without samples
    std::vector<std::int32_t> Max;

    // Reads the whole sample file once; a stop request ends the reading early (the summary is
    // then incomplete). Throws FileIoError.
    static WaveSummary Build(const WavHead& doc, const std::stop_token& stop = {});
    bool Describes(const WavHead& doc) const { return FileName == doc.NormFileName && FrameCount == doc.FrameCount; }
};

// Whether a box `width` wide shows so many frames per column that the summary pays.
bool WaveNeedsSummary(const WavHead& doc, std::int32_t width);

// Minimum and maximum of every pixel column of a box `width` wide, read from doc's
// normalised sample file from the first visible frame on (it seeks there: the cost follows
// the visible frames only), or from `summary` and the columns' edges when given. Empty
// without a sample file. Throws FileIoError.
std::vector<WaveColumn> WaveColumns(const WavHead& doc, std::int32_t width, const WaveSummary* summary = nullptr);

// The height in the box of a sample value: full scale of an 8- or 16-bit source spans the
// box, positive values below the centre line.
std::int32_t WaveY(std::int32_t value, std::int32_t height, std::int32_t bitsPerSample);

// The whole picture of the box (nothing without a sample file). Throws FileIoError.
void PaintWaveform(QPainter& painter, const WavHead& doc, std::int32_t width, std::int32_t height,
                   const WaveSummary* summary = nullptr);

// The frame under pixel x: Round(x / (width / (ViewWidth - 1))) + ViewStart; ViewStart for
// a view of one frame (or a box without width).
std::int32_t WaveformFrameAt(const WavHead& doc, std::int32_t x, std::int32_t width);

class TWaveformPane {
public:
    TWaveformPane(IPaneHost& host, TPaintBox& box);
    ~TWaveformPane();
    TWaveformPane(const TWaveformPane&) = delete;
    TWaveformPane& operator=(const TWaveformPane&) = delete;

    // A file error while painting leaves the picture unfinished: painting cannot report it,
    // and the next refresh that reads the file does.
    void WavDispPaint(QPainter& painter);
    void WavDispMouseDown(Qt::MouseButton button, std::int32_t x, std::int32_t y);

private:
    // The box while the summary is built, and a repaint shortly after (WaveSummaryTask.cpp).
    void PaintPending(QPainter& painter, const WavHead& doc);

    IPaneHost& m_host;
    TPaintBox& m_box;
    std::unique_ptr<WaveSummaryTask> m_summaries;  // of the document last shown zoomed out
};

}  // namespace ruvo
