#pragma once
// The channel messages of a Standard MIDI File (format 0 or 1, ticks per quarter) in the order
// they play, each at its time in seconds under the file's tempo changes, for a player that
// sends them to a MIDI output itself. Meta and system-exclusive events are left out.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ruvo {

struct TimedMidiMessage {
    double Seconds = 0.0;
    std::uint32_t Message = 0;  // status in the low byte, then the two data bytes
};

// False with `error` when the file cannot be read or is not such a MIDI file.
bool ReadMidiFileEvents(const std::filesystem::path& path, std::vector<TimedMidiMessage>& events, std::string& error);

}  // namespace ruvo
