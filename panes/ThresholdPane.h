#pragma once
// The threshold strip `ThreadValue`: the note stage's per-frame threshold margin over the
// visible frames, the full height standing for the document's peak note value. A press and
// drag over the selection draws a line; the release sets the margin of every selected frame
// from the line's height and re-runs the note stage. The picture and the formulas need no
// widgets; TThresholdPane holds the box's handlers and the drag. UI thread.

#include "engine/WavHead.h"
#include "panes/ViewSpan.h"

#include <Qt>

#include <cstdint>

class QPainter;

namespace ruvo {

class IPaneHost;
class TPaintBox;

// The height at which margin m is drawn: Round(H - (m - 0.000001) x H / (peak - 0.000001)),
// so the peak lies at the top edge and 0 at the bottom one.
std::int32_t ThresholdY(double margin, std::int32_t height, double peak);
// The margin a release at height y sets: (peak - 0.000001) x (H - y) / H + 0.000001. Not
// held within the strip: above it the margin exceeds the peak, below it it is negative.
double ThresholdMargin(std::int32_t y, std::int32_t height, double peak);

// The selected span of the paint and of a move: Round((SelStart - ViewStart) /
// (ViewWidth - 1) x W) .. Round((SelEnd + 1 - ViewStart) / ViewWidth x W).
PixelSpan ThresholdPaintSpan(const WavHead& doc, std::int32_t width);
// The span a press highlights: Round((SelStart - ViewStart) / ViewWidth x W) ..
// Round((SelEnd - ViewStart) / ViewWidth x W).
PixelSpan ThresholdPressSpan(const WavHead& doc, std::int32_t width);

// Maroon, the selection blue, one white segment per visible frame at its margin (nothing
// without a threshold file). Throws FileIoError.
void PaintThreshold(QPainter& painter, const WavHead& doc, std::int32_t width, std::int32_t height);

// What a press and the moves after it have drawn over the strip until it is next refreshed:
// yellow spans with a black line across each.
struct ThresholdOverlay {
    bool Pressed = false;
    PixelSpan PressSpan;
    std::int32_t PressY = 0;
    bool Moved = false;
    PixelSpan MoveSpan;
    std::int32_t MoveY = 0;
};
void PaintThresholdOverlay(QPainter& painter, const ThresholdOverlay& overlay, std::int32_t height);

class TThresholdPane {
public:
    TThresholdPane(IPaneHost& host, TPaintBox& box);

    void ThreadValuePaint(QPainter& painter);
    void ThreadValueMouseDown(Qt::MouseButton button, std::int32_t x, std::int32_t y);
    void ThreadValueMouseMove(std::int32_t x, std::int32_t y);
    // Rewrites the threshold file over the selected frames, then re-runs the note stage.
    void ThreadValueMouseUp(Qt::MouseButton button, std::int32_t x, std::int32_t y);
    // Ends a drag in progress without setting anything, and drops its drawing.
    void EndDrag();
    // A refresh repaints the strip from the file: the drawing of a press goes.
    void Refreshed();

    std::int32_t ThresholdDrag() const { return m_thresholdDrag; }
    const ThresholdOverlay& Overlay() const { return m_overlay; }

private:
    IPaneHost& m_host;
    TPaintBox& m_box;
    std::int32_t m_thresholdDrag = 0;
    ThresholdOverlay m_overlay;
};

}  // namespace ruvo
