#pragma once
// ScoreMidiWriter: a score as a Standard MIDI File in musical time: format 1, 480 ticks per
// quarter; a conductor track with the title, time and key signatures and the tempo map; one
// note track with its name, program and the notes. Plain value; any one thread.

#include "score/Score.h"

#include <string>

namespace ruvo {

class ScoreMidiWriter {
public:
    // The file's bytes.
    std::string Bytes(const Score& score) const;
};

// The first tick a writer puts down: bar 1's downbeat, or the start of the bar holding a note
// placed before it.
std::int64_t ScoreOriginTick(const Score& score);

}  // namespace ruvo
