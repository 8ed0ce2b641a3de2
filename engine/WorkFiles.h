#pragma once
// Deleting the work files that a document record names.

#include "engine/WavHead.h"

#include <string>
#include <vector>

namespace ruvo {

// The work file names of rec (not FileName, not MidiFileName), in deletion order.
std::vector<std::string> WorkFileNames(const WavHead& rec);
// Deletes and clears every work file rec names. The WAV file is deleted too when
// `wavIsWorkFile` (a recording made by the player). Failures are ignored.
void DeleteWorkFiles(WavHead& rec, bool wavIsWorkFile = false);
// Deletes the work files that `run` names and `keep` does not: what an aborted run made.
void DeleteRunFiles(const WavHead& run, const WavHead& keep);

}  // namespace ruvo
