#include "panes/PlayheadPosition.h"

#include "engine/Rounding.h"
#include "engine/Units.h"
#include "engine/WavHead.h"

#include <algorithm>

namespace ruvo {

double HeardFrame(std::int32_t firstFrame, double seconds) { return firstFrame + seconds / FramesToSeconds(1); }

int WaveformX(const WavHead& doc, double frame, int width) {
    const double divisor = doc.ViewWidth - 1.0;
    if (divisor <= 0.0 || width <= 0) {
        return 0;
    }
    const double x = (frame - doc.ViewStart) * (width / divisor);
    return static_cast<int>(RoundToInt(std::clamp(x, -1.0e6, 1.0e6)));
}

}  // namespace ruvo
