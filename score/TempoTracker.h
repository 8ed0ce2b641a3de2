#pragma once
// TempoTracker: finds the beat of a melody from its onsets in seconds. A Viterbi pass over the
// inter-onset intervals gives the beat period and where it jumps; the likeliest sixteenth grid
// for the first onsets (their times, the note values between them, the timing spread) fixes
// the period and phase; a walk along the onsets follows slow drift, starts a new stretch where
// the path jumps or where a new period fits what follows clearly better, and puts each onset on
// the grid; a least-squares fit cut at the tempo changes gives the tempo map. Plain value;
// deterministic; any one thread.

#include "score/Score.h"

#include <optional>
#include <vector>

namespace ruvo {

struct TrackedBeats {
    std::vector<TempoSegment> Tempo;  // at least one; quarter 0 at the downbeat
    std::vector<double> Positions;    // per onset: its place in quarters, not yet rounded
    std::vector<double> Periods;      // per onset: seconds per quarter where it lies
};

class TempoTracker {
public:
    // `onsets` ascending, in seconds; `downbeatSeconds` is quarter 0; `fixedBpm` > 0 holds the
    // tempo instead of finding it; `meter` says where the beats and bar lines lie.
    TrackedBeats Track(const std::vector<double>& onsets, double downbeatSeconds, double fixedBpm,
                       const Meter& meter) const;

private:
    // The first `Intervals` intervals read within the drift's reach of `Period` (seconds per
    // quarter; 0 holds none); after them the path may change tempo once at no cost.
    struct Hold {
        std::size_t Intervals = 0;
        double Period = 0.0;
    };
    // Beat period (seconds per quarter) of each inter-onset interval; `stray` marks the onsets
    // the beat passes over; `pathCost` is the path's negative log-likelihood.
    std::vector<double> ViterbiPeriods(const std::vector<double>& onsets, std::vector<bool>& stray, double& pathCost,
                                       std::optional<Hold> hold = std::nullopt) const;
};

}  // namespace ruvo
