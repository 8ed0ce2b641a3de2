#pragma once
// The units every stage shares: the frame (1024 samples at 22050 per second, 46.44 ms), the
// spectrum record and the note index (semitone n above 55 Hz, MIDI key n + 33).

#include <cstdint>

namespace ruvo {

constexpr std::int32_t kNormalRate = 22050;   // samples per second of the normalised stream
constexpr std::int32_t kFrameSamples = 1024;  // samples per frame
constexpr std::int32_t kSpectrumBins = 2048;  // values per spectrum record
constexpr std::int32_t kNoteCount = 72;       // notes 0..71

constexpr std::int32_t NoteToMidiKey(std::int32_t note) { return note + 33; }
constexpr double FramesToSeconds(std::int64_t frames) {
    return static_cast<double>(frames) * kFrameSamples / kNormalRate;
}

}  // namespace ruvo
