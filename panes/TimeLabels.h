#pragma once
// The seconds written along the time scale: a label every half second, second, 2, 5, 10, 30 s
// or minute, the finest step that keeps labels at least kMinLabelPitch pixels apart. Painting
// against the scale's width only; no widgets.

#include <cstdint>
#include <string>
#include <vector>

namespace ruvo {

constexpr int kMinLabelPitch = 44;  // pixels between two labels' left ends

struct TimeLabel {
    int X = 0;          // pixels from the scale's left end: where the second falls
    std::string Text;   // "1.5 s", "12 s", "1:30"
};

// The labels for a scale `pixelWidth` wide that shows `viewWidth` frames from `viewStart`.
std::vector<TimeLabel> SecondLabels(std::int32_t viewStart, std::int32_t viewWidth, int pixelWidth);

}  // namespace ruvo
