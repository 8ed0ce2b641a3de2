#include "score/Quantiser.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>

namespace ruvo {

namespace {

constexpr std::int64_t kQuarter = kScoreTicksPerQuarter;
constexpr std::int64_t kSixteenth = kQuarter / 4;
constexpr std::int64_t kTripletEighth = kQuarter / 3;
// The single values that end on a thirty-second: a dotted sixteenth and a double-dotted eighth,
// what a copyist writes for a note released a little before the eighth or the quarter it fills.
constexpr std::array<std::int64_t, 2> kThirtySecondEnds{kQuarter * 3 / 8, kQuarter * 7 / 8};

std::int64_t FloorQuarter(double x) { return static_cast<std::int64_t>(std::floor(x)); }

// What the onsets inside one beat say about its grid.
struct BeatFit {
    double SixteenthError = 0.0;  // squared distances, quarters squared
    double TripletError = 0.0;
    std::int32_t Inner = 0;       // onsets on the second or third triplet
    double WorstInner = 0.0;
};

class BeatGrid {
public:
    explicit BeatGrid(const std::vector<double>& positions) {
        std::map<std::int64_t, BeatFit> fits;
        std::map<std::int64_t, std::vector<std::int64_t>> innerSlots;
        for (double x : positions) {
            // An onset just before a beat rounds onto it, so it belongs to that beat.
            const std::int64_t beat = FloorQuarter(x + 0.125);
            const double s = std::nearbyint(4.0 * x) / 4.0;
            const double r = std::nearbyint(3.0 * x) / 3.0;
            BeatFit& fit = fits[beat];
            fit.SixteenthError += (x - s) * (x - s);
            fit.TripletError += (x - r) * (x - r);
            const auto slot = static_cast<std::int64_t>(std::nearbyint(3.0 * (r - static_cast<double>(beat))));
            if (slot == 1 || slot == 2) {
                ++fit.Inner;
                fit.WorstInner = std::max(fit.WorstInner, std::abs(x - r));
                innerSlots[beat].push_back(slot);
            }
        }
        // Triplets only where two onsets sit on them, each close, and they fit clearly better
        // than sixteenths: a melody in plain values must not turn into triplets by jitter.
        for (const auto& [beat, fit] : fits) {
            const auto& slots = innerSlots[beat];
            const bool distinct = slots.size() == 2 && slots[0] != slots[1];
            if (fit.Inner >= 2 && distinct && fit.WorstInner < 1.0 / 12.0 && fit.TripletError < 0.35 * fit.SixteenthError)
                m_triplets.push_back(beat);
        }
    }

    bool Triplet(std::int64_t beat) const { return std::binary_search(m_triplets.begin(), m_triplets.end(), beat); }

    // The grid point nearest `x` quarters, in ticks.
    std::int64_t Round(double x) const {
        const std::int64_t beat = FloorQuarter(x);
        if (Triplet(beat)) {
            const auto slot = static_cast<std::int64_t>(std::nearbyint(3.0 * (x - static_cast<double>(beat))));
            return beat * kQuarter + slot * kTripletEighth;
        }
        if (Triplet(beat + 1) && x - static_cast<double>(beat) > 0.875) return (beat + 1) * kQuarter;
        return static_cast<std::int64_t>(std::nearbyint(4.0 * x)) * kSixteenth;
    }

