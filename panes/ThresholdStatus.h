#pragma once
// What the status bar says while the pointer is over the threshold strip: the margin at the
// pointer's height, and during a drag the margin the release will set over the selection.
// No widgets.

#include <cstdint>
#include <string>

namespace ruvo {

struct WavHead;

// "Margin 0.250 at the pointer", or during a drag "Margin 0.250 to be set on frames 10-40";
// empty when the document has no threshold file.
std::string ThresholdStatusText(const WavHead& doc, std::int32_t y, std::int32_t height, bool dragging);

}  // namespace ruvo
