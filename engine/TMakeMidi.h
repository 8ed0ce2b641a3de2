#pragma once
// TMakeMidi: writes a note table (72 cells per column) as a Standard MIDI File, format 1,
// two tracks, 120 ticks per quarter note, one column = 15 ticks = one analysis frame.
// Plain value object; keeps nothing between calls but its options.

#include "engine/WavHead.h"

#include <cstdint>
#include <span>
#include <string>

namespace ruvo {

constexpr std::int32_t kTicksPerColumn = 15;
constexpr std::int32_t kMidiHeadBytes = 58;
constexpr std::int32_t kMidiWorkBytes = 80001;
constexpr std::int32_t kMidiWorkLimit = 79500;
constexpr std::int32_t kMidiToUserFile = 1;  // ConvMidi mode: write Head.MidiFileName
constexpr std::int32_t kMidiToTempFile = 2;  // ConvMidi mode: write a new "mit" work file

class TMakeMidi {
public:
    // Converts columns startCol .. endCol-1 of head.NoteIntenFileName. Failure empties midiName,
    // shows its message and writes no file.
    void ConvMidi(std::int32_t mode, WavHead head, std::int32_t startCol, std::int32_t endCol, std::string& midiName);
    // The variable-length quantity of `value` into buf; returns the number of bytes.
    static std::int32_t PutDeltaTime(std::int32_t value, std::span<std::uint8_t, 11> buf);

    // Off (the default): the first note starts at tick 0. On: it starts at its own column.
    void SetKeepLeadingSilence(bool keep) { m_keepLeadingSilence = keep; }
    bool KeepLeadingSilence() const { return m_keepLeadingSilence; }

private:
    bool m_keepLeadingSilence = false;
};

}  // namespace ruvo
