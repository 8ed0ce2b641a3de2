#pragma once
// Where the notes of the melody analysis begin and end against the recording. The tracker
// works on whole frames and takes a note up late (its voicing has to build up) and lets it
// go late (a release or reverberation keeps the pitch audible); the energy of the samples in
// blocks of a quarter frame shows where the sound of each note really rose and fell.

#include "engine/Units.h"

#include <cstdint>
#include <span>
#include <vector>

namespace ruvo {

constexpr std::int32_t kEnergyBlocksPerFrame = 4;  // blocks of 256 samples per frame

struct MelodyNote {
    std::int32_t Note = 0;   // 0..71
    std::int32_t First = 0;  // first frame
    std::int32_t End = 0;    // frame after the last
};

// The notes of a track (one state per frame: note 0..71 or -1): its runs of one note.
std::vector<MelodyNote> NotesOfTrack(std::span<const std::int8_t> track);

// Writes notes (in time order, not overlapping) back into a track of -1: a note that runs into
// the next one of the same pitch gives up its last frame so that two notes are seen, and a
// note left shorter than minFrames is dropped.
void DrawNotes(std::span<const MelodyNote> notes, std::int32_t minFrames, std::span<std::int8_t> track);

// Carries the end of each note on over the frames that follow it while their clearest note
// (per frame: a note, or -1) is still this one and the level does not rise again in them or
// in the frame after them (where the search for the stop looks too), up to a
// frame before the next note; the search for where its sound stops then covers its decay.
// energy: kEnergyBlocksPerFrame block energies in dB per frame.
void ExtendDecays(std::vector<MelodyNote>& notes, std::span<const std::int8_t> clearNote,
                  std::span<const float> energy);

// How far the level of held notes wavers within a frame, in dB, over the frames inside the
// notes (the measure that tells a dip between repeated notes from a beat): a fraction of a dB
// for one voice or instrument, 1.5 or more for voices that beat against each other.
// energy: kEnergyBlocksPerFrame block energies in dB per frame.
double HeldLevelWaver(std::span<const float> energy, std::span<const MelodyNote> notes);

// What the recording shows of each frame.
struct FrameEvidence {
    std::span<const float> Energy;         // kEnergyBlocksPerFrame block energies in dB per frame
    std::span<const std::uint8_t> Onsets;  // per frame: 1 where the recording has an attack
    std::span<const std::int8_t> Loudest;  // per frame: the note of the most salience, or -1
    // Per frame: the note the tracker holds (or -1), and its salience in dB. Empty where the
    // note's own level is not known; the level of the whole recording then decides alone.
    std::span<const std::int8_t> Held;
    std::span<const float> HeldLevel;
};

// Moves each note's start to the attack of its sound and the end of a note that falls silent
// to where its own sound stopped: where the level fell and the note's own salience fell with
// it (an accompaniment or an older note that stops under it ends nothing). Notes of one pitch
// that follow each other become one unless the level dipped between them by an attack's step
// and further than held notes waver (voices that beat against each other dip without a new
// attack); a change of pitch without a break moves back to an attack only after such a dip.
// Notes keep minFrames.
void PlaceNoteEdges(std::vector<MelodyNote>& notes, const FrameEvidence& evidence, std::int32_t minFrames);

// Frame whose start lies nearest to the middle of block k of 256 samples.
constexpr std::int64_t EnergyBlockToFrame(std::int64_t block) { return (2 * block + 5) / 8; }

}  // namespace ruvo
