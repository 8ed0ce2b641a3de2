#pragma once
// The overview strip `SelectRgn`: the whole recording, the selected frames in green and the
// frames visible in the note grid between fuchsia lines. A left click sets the start of the
// selection, a right click its end. The picture is worked out without widgets;
// TSelectionPane holds the box's handlers. UI thread.

#include "engine/WavHead.h"
#include "panes/ViewSpan.h"

#include <Qt>

#include <cstdint>

class QPainter;

namespace ruvo {

class IPaneHost;
class TPaintBox;

// Pixels per frame: width / (FrameCount - 1); the whole width for a document of one frame.
double OverviewScale(const WavHead& doc, std::int32_t width);

// The selected span, Round(SelStart x s) .. Round(SelEnd x s).
PixelSpan OverviewSelection(const WavHead& doc, std::int32_t width);

// The displayed-area marker's two vertical lines, Round(ViewStart x s) and
// Round((ViewStart + ViewWidth) x s), each kept at width - 2 at most.
PixelSpan OverviewViewMarker(const WavHead& doc, std::int32_t width);

// The whole picture of the box (nothing without a sample file).
void PaintOverview(QPainter& painter, const WavHead& doc, std::int32_t width, std::int32_t height);

// The frame under pixel x: Round(x / (width / (FrameCount - 1))); 0 when there is at most one
// frame (or the box has no width).
std::int32_t OverviewFrameAt(const WavHead& doc, std::int32_t x, std::int32_t width);

class TSelectionPane {
public:
    TSelectionPane(IPaneHost& host, TPaintBox& box);

    void SelectRgnPaint(QPainter& painter);
    void SelectRgnMouseDown(Qt::MouseButton button, std::int32_t x, std::int32_t y);

private:
    IPaneHost& m_host;
    TPaintBox& m_box;
};

}  // namespace ruvo