    // The smallest step of the grid at `tick`.
    std::int64_t Step(std::int64_t tick) const {
        const std::int64_t beat = tick >= 0 ? tick / kQuarter : -((-tick + kQuarter - 1) / kQuarter);
        return Triplet(beat) ? kTripletEighth : kSixteenth;
    }

private:
    std::vector<std::int64_t> m_triplets;  // ascending
};

}  // namespace

std::vector<ScoreNote> Quantiser::Quantise(const std::vector<TimedNote>& notes, const std::vector<std::size_t>& groupOf,
                                           const std::vector<std::int32_t>& velocities,
                                           const TrackedBeats& beats) const {
    const std::size_t groups = beats.Positions.size();
    const BeatGrid grid(beats.Positions);
    // An onset that rounds onto the one before it moves to the next grid point; one that rounds
    // before it (that one was moved already: a run of onsets closer than the grid, as a table
    // of many short notes has) sounds with it, so that no run pushes the notes after it late.
    std::vector<std::int64_t> start(groups);
    for (std::size_t g = 0; g < groups; ++g) {
        start[g] = grid.Round(beats.Positions[g]);
        if (g > 0 && start[g] == start[g - 1]) start[g] = start[g - 1] + grid.Step(start[g - 1]);
        if (g > 0 && start[g] < start[g - 1]) start[g] = start[g - 1];
    }
    // Where the next group starts later than g's start (groups that sound together share an end).
    std::vector<std::int64_t> nextStart(groups, std::numeric_limits<std::int64_t>::max());
    for (std::size_t g = groups; g-- > 1;) nextStart[g - 1] = start[g] > start[g - 1] ? start[g] : nextStart[g];
    // Each group's first onset in seconds: lengths are measured from it in its local period.
    std::vector<double> onset(groups, 0.0);
    std::vector<bool> seen(groups, false);
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (!seen[groupOf[i]]) onset[groupOf[i]] = notes[i].Onset;
        seen[groupOf[i]] = true;
    }
    std::vector<std::int64_t> end(groups, 0);
    std::vector<double> reach(groups, 0.0);  // the latest end in quarters, not yet rounded
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const std::size_t g = groupOf[i];
        const double y = beats.Positions[g] + (notes[i].Offset - onset[g]) / beats.Periods[g];
        end[g] = std::max({end[g], grid.Round(y), start[g] + grid.Step(start[g])});
        reach[g] = std::max(reach[g], y);
    }
    for (std::size_t g = 0; g < groups; ++g) end[g] = std::min(end[g], nextStart[g]);
    // A note may also end on a thirty-second where one of those values ends it: the whole note
    // is one (from a start outside triplets; tied over a beat where it crosses one), or its last
    // value from a beat is. It takes the end nearest its measured length, before the next note
    // and outside triplets.
    for (std::size_t g = 0; g < groups; ++g) {
        const double measured = reach[g] * static_cast<double>(kQuarter) - static_cast<double>(start[g]);
        const auto consider = [&](std::int64_t stop) {
            const bool beforeNext = stop <= nextStart[g];
            if (stop - start[g] < kSixteenth || !beforeNext || grid.Step(stop) != kSixteenth) return;
            if (std::abs(measured - static_cast<double>(stop - start[g])) <
                std::abs(measured - static_cast<double>(end[g] - start[g])))
                end[g] = stop;
        };
        const std::int64_t lastBeat = FloorQuarter(reach[g]) * kQuarter;
        for (const std::int64_t v : kThirtySecondEnds) {
            if (grid.Step(start[g]) == kSixteenth) consider(start[g] + v);
            for (std::int64_t from = lastBeat - kQuarter; from <= lastBeat + kQuarter; from += kQuarter)
                if (from >= start[g]) consider(from + v);
        }
    }

    std::vector<ScoreNote> out;
    out.reserve(notes.size());
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const std::size_t g = groupOf[i];
        if (std::any_of(out.end() - static_cast<std::ptrdiff_t>(std::min<std::size_t>(out.size(), 8)), out.end(),
                        [&](const ScoreNote& n) { return n.StartTick == start[g] && n.Key == notes[i].Key; }))
            continue;  // the same key twice in one chord is one note
        out.push_back({start[g], end[g] - start[g], notes[i].Key, velocities[i]});
    }
    std::sort(out.begin(), out.end(), [](const ScoreNote& a, const ScoreNote& b) {
        return a.StartTick != b.StartTick ? a.StartTick < b.StartTick : a.Key < b.Key;
    });
    return out;
}

}  // namespace ruvo
