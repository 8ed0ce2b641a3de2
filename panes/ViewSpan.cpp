#include "panes/ViewSpan.h"

#include "engine/Rounding.h"

#include <algorithm>

namespace ruvo {

std::int32_t FrameX(double frames, double divisor, std::int32_t width) {
    const double x = RoundEven(frames / divisor * width);
    return static_cast<std::int32_t>(std::clamp(x, -1.0, static_cast<double>(width) + 1.0));
}

PixelSpan SelectionSpan(const WavHead& doc, double first, double firstDivisor, double last, double lastDivisor,
                        std::int32_t width) {
    if (firstDivisor == 0.0 || lastDivisor == 0.0) {
        const bool selected = doc.SelStart <= doc.ViewStart && doc.ViewStart <= doc.SelEnd;
        return selected ? PixelSpan{0, width} : PixelSpan{};
    }
    return {FrameX(first, firstDivisor, width), FrameX(last, lastDivisor, width)};
}

}  // namespace ruvo
