#include "panes/BeatLines.h"

#include "engine/Rounding.h"
#include "engine/Units.h"

#include <cmath>

namespace ruvo {

namespace {

constexpr double kSecondsPerFrame = FramesToSeconds(1);

double PixelOf(const BeatView& view, double seconds) {
    const double frame = seconds / kSecondsPerFrame;
    const double shown = view.WholeFrames ? RoundEven(frame) : frame;
    return view.Origin + (shown - view.FirstFrame) * view.PixelsPerFrame;
}

}  // namespace

// From the pixel left of the view, whose line BeatPixels draws at the edge.
double BeatView::FromSeconds() const {
    return (FirstFrame - (Origin + 1.5) / PixelsPerFrame - (WholeFrames ? 0.5 : 0.0)) * kSecondsPerFrame;
}

double BeatView::ToSeconds() const {
    return (FirstFrame + (Width - Origin) / PixelsPerFrame + (WholeFrames ? 0.5 : 0.0)) * kSecondsPerFrame;
}

std::vector<BeatPixel> BeatPixels(std::span<const BeatLine> lines, const BeatView& view) {
    std::vector<BeatPixel> pixels;
    if (view.Width <= 0 || !(view.PixelsPerFrame > 0.0)) {
        return pixels;
    }
    // Spacing is judged on unrounded positions, so that it does not flicker while scrolling.
    const auto tooClose = [&](std::size_t i, std::size_t j) {
        return std::abs(PixelOf(view, lines[i].Seconds) - PixelOf(view, lines[j].Seconds)) < kMinBeatSpacing;
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        // The grid line before the first column lies one pixel left of the view: its line is
        // drawn at the edge.
        double x = PixelOf(view, lines[i].Seconds);
        if (x >= -1.5 && x < -0.5) {
            x = 0.0;
        }
        if (x < -0.5 || x >= view.Width - 0.5) {
            continue;
        }
        const bool crowded = (i > 0 && tooClose(i, i - 1)) || (i + 1 < lines.size() && tooClose(i, i + 1));
        if (!lines[i].Bar && crowded) {
            continue;
        }
        const BeatPixel pixel{static_cast<std::int32_t>(RoundToInt(x)), lines[i].Bar};
        if (!pixels.empty() && pixels.back().X == pixel.X) {
            pixels.back().Bar = pixels.back().Bar || pixel.Bar;
            continue;
        }
        pixels.push_back(pixel);
    }
    return pixels;
}

}  // namespace ruvo
