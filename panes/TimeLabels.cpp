#include "panes/TimeLabels.h"

#include "engine/Rounding.h"
#include "engine/Units.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace ruvo {
namespace {

constexpr std::array<double, 9> kSteps{0.5, 1.0, 2.0, 5.0, 10.0, 30.0, 60.0, 300.0, 600.0};  // seconds

std::string SecondsText(double seconds) {
    char text[32];
    const long long whole = static_cast<long long>(seconds);
    if (seconds >= 60.0) {
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    } else if (seconds != static_cast<double>(whole)) {
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    } else {
        std::snprintf(text, sizeof text, "%lld s", whole);
    }
    return text;
}

}  // namespace

std::vector<TimeLabel> SecondLabels(std::int32_t viewStart, std::int32_t viewWidth, int pixelWidth) {
    std::vector<TimeLabel> labels;
    if (viewWidth < 1 || pixelWidth < 1) {
        return labels;
    }
    const double pixelsPerSecond = pixelWidth / FramesToSeconds(viewWidth);
    double step = kSteps.back();
    for (double candidate : kSteps) {
        if (candidate * pixelsPerSecond >= kMinLabelPitch) {
            step = candidate;
            break;
        }
    }
    const double first = FramesToSeconds(viewStart);
    const double last = FramesToSeconds(static_cast<std::int64_t>(viewStart) + viewWidth);
    for (double t = std::ceil(first / step) * step; t <= last; t += step) {
        const auto x = static_cast<int>(RoundToInt((t - first) * pixelsPerSecond));
        if (x < pixelWidth) {
            labels.push_back({x, SecondsText(t)});
        }
    }
    return labels;
}

}  // namespace ruvo
