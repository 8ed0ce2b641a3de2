#include "engine/MelodyEdges.h"

#include <algorithm>
#include <cstdlib>
#include <cstddef>
#include <limits>

namespace ruvo {
namespace {

constexpr std::int64_t kBlocks = kEnergyBlocksPerFrame;
// A block whose energy moves by more than 1 dB from the one before (86 dB per second) is part
// of an attack or a release; steadier blocks are the sound before or after it.
constexpr double kSlopeDb = 1.0;
// An attack lifts the level by at least 6 dB within four blocks; a note has stopped where its
// level falls by 6 dB within four blocks and never comes back to within 6 dB of it.
constexpr double kStepDb = 6.0;
constexpr std::int64_t kStepBlocks = 4;
// A note's own salience that stays within 3 dB over a fall of the level has not stopped.
constexpr double kSoundsOnDb = 3.0;
// The tracker takes a note up at most 4 frames after its attack began, and can take it up one
// frame early when the attack lies late in that frame.
constexpr std::int32_t kAttackReach = 4;
constexpr std::int32_t kAttackEarly = 1;
constexpr std::int32_t kScoopSemitones = 2;
// A beat of voices dips by up to about six times the span that it gives a frame's blocks
// around their straight line.
constexpr double kWaverDips = 6.0;

class BlockEnergy {
public:
    explicit BlockEnergy(std::span<const float> energy) : m_energy(energy) {}
    std::int64_t Count() const { return static_cast<std::int64_t>(m_energy.size()); }
    // Blocks outside the recording read as its first or last.
    double operator()(std::int64_t k) const {
        if (m_energy.empty()) return 0.0;
        return m_energy[static_cast<std::size_t>(std::clamp<std::int64_t>(k, 0, Count() - 1))];
    }

private:
    std::span<const float> m_energy;
};

// The first block of the attack within blocks [lo, hi): the steepest rise, followed back as
// long as the blocks before it rose too. -1 when nothing there rises by an attack's step.
std::int64_t AttackBlock(const BlockEnergy& e, std::int64_t lo, std::int64_t hi) {
    std::int64_t steepest = -1;
    double best = -std::numeric_limits<double>::infinity();
    for (std::int64_t k = std::max<std::int64_t>(lo, 1); k < hi; ++k) {
        const double rise = e(k) - e(k - 1);
        if (rise > best) {
            best = rise;
            steepest = k;
        }
    }
    if (steepest < 0 || best <= kSlopeDb) return -1;
    std::int64_t first = steepest;
    while (first > lo && e(first - 1) - e(first - 2) > kSlopeDb) --first;
    double top = e(steepest);
    for (std::int64_t k = steepest + 1; k < steepest + kStepBlocks; ++k) top = std::max(top, e(k));
    return top - e(first - 1) >= kStepDb ? first : -1;
}

// The first block of the fall after which the level stays 6 dB below the block before it,
// within blocks [lo, hi); -1 when the sound does not stop there.
std::int64_t StopBlock(const BlockEnergy& e, std::int64_t lo, std::int64_t hi, std::vector<double>& after) {
    if (hi - lo <= kStepBlocks) return -1;
    // after[k - lo]: the loudest block from k to the end of the range.
    after.assign(static_cast<std::size_t>(hi - lo), 0.0);
    double loudest = -std::numeric_limits<double>::infinity();
    for (std::int64_t k = hi; k-- > lo;) {
        loudest = std::max(loudest, e(k));
        after[static_cast<std::size_t>(k - lo)] = loudest;
    }
    for (std::int64_t k = lo + 1; k + kStepBlocks - 1 < hi; ++k) {
        if (e(k - 1) - after[static_cast<std::size_t>(k + kStepBlocks - 1 - lo)] < kStepDb) continue;
        // The level falls somewhere in the next four blocks: find where, then follow the fall
        // back to its beginning.
        std::int64_t first = k;
        while (first < k + kStepBlocks - 1 && e(first - 1) - e(first) <= kSlopeDb) ++first;
        while (first > lo + 1 && e(first - 2) - e(first - 1) > kSlopeDb) --first;
        return first;
    }
    return -1;
}

// How far the level of held notes wavers within a frame: the median, over the frames inside
// the notes (their first two and last frames aside), of the span of the frame's block
// energies around the straight line from its first block to its last (a decay is no waver).
// A steady or decaying tone wavers by a fraction of a dB; voices that beat against each other
// (a choir, an ensemble) by two or more, and their dips are no new attacks.
// joinRepeats: notes of one pitch that follow each other within a frame count as one held note.
double LevelWaver(const BlockEnergy& e, std::span<const MelodyNote> notes, std::vector<double>& spans,
                  bool joinRepeats = false) {
    spans.clear();
    for (std::size_t i = 0; i < notes.size();) {
        MelodyNote note = notes[i];
        for (++i; joinRepeats && i < notes.size() && notes[i].Note == note.Note && notes[i].First <= note.End + 1;
             ++i) {
            note.End = std::max(note.End, notes[i].End);
        }
        for (std::int32_t f = note.First + 2; f + 1 < note.End; ++f) {
            const std::int64_t k = kBlocks * f;
            const double slope = (e(k + 3) - e(k)) / 3.0;
            const auto [lo, hi] = std::minmax({0.0, e(k + 1) - e(k) - slope, e(k + 2) - e(k) - 2.0 * slope});
            spans.push_back(hi - lo);
        }
    }
    if (spans.empty()) return 0.0;
    const auto middle = spans.begin() + static_cast<std::ptrdiff_t>(spans.size() / 2);
    std::nth_element(spans.begin(), middle, spans.end());
    return *middle;
}

// How far the level of a recording's held notes wavers. Where no note has frames inside it (the
// level swings by an attack's step at every beat, and the attacks cut held notes into pieces of a
// frame or two), its repeats are joined, so that the recording does not read as steady for want
// of frames to measure. Two notes whose dip is in question are measured apart (LevelWaver): the
// dip is no waver.
double RecordingWaver(const BlockEnergy& e, std::span<const MelodyNote> notes, std::vector<double>& spans) {
    const double waver = LevelWaver(e, notes, spans);
    return spans.empty() ? LevelWaver(e, notes, spans, true) : waver;
}

// Whether the level fell between two notes, from the loudest block of the first up to the
// block before the second's attack, by an attack's step and further than held notes waver by
// themselves (in the recording as a whole, or in these two notes where they waver more).
bool DippedBefore(const BlockEnergy& e, const MelodyNote& first, const MelodyNote& second, std::int64_t attack,
                  double pieceWaver, std::vector<double>& scratch) {
    double peak = -std::numeric_limits<double>::infinity();
    for (std::int64_t k = kBlocks * first.First; k < attack - 1; ++k) peak = std::max(peak, e(k));
    const MelodyNote pair[2] = {first, second};
    const double waver = std::max(pieceWaver, LevelWaver(e, pair, scratch));
    return peak - e(attack - 1) >= kStepDb + kWaverDips * waver;
}

// Whether the note's own sound stopped with the level at frame `stop`. The whole level also
// falls where a louder sound under the note stops (an accompaniment, or an older note still
// sounding after the new one took over); the note then sounds on: the tracker still holds it
// in the two frames after the stop, and its salience there stays within 3 dB of its loudest in
// the two frames before (a release or the room's reverberation takes more than that at once).
bool OwnSoundStops(const FrameEvidence& evidence, const MelodyNote& note, std::int32_t stop) {
    const auto frames = static_cast<std::int32_t>(std::min(evidence.Held.size(), evidence.HeldLevel.size()));
    const auto held = [&](std::int32_t f) {
        return f >= note.First && f < std::min(note.End, frames) &&
               evidence.Held[static_cast<std::size_t>(f)] == note.Note;
    };
    const auto level = [&](std::int32_t f) {
        return static_cast<double>(evidence.HeldLevel[static_cast<std::size_t>(f)]);
    };
    double before = -std::numeric_limits<double>::infinity();
    for (std::int32_t f = stop - 2; f < stop; ++f) {
        if (held(f)) before = std::max(before, level(f));
    }
    if (before == -std::numeric_limits<double>::infinity()) return true;
    for (std::int32_t f = stop + 1; f <= stop + 2; ++f) {
        if (!held(f) || level(f) < before - kSoundsOnDb) return true;
    }
    return false;
}

}  // namespace

std::vector<MelodyNote> NotesOfTrack(std::span<const std::int8_t> track) {
    std::vector<MelodyNote> notes;
    for (std::size_t f = 0; f < track.size(); ++f) {
        if (track[f] < 0) continue;
        const auto frame = static_cast<std::int32_t>(f);
        if (f > 0 && track[f - 1] == track[f]) {
            notes.back().End = frame + 1;
        } else {
            notes.push_back({track[f], frame, frame + 1});
        }
    }
    return notes;
}

void DrawNotes(std::span<const MelodyNote> notes, std::int32_t minFrames, std::span<std::int8_t> track) {
    std::fill(track.begin(), track.end(), std::int8_t{-1});
    const auto frames = static_cast<std::int32_t>(track.size());
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const MelodyNote& note = notes[i];
        std::int32_t end = std::min(note.End, frames);
        if (i + 1 < notes.size()) {
            const MelodyNote& next = notes[i + 1];
            end = std::min(end, next.Note == note.Note ? next.First - 1 : next.First);
        }
        if (end - note.First < minFrames) continue;
        const auto first = track.begin() + note.First;
        std::fill(first, track.begin() + end, static_cast<std::int8_t>(note.Note));
    }
}

