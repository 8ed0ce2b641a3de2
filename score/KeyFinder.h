#pragma once
// KeyFinder: the key signature of a melody. The signature is the major scale whose seven pitch
// classes hold most of the notes, each note weighed by the square root of its length (scales
// that hold as much within the lengths' measuring error are tied, and the key profiles choose
// among them); its major or relative minor is the one whose key profile correlates better with
// the pitch-class durations. Plain value; any one thread.

#include "score/Score.h"

#include <array>
#include <vector>

namespace ruvo {

class KeyFinder {
public:
    KeySignature Find(const std::vector<TimedNote>& notes) const;

    // Seconds of sounding notes per pitch class (0 = C).
    static std::array<double, 12> PitchClassDurations(const std::vector<TimedNote>& notes);
};

}  // namespace ruvo
