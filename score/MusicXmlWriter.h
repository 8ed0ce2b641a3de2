#pragma once
// MusicXmlWriter: a score as a MusicXML 3.1 score-partwise document: one part with its
// instrument, measures of the time signature, notes tied across bar lines and written in
// values grouped by the beat, key and time signatures, a metronome mark with its sound tempo at
// every tempo change. Plain value; any one thread.

#include "score/Score.h"

#include <string>

namespace ruvo {

class MusicXmlWriter {
public:
    // The document's text.
    std::string Text(const Score& score) const;
};

}  // namespace ruvo
