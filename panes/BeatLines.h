#pragma once
// Bar and beat lines over a pane that shows frames side by side (the note grid, the time
// scale): which pixels of a view get a line for a list of beats, bars before beats. No
// widgets; the painter beside it (BeatLinePainter) draws what this chooses.

#include <cstdint>
#include <span>
#include <vector>

namespace ruvo {

// One beat in the recording's time; Bar when it starts a bar.
struct BeatLine {
    double Seconds = 0.0;
    bool Bar = false;
};

// How a pane maps frames to its pixels: frame FirstFrame begins at pixel Origin, each frame
// is PixelsPerFrame wide, and pixels 0 .. Width - 1 are in view.
struct BeatView {
    double FirstFrame = 0.0;
    double Origin = 0.0;
    double PixelsPerFrame = 1.0;
    std::int32_t Width = 0;
    // A line stands at the frame boundary nearest its beat (the grid's line between two
    // columns), not within a frame.
    bool WholeFrames = false;

    // The span of the recording's time whose beats may get a line in the view.
    double FromSeconds() const;
    double ToSeconds() const;
};

struct BeatPixel {
    std::int32_t X = 0;
    bool Bar = false;
    friend bool operator==(const BeatPixel&, const BeatPixel&) = default;
};

// Beat lines closer than this to a neighbouring beat are left out, so that a zoomed-out view
// shows its bars instead of a wash of lines; bar lines always stay.
constexpr std::int32_t kMinBeatSpacing = 4;

// The pixels that get a line, left to right, one line per pixel (a bar wins over a beat on
// the same pixel). `lines` in increasing time; those outside the view are ignored, except that
// a line within a pixel left of it is drawn at its edge.
std::vector<BeatPixel> BeatPixels(std::span<const BeatLine> lines, const BeatView& view);

}  // namespace ruvo