void ExtendDecays(std::vector<MelodyNote>& notes, std::span<const std::int8_t> clearNote,
                  std::span<const float> energy) {
    const BlockEnergy e(energy);
    const auto frames = static_cast<std::int32_t>(clearNote.size());
    const auto rises = [&](std::int32_t f) {
        const std::int64_t k = kBlocks * f;
        return std::max({e(k), e(k + 1), e(k + 2), e(k + 3)}) >
               std::max({e(k - 4), e(k - 3), e(k - 2), e(k - 1)}) + kStepDb;
    };
    const auto clear = [&](std::int32_t f, std::int32_t note) {
        const std::int32_t n = clearNote[static_cast<std::size_t>(f)];
        return n == note || std::abs(n - note) == 12;
    };
    for (std::size_t i = 0; i < notes.size(); ++i) {
        MelodyNote& note = notes[i];
        const std::int32_t limit = std::min(i + 1 < notes.size() ? notes[i + 1].First - 1 : frames, frames);
        while (note.End < limit && clear(note.End, note.Note) && !rises(note.End) && !rises(note.End + 1)) {
            ++note.End;
        }
    }
}

double HeldLevelWaver(std::span<const float> energy, std::span<const MelodyNote> notes) {
    std::vector<double> spans;
    return RecordingWaver(BlockEnergy(energy), notes, spans);
}

