#pragma once
// Where the playhead stands: the frame being heard, from the first frame played and the
// seconds heard since, and its pixel in the waveform (the inverse of WaveformFrameAt). No
// widgets.

#include <cstdint>

namespace ruvo {

struct WavHead;

// Frames (fractional) from frame 0: `firstFrame` plus `seconds` at 1024 samples per frame.
double HeardFrame(std::int32_t firstFrame, double seconds);
// The waveform's pixel of `frame` for a box `width` wide; outside 0 .. width - 1 when the
// frame is out of view.
int WaveformX(const WavHead& doc, double frame, int width);

}  // namespace ruvo
