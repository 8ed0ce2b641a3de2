#include "app/DocumentStatus.h"

#include "engine/Rounding.h"
#include "engine/Units.h"

#include <cstdio>
#include <cstdlib>

namespace ruvo {

std::string CaptionText(const WavHead& doc, const std::string& fileName) {
    if (doc.MidiGridFileName.empty()) {
        return "Ruvo";
    }
    return "Ruvo - " + (fileName.empty() ? doc.FileName : fileName) + (doc.Mode == AnalysisMode::Melody ? " (melody mode)" : "");
}

std::string FrameTimeText(std::int32_t frames) {
    // Whole milliseconds first, so that the third decimal is rounded like every other value.
    const std::int64_t millis = RoundToInt(FramesToSeconds(frames) * 1000.0);
    const std::int64_t whole = std::llabs(millis) / 1000;
    const std::int64_t fraction = std::llabs(millis) % 1000;
    char text[40];
    std::snprintf(text, sizeof text, "%s%lld.%03lld", millis < 0 ? "-" : "", static_cast<long long>(whole),
                  static_cast<long long>(fraction));
    return text;
}

std::array<std::string, kWavInfoPanels> StatusPanelTexts(const WavHead& doc) {
    return {"Start: " + FrameTimeText(doc.ViewStart) + " sec",
            "Width: " + FrameTimeText(doc.ViewWidth) + " sec",
            "Total: " + FrameTimeText(doc.FrameCount) + " sec",
            std::to_string(doc.SampleRate) + " samples/sec",
            std::to_string(doc.BitsPerSample) + " bits/sample",
            doc.Channels == 1 ? "Mono" : "Stereo",
            std::string()};
}

}  // namespace ruvo
