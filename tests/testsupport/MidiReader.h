#pragma once
// Reads a Standard MIDI File back into chunks and notes, strictly: any malformed length,
// truncated event or unknown status throws std::runtime_error, so a test that parses a file
// also checks that it is well formed.

#include "tests/testsupport/ByteWriter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ruvo::testsupport {

struct MidiNote {
    int Key = 0;
    int Velocity = 0;  // of the note-on
    std::int64_t StartTick = 0;
    std::int64_t EndTick = 0;  // -1 when the track ends with the note still sounding
};

struct MidiFile {
    int Format = 0;
    int Division = 0;           // ticks per quarter note
    std::vector<Bytes> Tracks;  // event bytes of each "MTrk" chunk
};

MidiFile ParseMidi(const Bytes& bytes);
MidiFile ReadMidiFile(const std::string& path);
// Notes of one track in order of their start (then key); note-on with velocity 0 and note-off
// both end a note; running status is honoured; meta and program events are skipped.
std::vector<MidiNote> TrackNotes(const Bytes& track);
// Microseconds per quarter note of the first tempo event in the track, or -1.
std::int64_t TrackTempo(const Bytes& track);

}  // namespace ruvo::testsupport
