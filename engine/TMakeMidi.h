#pragma once
// TMakeMidi: writes a note table (72 cells per column) as a Standard MIDI File, format 1,
// two tracks, 120 ticks per quarter note, one column = 15 ticks = one analysis frame.
// Plain value object; keeps nothing between calls but its options.

#include "engine/Units.h"
#include "engine/WavHead.h"

#include <cstdint>
#include <span>
#include <string>

namespace ruvo {

constexpr std::int32_t kTicksPerColumn = 15;
constexpr std::int32_t kMidiHeadBytes = 58;
// The second track grows as it needs; its length field has 32 bits, so a track that could
// pass 4 GiB with the last column's note-offs and the end of track cannot be written.
constexpr std::uint32_t kMidiTrackTail = 3 + 4 + kNoteCount * 7;  // program change, end, note-offs
constexpr std::uint64_t kMidiTrackLimit = 0xFFFFFFFFULL - kMidiTrackTail;
constexpr std::int32_t kMidiToUserFile = 1;  // ConvMidi mode: write Head.MidiFileName
constexpr std::int32_t kMidiToTempFile = 2;  // ConvMidi mode: write a new "mit" work file

class TMakeMidi {
public:
    // Converts columns startCol .. endCol-1 of head.NoteIntenFileName. Failure empties midiName,
    // shows its message and writes no file. The leading silence is kept when head asks for it
    // or the writer was set so.
    void ConvMidi(std::int32_t mode, WavHead head, std::int32_t startCol, std::int32_t endCol, std::string& midiName);
    // The variable-length quantity of `value` into buf; returns the number of bytes.
    static std::int32_t PutDeltaTime(std::int32_t value, std::span<std::uint8_t, 11> buf);

    // Off (the default): the first note starts at tick 0, unless the record keeps the leading
    // silence. On: it starts at its own column.
    void SetKeepLeadingSilence(bool keep) { m_keepLeadingSilence = keep; }
    bool KeepLeadingSilence() const { return m_keepLeadingSilence; }
    // Notes started in the file the last ConvMidi wrote (0 after a failure).
    std::int64_t NotesWritten() const { return m_notesWritten; }

private:
    bool m_keepLeadingSilence = false;
    std::int64_t m_notesWritten = 0;
};

}  // namespace ruvo
