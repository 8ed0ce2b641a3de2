#pragma once
// Quantiser: puts a melody's notes on note values once its beat is known: onsets and ends on
// the sixteenth grid, or on eighth triplets in a beat whose onsets fit those clearly better;
// a note let go a little before an eighth or a beat may end on a thirty-second where a dotted
// sixteenth or a double-dotted eighth ends it; the notes of a chord share one start and one
// length. Plain value; any one thread.

#include "score/Score.h"
#include "score/TempoTracker.h"

#include <vector>

namespace ruvo {

class Quantiser {
public:
    // `notes` sorted by onset; `groupOf[i]` is the onset group (chord) of note i, counting
    // from 0 in time order; `velocities` one per note; `beats` comes from the tracker with one
    // entry per group.
    std::vector<ScoreNote> Quantise(const std::vector<TimedNote>& notes, const std::vector<std::size_t>& groupOf,
                                    const std::vector<std::int32_t>& velocities, const TrackedBeats& beats) const;
};

}  // namespace ruvo
