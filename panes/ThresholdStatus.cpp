#include "panes/ThresholdStatus.h"

#include "engine/WavHead.h"
#include "panes/ThresholdPane.h"

#include <cstdio>

namespace ruvo {

std::string ThresholdStatusText(const WavHead& doc, std::int32_t y, std::int32_t height, bool dragging) {
    if (doc.ThresholdFileName.empty() || height < 1) {
        return {};
    }
    const double margin = ThresholdMargin(y, height, doc.PeakNoteValue);
    char text[96];
    if (dragging) {
        std::snprintf(text, sizeof text, "Margin %.3f to be set on frames %d-%d", margin, doc.SelStart, doc.SelEnd);
    } else {
        std::snprintf(text, sizeof text, "Margin %.3f at the pointer", margin);
    }
    return text;
}

}  // namespace ruvo