void PlaceNoteEdges(std::vector<MelodyNote>& notes, const FrameEvidence& evidence, std::int32_t minFrames) {
    const BlockEnergy e(evidence.Energy);
    const std::span<const std::uint8_t> onsets = evidence.Onsets;
    // A frame before the tracker's start holds the note only where its pitch leads the
    // spectrum (within a scoop of two semitones, or an octave off): breath and consonants
    // rise before the tone does.
    const auto holds = [&](std::int32_t f, std::int32_t note) {
        if (f < 0 || static_cast<std::size_t>(f) >= evidence.Loudest.size()) return false;
        const std::int32_t loudest = evidence.Loudest[static_cast<std::size_t>(f)];
        if (loudest < 0) return false;
        const std::int32_t apart = std::abs(loudest - note) % 12;
        return std::min(apart, 12 - apart) <= kScoopSemitones;
    };
    const auto attacked = [&](std::int32_t first, std::int32_t last) {
        for (std::int32_t f = std::max(first, 0); f <= last && f < static_cast<std::int32_t>(onsets.size()); ++f) {
            if (onsets[static_cast<std::size_t>(f)] != 0) return true;
        }
        return false;
    };
    // A note of one pitch right after another is attacked again only where the level dipped
    // before the new attack, by an attack's step and further than the level of held notes
    // wavers by itself (in the recording as a whole, or in these two notes where they waver
    // more); a slow attack that rose by an onset's step twice is one note.
    std::vector<double> scratch;
    const double pieceWaver = RecordingWaver(e, notes, scratch);
    // A note's end moves to where the level stopped before block hi, if the note's own sound
    // stopped with it; it keeps minFrames.
    const auto endWhereItStopped = [&](MelodyNote& note, std::int64_t hi) {
        const std::int64_t stop = StopBlock(e, kBlocks * (note.First + minFrames), hi, scratch);
        if (stop < 0) return;
        const auto end = static_cast<std::int32_t>(
            std::clamp<std::int64_t>(EnergyBlockToFrame(stop), note.First + minFrames, note.End));
        if (OwnSoundStops(evidence, note, end)) note.End = end;
    };
    std::size_t kept = 0;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (kept > 0) {
            MelodyNote& last = notes[kept - 1];
            const MelodyNote& note = notes[i];
            if (last.Note == note.Note && note.First <= last.End + 1) {
                const std::int32_t low = std::max(note.First - kAttackReach, last.First + 1);
                const std::int64_t attack = AttackBlock(e, kBlocks * low, kBlocks * (note.First + kAttackEarly + 1));
                if (attack < 0 || !DippedBefore(e, last, note, attack, pieceWaver, scratch)) {
                    last.End = note.End;
                    continue;
                }
            }
        }
        notes[kept++] = notes[i];
    }
    notes.resize(kept);

    for (std::size_t i = 0; i < notes.size(); ++i) {
        MelodyNote& note = notes[i];
        MelodyNote* before = i > 0 ? &notes[i - 1] : nullptr;
        const bool joined = before != nullptr && before->End == note.First;

        // The start: where the attack of the sound began. A note that takes over from another
        // without a break moves only where the recording has an attack; a change of pitch was
        // placed by the salience of the two notes, and moves only to an attack before it that
        // follows a dip deeper than held notes waver (the tracker bridged a detached change).
        std::int32_t low = std::max(note.First - kAttackReach, 0);
        if (before != nullptr) low = std::max(low, joined ? before->First + minFrames : before->End);
        const std::int32_t high = std::min(note.First + kAttackEarly, note.End - minFrames);
        const bool repeated =
            joined && before->Note == note.Note && attacked(note.First - kAttackReach, note.First + kAttackEarly);
        const bool attackedChange =
            joined && before->Note != note.Note && attacked(note.First - kAttackReach, note.First + kAttackEarly);
        if (low <= high && (!joined || repeated || attackedChange)) {
            const std::int64_t attack = AttackBlock(e, kBlocks * low, kBlocks * (high + 1));
            if (attack >= 0 && (!attackedChange || DippedBefore(e, *before, note, attack, pieceWaver, scratch))) {
                auto first = static_cast<std::int32_t>(std::clamp<std::int64_t>(EnergyBlockToFrame(attack), low, high));
                while (first < note.First && !holds(first, note.Note)) ++first;
                if (attackedChange) first = std::min(first, note.First);
                if (joined) before->End = first;
                note.First = first;
            }
        }

        // The end of a note that falls silent: where its own sound stopped, before its release
        // and the room's reverberation.
        const MelodyNote* next = i + 1 < notes.size() ? &notes[i + 1] : nullptr;
        if (next != nullptr && next->First <= note.End) continue;
        std::int64_t hi = kBlocks * (note.End + 1);
        if (next != nullptr) hi = std::min(hi, kBlocks * next->First);
        hi = std::min(hi, e.Count());
        endWhereItStopped(note, hi);
    }

    // A note that runs into the next one (their starts are placed by now) ends early only where
    // its sound fell away before the next attack: a detached or normal articulation.
    for (std::size_t i = 0; i + 1 < notes.size(); ++i) {
        MelodyNote& note = notes[i];
        if (notes[i + 1].First != note.End) continue;
        const std::int64_t hi = std::min(kBlocks * note.End, e.Count());
        endWhereItStopped(note, hi);
    }
}

}  // namespace ruvo
