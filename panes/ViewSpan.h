#pragma once
// Pixel positions of frames on the strips that show the visible frames (waveform, threshold,
// harmonics): spans of the selection drawn with the strips' own divisors. No widgets.

#include "engine/WavHead.h"

#include <cstdint>

namespace ruvo {

// Pixels Left .. Right - 1; empty when Right <= Left (a reversed selection draws nothing).
struct PixelSpan {
    std::int32_t Left = 0;
    std::int32_t Right = 0;
    bool Empty() const { return Right <= Left; }
    bool operator==(const PixelSpan&) const = default;
};

// Round(frames / divisor x width), held within [-1, width + 1] so that frames far outside the
// view stay representable. The divisor must not be 0.
std::int32_t FrameX(double frames, double divisor, std::int32_t width);

// The span from Round(first / firstDivisor x width) to Round(last / lastDivisor x width).
// A zero divisor comes from a view of one frame: the span is then the whole width when that
// frame lies in the selection SelStart .. SelEnd, else empty.
PixelSpan SelectionSpan(const WavHead& doc, double first, double firstDivisor, double last, double lastDivisor,
                        std::int32_t width);

}  // namespace ruvo
