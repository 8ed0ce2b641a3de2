#include "app/DocumentStatus.h"

#include "engine/Rounding.h"
#include "engine/Units.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace ruvo {

std::string CaptionText(const WavHead& doc, const std::string& fileName) {
    if (doc.MidiGridFileName.empty()) {
        return "Ruvo";
    }
    return "Ruvo - " + (fileName.empty() ? doc.FileName : fileName) +
           (doc.Mode == AnalysisMode::Melody   ? " (melody mode)"
            : doc.Mode == AnalysisMode::Chords ? " (chords mode)"
                                               : "");
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

std::array<int, kWavInfoPanels> StatusPanelWidths(int barWidth, const std::array<int, kWavInfoPanels>& needed) {
    constexpr std::size_t kTextPanels = kWavInfoPanels - 1;
    int textWidth = 0;
    int neededWidth = 0;
    int spare = 0;  // what the text's widths give beyond the needs
    std::array<int, kWavInfoPanels> beyond{};
    std::array<int, kWavInfoPanels> full = kWavInfoPanelWidths;
    for (std::size_t i = 0; i < kTextPanels; ++i) {
        full[i] = std::max(kWavInfoPanelWidths[i], needed[i]);
        textWidth += full[i];
        neededWidth += needed[i];
        beyond[i] = full[i] - needed[i];
        spare += beyond[i];
    }
    if (barWidth >= textWidth) {
        return full;
    }
    const int rest = std::max(barWidth - neededWidth, 0);
    std::array<int, kWavInfoPanels> widths{};
    int given = 0;
    int left = 0;
    for (std::size_t i = 0; i < kTextPanels; ++i) {
        given += beyond[i];
        // Cumulative rounding: the shares add up to the rest exactly.
        const int right = spare == 0 ? 0 : static_cast<int>(RoundToInt(static_cast<double>(given) * rest / spare));
        widths[i] = needed[i] + right - left;
        left = right;
    }
    return widths;
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
