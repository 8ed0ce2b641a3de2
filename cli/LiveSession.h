#pragma once
// The converter's live mode: samples from standard input (raw 16-bit mono at 22050 per second)
// or from a sound input go through the live melody analysis while they arrive; each note is
// printed as "onset offset pitch-name" once it has ended, and at the end of the input or on
// Ctrl-C the notes of the session become the -o MIDI file. One thread.

namespace ruvo {

struct ConvertOptions;

// The exit status: 0 when the session ended well (also by Ctrl-C), 1 on failure (said on
// standard error; no MIDI file written).
int RunLive(const ConvertOptions& options);

}  // namespace ruvo
