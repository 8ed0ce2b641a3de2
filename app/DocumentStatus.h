#pragma once
// The texts that describe the document in the main window's WavInfo panels.

#include "engine/WavHead.h"

#include <array>
#include <cstdint>
#include <string>

namespace ruvo {

constexpr std::size_t kWavInfoPanels = 7;
// Widths of the WavInfo panels in pixels; the last one stays empty.
constexpr std::array<int, kWavInfoPanels> kWavInfoPanelWidths = {120, 120, 130, 130, 130, 90, 130};

// The main window's caption: "Ruvo" without a document, else "Ruvo - " + its file name, and
// " (melody mode)" after it for a document of the melody analysis. `fileName`, when given,
// is shown instead of the record's (an imported document shows the file it came from).
std::string CaptionText(const WavHead& doc, const std::string& fileName = {});
// The panels' widths in a bar `barWidth` pixels wide, when panel i needs needed[i] pixels for
// its text: the widths above (or what a text needs beyond them) when the six panels with a
// text fit; otherwise each gets what
// it needs and the rest of the bar is shared in proportion to what the widths above would
// give them beyond that, so that every text stays readable ("Stereo" too); the empty seventh
// gets nothing then.
std::array<int, kWavInfoPanels> StatusPanelWidths(int barWidth, const std::array<int, kWavInfoPanels>& needed);
// Seconds of `frames` frames (1024 samples at 22050 per second), three decimals: "4.644".
std::string FrameTimeText(std::int32_t frames);
// "Start: …", "Width: …", "Total: … sec", "… samples/sec", "… bits/sample",
// "Mono"/"Stereo", and the empty seventh panel.
std::array<std::string, kWavInfoPanels> StatusPanelTexts(const WavHead& doc);

}  // namespace ruvo
