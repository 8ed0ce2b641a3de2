#include "score/TempoTracker.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <tuple>

namespace ruvo {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Beat periods the Viterbi pass considers: 40 to 240 quarters per minute, 1 % apart.
constexpr double kLowestBpm = 40.0;
constexpr double kBinRatio = 1.01;
constexpr std::int32_t kBins = 181;

// Timing spread of an onset (seconds) and its growth with the interval's length. The Viterbi
// pass reads each interval with the analysis's own spread (its onsets lie within about 25 ms
// of the notes' starts); the fits of the grid, which weigh whole runs of onsets, start from a
// wider one and choose among wider ones still, for slow attacks.
constexpr double kIntervalSpread = 0.025;
constexpr double kBaseSpread = 0.035;
constexpr double kRelativeSpread = 0.015;
// The spreads the fit of the beat chooses from, and how far (relative, one standard deviation
// at the base spread) a stretch's period lies from the Viterbi path's.
constexpr std::array<double, 3> kSpreads{kBaseSpread, 1.4142135623730951 * kBaseSpread, 2.0 * kBaseSpread};
constexpr double kPathSpread = 0.02;
// Cost of moving the period by one bin between intervals, of a tempo change within a factor
// 1.45, and the extra cost of a larger one (halving or doubling is rarely real).
constexpr double kDriftCost = 1.5;
constexpr double kJumpCost = 8.0;
constexpr double kOctaveJumpCost = 30.0;
constexpr std::int32_t kDriftBins = 3;
constexpr std::int32_t kJumpBins = 37;  // log(1.45) / log(1.01)
// The first period leans towards the tempo at which the notes' typical length (the geometric
// mean of the intervals between onsets) is kTypicalQuarters: a melody moves mostly in eighths
// and quarters whatever its tempo, so the density of its notes tells a beat from its double or
// half better than a fixed tempo would. kCentreSpread is the log2 spread around that tempo:
// read off a whole piece's onsets that tempo lies within about 0.26 (one standard deviation)
// of the played one, a factor 1.2; a spread half as wide again keeps a piece whose first
// onsets fit another tempo as well (a slow attack, a note split in two) near its own.
constexpr double kTypicalQuarters = 0.9;
constexpr double kCentreSpread = 0.4;
// The same pull weighs on every later interval at this share: a run of late, uneven attacks
// (a choir's) can fit a grid half again as fast better than the true one, and the spacing of
// the whole piece keeps that reading from taking over.
constexpr double kCentrePull = 0.05;
// Passing over a note that does not fit the beat (a split, an ornament) costs about as much as
// an unlikely interval.
constexpr double kStrayCost = 4.0;
// The walk's check for a change the path missed: every kCheckEvery onsets, on the next
// kCheckSpan, periods kCheckStep apart up to kCheckSteps either way; a change must gain
// kChangeGain in log-likelihood.
constexpr std::size_t kCheckEvery = 4;
constexpr std::size_t kCheckSpan = 16;
constexpr std::int32_t kCheckSteps = 12;
constexpr double kCheckStep = 0.005;
constexpr double kChangeGain = 6.0;
// A step of a few per cent moves the notes by less than a sixteenth over the check's span, which
// the onsets' own spread hides; over a longer look it has moved them by a sixteenth or more. So
// the check also looks kLongSpan onsets ahead (as far as the piece goes, at least kLongLeast),
// on periods that slip by at most kLongSlip quarters over that look: a larger change is the short
// look's or the path's to find, and over so many onsets a grid that slips by whole beats fits some
// notes by chance, reading them as other values. A knot the long look finds must change the tempo
// by kLongLeastStep: a closer one is the line's own scatter set right, not a change, and the map
// would not write it as one either. Nor is all of a knot's gain over the line the new tempo's: the
// knot also starts the line anew (at which onset, from which phase), and notes that sit between two
// sixteenths of the line (a steady player's late or early attacks) fit a grid that slips by a
// sixteenth here and there about as well; the walk, reading every later note on that grid, never
// comes back. So the knot must also gain over the best knot that keeps the line's tempo:
// kLongTempoGain, and kChangeGain where its tempo slips from the line by more than kLongSlip over the
// onsets after it, as far as a grid reads notes as other values by chance. A real step misreads so
// many notes on the old tempo that no new phase mends them.
constexpr std::size_t kLongSpan = 32;
constexpr std::size_t kLongLeast = 20;
constexpr double kLongSlip = 1.0;
constexpr double kLongLeastStep = 0.01;
constexpr double kLongTempoGain = 3.0;
// Nor is a checked knot final. A steady player's onsets that sit between two sixteenths of the line
// can pull a look to a tempo a per cent or two off, and a later look back to the line's own: the
// pair slips the grid by most of a sixteenth, and every note after it reads a sixteenth off. Such
// a pair is an excursion, no change, when the later knot brings the tempo back within
// kLongLeastStep of the line's before the earlier one (which left it by at least that much), within
// kLongSpan onsets of it, and the knots gain less than kLongTempoGain on both counts that tell a
// real departure: the onsets between them on the excursion's tempo against the old line as it
// stood, and all the onsets the later look weighed against the old line's tempo with its phase
// free within half a sixteenth (as the line follows the onsets' own drift, never by a whole
// sixteenth). Then both knots are dropped and the walk goes back to the first and walks on along
// the old line. A piece that slows for a few bars and resumes ("a tempo") keeps both: its notes in
// the slower bars fall further behind the old line with every beat, which the slower tempo mends by
// more than the margin, and after it they lie a part of a beat behind the old line's phase, beyond
// the half sixteenth it may move. Only a departure that leaves the notes within about a sixteenth
// of the old line, over no more than a long look's onsets, reads as its scatter.
// The pass reads each interval alone, and a tempo change that it smooths over (two stretches read
// as one tempo between theirs, which saves the jump) bends its reading of the opening as well: a
// choir's uneven onsets fit a tempo a fifth off nearly as well, interval by interval. So the first
// kOpeningOnsets onsets are also read by the pass on their own; where they hold another tempo
// within a jump's reach, a second pass holds it over them and may leave it once, at no cost,
// anywhere after them. The grid's fit of the opening (the onsets' places, which the pass does not
// carry from one interval to the next) and the passes' likelihoods (the free one given the same
// leave) decide between the readings; the held one must gain kChangeGain, as a change the walk
// finds must. A tempo an octave off is the density prior's business, not this one's.
constexpr std::size_t kOpeningOnsets = 16;
// A stretch of one tempo holds at least this many onsets; the first at least kFirstSegment.
constexpr std::size_t kMinSegment = 4;
constexpr std::size_t kFirstSegment = 8;
// The first grid is fitted on onsets of one tempo: up to where the path has drifted more than
// this many bins, short of the kDriftBins + 0.5 that makes a jump.
constexpr double kFirstDriftBins = 2.5;
// A segment's period is refined on its first onsets, within 6 % of the path's, 0.1 % apart.
constexpr std::size_t kFitOnsets = 32;
constexpr std::int32_t kPeriodSteps = 60;
constexpr double kPeriodStep = 0.001;
// A later segment's knot lies within this many onsets of where the path jumps.
constexpr std::size_t kKnotReach = 3;
// The path reads each interval alone, with the analysis's narrow timing spread and no grid phase
// to carry over, so the interval where it jumps is the likeliest to hold the change: a knot at
// either end of it is free, and each onset further out costs this much. The fit of the grid
// alone reads late, uneven attacks near a change in either tempo about equally well.
constexpr double kKnotFromJumpCost = 0.5;
// A tempo change is mostly written at a bar line (a new section, "a tempo"), less often on
// another beat, seldom between beats: a knot that the new line puts on a beat costs this much in
// log-likelihood, one between beats the second. Mild, because the change itself is heard
// where a note starts, and a melody's notes after a breath or a rest may start anywhere.
constexpr double kKnotOnBeatCost = 0.25;
constexpr double kKnotOffBeatCost = 0.75;
// Where the old line puts the knot is known to about the timing spread: the new line may start
// kAnchorStep spreads either side of it, kAnchorSteps steps each way.
constexpr std::int32_t kAnchorSteps = 1;
constexpr double kAnchorStep = 0.75;
// The walk's line: through the last kWindow onsets of a piece once it holds kSettle of them
// spanning kSettleQuarters; its period stays within kPeriodLeeway of the piece's.
constexpr std::size_t kWindow = 24;
constexpr std::size_t kSettle = 6;
constexpr double kSettleQuarters = 2.0;
constexpr double kPeriodLeeway = 0.04;
// How far (relative, one standard deviation) the line's period drifts from its piece's: a larger
// change is a new piece, which the walk's check finds.
constexpr double kDriftSpread = 0.01;
// A stretch may itself slow down or speed up (a ritardando, an accelerando): its fits try a
// period that changes by kRampStep of itself per quarter, up to kFirstRamps steps either way for
// the first stretch and kKnotRamps after a knot (at the knot found without one). A ramp of c
// costs (c / kRampSpread)^2 / 2 plus kRampCost, so that a steady piece whose onsets wander is
// not read as one: 1 % a bar (c 0.0025) costs 4.4 in log-likelihood, which the onsets of a bar
// or two at that drift repay.
constexpr double kRampStep = 0.001;
constexpr std::int32_t kFirstRamps = 4;
constexpr std::int32_t kKnotRamps = 2;
constexpr double kRampSpread = 0.0015;
constexpr double kRampCost = 3.0;

// How likely an interval of q quarters is in a melody: eighths and quarters first, then
// sixteenths, halves and dotted values; other values rarer, long ones rarer still.
double IntervalCost(double q) {
    constexpr std::array<std::pair<double, double>, 7> kCommon{
        {{0.25, 2.0}, {0.5, 4.0}, {0.75, 1.5}, {1.0, 4.0}, {1.5, 1.5}, {2.0, 2.0}, {3.0, 1.0}}};
    double weight = q <= 4.0 ? 0.2 : 0.2 * std::exp(-(q - 4.0) / 2.0);
    for (const auto& [value, w] : kCommon)
        if (std::abs(q - value) < 1e-9) weight = w;
    return -std::log(weight / 4.0);
}

// Likelihood of an interval of `sixteenths` between neighbouring onsets; two onsets on one
// grid point are as unlikely as an onset off the grid. The short ones, nearly all the fits ask
// for, come from a table made once.
const std::array<double, 17> kShortIntervals = [] {
    std::array<double, 17> table{};
    for (std::size_t j = 0; j < table.size(); ++j)
        table[j] = j == 0 ? 0.01 : std::exp(-IntervalCost(static_cast<double>(j) / 4.0));
    return table;
}();

inline double IntervalLikelihood(std::int64_t sixteenths) {
    if (sixteenths < static_cast<std::int64_t>(kShortIntervals.size()))
        return kShortIntervals[static_cast<std::size_t>(std::max<std::int64_t>(0, sixteenths))];
    return std::exp(-IntervalCost(static_cast<double>(sixteenths) / 4.0));
}

// How far a period strays from the one the Viterbi pass found, as a cost: that pass reads each
// interval alone, so it is right within a few per cent (more when the onsets spread more), but
// a fit of positions on a fast beat can prefer a grid off by a sixteenth every few beats.
double PathPrior(double period, double pathPeriod, double spread) {
    const double r = std::log(period / pathPeriod) / (kPathSpread * spread / kBaseSpread);
    return 0.5 * r * r;
}

// The prior on where a knot lies in the bar: 0 at a bar line, else kKnotOnBeatCost on a beat and
// kKnotOffBeatCost between beats. `quarter` counts from bar 1's downbeat; the meter's beat and
// bar in quarters.
double KnotPlaceCost(double quarter, double beatQuarters, double barQuarters) {
    const auto on = [quarter](double unit) {
        const double r = quarter / unit;
        return std::abs(r - std::nearbyint(r)) < 1e-6;
    };
    if (on(barQuarters)) return 0.0;
    return on(beatQuarters) ? kKnotOnBeatCost : kKnotOffBeatCost;
}

double BinBpm(std::int32_t bin) { return kLowestBpm * std::pow(kBinRatio, bin); }

double RampCost(double ramp) {
    return ramp == 0.0 ? 0.0 : 0.5 * (ramp / kRampSpread) * (ramp / kRampSpread) + kRampCost;
}

// Onsets moved so that a grid of constant `period` fits them as a grid whose period grows by
// `ramp` of itself per quarter from `anchorTime` fits the onsets: with t = p (q + ramp q^2 / 2),
// p q = t - ramp t^2 / (2 p) to first order in the ramp.
void Unramp(const double* onsets, std::size_t count, double anchorTime, double period, double ramp, double* out) {
    const double r = 0.5 * ramp / period;
    for (std::size_t i = 0; i < count; ++i) {
        const double d = onsets[i] - anchorTime;
        out[i] = anchorTime + d - r * d * std::abs(d);
    }
}

// How well onsets fit a beat of `period` seconds with quarter `anchorQuarter` at `anchorTime`:
// the log-likelihood of their times when each lies, with the timing spread, on a point of the
// sixteenth grid, all points alike. A slower beat has fewer points to choose from, so each
// fitting onset weighs more (the factor `period`): a fine grid cannot buy a fit by having points
// everywhere. With `intervals`, the note values between neighbouring onsets weigh in too, as
// likely as the Viterbi pass has them: the metre lies in those.
double MetricalFit(const double* onsets, std::size_t count, double anchorTime, double anchorQuarter, double period,
                   double spread, bool intervals = false) {
    constexpr double kOnGrid = 0.25;   // each of the four sixteenths of a beat
    constexpr double kOffGrid = 0.01;  // an onset on no grid point (an ornament, a split)
    const double norm = period * period / (2.0 * spread * spread);
    const double onGrid = kOnGrid * kBaseSpread / spread;
    // Each onset's likelihood times that of the interval from the onset before it on the grid.
    // Products of up to 16 of them stay far from underflow: one logarithm per 16 onsets.
    double sum = 0.0, product = 1.0;
    std::int64_t previous = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double x = 4.0 * (anchorQuarter + (onsets[i] - anchorTime) / period);
        const double slot = std::nearbyint(x);
        const double d = (x - slot) / 4.0;
        const double e = d * d * norm;
        const auto k = static_cast<std::int64_t>(slot);
        product *= period * ((e < 30.0 ? onGrid * std::exp(-e) : 0.0) + kOffGrid);
        if (intervals && i > 0) product *= IntervalLikelihood(k - previous);
        previous = k;
        if (i % 16 == 15) {
            sum += std::log(product);
            product = 1.0;
        }
    }
    sum += std::log(product);
    return sum;
}

// MetricalFit for the three spreads of kSpreads at once, in their order: as they grow by a
// factor sqrt(2), each one's Gaussian is the square of the next one's, so one exponential per
// onset serves all three. `place(i)` gives onset i's place in sixteenths and the period it is read
// in. No onset's likelihood exceeds its grid point's peak, so once not even the onsets left, each
// at its peak, could lift the best of the fits to `floor`, the fit is given up (all three
// -infinity; the bound holds for one period, the first onset's, for all): a reading that must beat
// a known score need not be finished.
template <typename Place>
std::array<double, 3> PlacedFits(std::size_t count, const Place& place, double floor) {
    constexpr double kOnGrid = 0.25;
    constexpr double kOffGrid = 0.01;
    constexpr double kHalfPrecision = 0.5 / (kSpreads[2] * kSpreads[2]);
    std::array<double, 3> sum{}, product{1.0, 1.0, 1.0}, peak{};
    if (floor > -kInf && count > 0)
        for (std::size_t j = 0; j < 3; ++j)
            peak[j] = std::log(place(0).second * (kOnGrid * kBaseSpread / kSpreads[j] + kOffGrid));
    std::int64_t previous = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto [x, period] = place(i);
        const double slot = std::nearbyint(x);
        const double d = (x - slot) / 4.0;
        const double e = d * d * period * period * kHalfPrecision;
        const auto k = static_cast<std::int64_t>(slot);
        const double wide = e < 30.0 ? std::exp(-e) : 0.0;
        const double middle = wide * wide;
        const std::array<double, 3> gauss{middle * middle, middle, wide};
        const double interval = i > 0 ? IntervalLikelihood(k - previous) : 1.0;
        previous = k;
        for (std::size_t j = 0; j < 3; ++j) {
            product[j] *= period * (kOnGrid * kBaseSpread / kSpreads[j] * gauss[j] + kOffGrid) * interval;
            if (i % 16 == 15) {
                sum[j] += std::log(product[j]);
                product[j] = 1.0;
            }
        }
        if (i % 16 == 15 && floor > -kInf) {
            const double left = static_cast<double>(count - 1 - i);
            if (std::max({sum[0] + left * peak[0], sum[1] + left * peak[1], sum[2] + left * peak[2]}) < floor)
                return {-kInf, -kInf, -kInf};
        }
    }
    for (std::size_t j = 0; j < 3; ++j) sum[j] += std::log(product[j]);
    return sum;
}

// PlacedFits on a grid of `period` seconds with quarter `anchorQuarter` at `anchorTime`.
std::array<double, 3> MetricalFits(const double* onsets, std::size_t count, double anchorTime, double anchorQuarter,
                                   double period, double floor = -kInf) {
    return PlacedFits(
        count,
        [&](std::size_t i) { return std::pair{4.0 * (anchorQuarter + (onsets[i] - anchorTime) / period), period}; },
        floor);
}

// A period within `steps` steps of `step` from `centre` that fits best: every second step
// first, then the two beside the best of those.
template <typename Fit>
double BestPeriod(double centre, std::int32_t steps, double step, const Fit& fit, double& bestFit) {
    double best = centre;
    const auto tryPeriod = [&](double p) {
        const double f = fit(p);
        if (f > bestFit + 1e-12) {
            bestFit = f;
            best = p;
        }
    };
    for (std::int32_t r = -steps / 2; r <= steps / 2; ++r) tryPeriod(centre * (1.0 + 2.0 * step * r));
    const double coarse = best;
    tryPeriod(coarse * (1.0 - step));
    tryPeriod(coarse * (1.0 + step));
    return best;
}

struct Cost {
    double Value = kInf;
    std::int32_t From = -1;
};

double Median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    const auto mid = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), mid, values.end());
    return *mid;
}

// Weighted least-squares line t = a + p q through the recent (q, t) pairs, newest weighing most,
// its period held towards `nominal` with the weight `stiffness` (the onsets' timing variance over
// the variance of the period's drift): a few onsets a few beats apart cannot tell a drift of a
// per cent from their own spread.
bool FitRecent(const std::vector<double>& q, const std::vector<double>& t, std::size_t end, std::size_t count,
               double nominal, double stiffness, double& a, double& p) {
    constexpr double kDecay = 0.95;
    double sw = 0.0, sq = 0.0, st = 0.0, sqq = stiffness, sqt = stiffness * nominal, w = 1.0;
    const std::size_t begin = end > count ? end - count : 0;
    for (std::size_t i = end; i-- > begin;) {
        sw += w;
        sq += w * q[i];
        st += w * t[i];
        sqq += w * q[i] * q[i];
        sqt += w * q[i] * t[i];
        w *= kDecay;
    }
    const double det = sw * sqq - sq * sq;
    if (end - begin < 3 || det <= 1e-12 * sw * sw) return false;
    p = (sw * sqt - sq * st) / det;
    a = (st - p * sq) / sw;
    return true;
}

// The tempo map: the fewest straight pieces through (quarter, second) that fit the onsets,
// each change paying for itself. Quarter 0 lies where the first piece reaches it.
std::vector<TempoSegment> FitTempoMap(const std::vector<double>& keptQ, const std::vector<double>& keptT,
                                      double fallbackPeriod) {
    constexpr double kChangeCost = 0.03;  // seconds squared
    constexpr std::size_t kLongestPiece = 256;
    const std::size_t m = keptQ.size();
    std::vector<TempoSegment> tempo;
    std::vector<double> s1(m + 1, 0.0), sq(m + 1, 0.0), st(m + 1, 0.0), sqq(m + 1, 0.0), sqt(m + 1, 0.0),
        stt(m + 1, 0.0);
    for (std::size_t i = 0; i < m; ++i) {
        s1[i + 1] = s1[i] + 1.0;
        sq[i + 1] = sq[i] + keptQ[i];
        st[i + 1] = st[i] + keptT[i];
        sqq[i + 1] = sqq[i] + keptQ[i] * keptQ[i];
        sqt[i + 1] = sqt[i] + keptQ[i] * keptT[i];
        stt[i + 1] = stt[i] + keptT[i] * keptT[i];
    }
    const auto line = [&](std::size_t b, std::size_t e, double& a, double& p) {
        const double w = s1[e] - s1[b], q = sq[e] - sq[b], t = st[e] - st[b];
        const double qq = sqq[e] - sqq[b], qt = sqt[e] - sqt[b], tt = stt[e] - stt[b];
        const double det = w * qq - q * q;
        p = det > 1e-12 ? (w * qt - q * t) / det : fallbackPeriod;
        a = (t - p * q) / w;
        // Residual sum of squares of the fitted line.
        return std::max(0.0, tt - a * t - p * qt);
    };
    // Neighbouring pieces share their knot: the note where one tempo ends and the next begins
    // lies on both lines. best[e]: the cheapest pieces covering notes 0..e.
    std::vector<double> best(m, kInf);
    std::vector<std::size_t> from(m, 0);
    const std::size_t minPiece = std::min(kMinSegment, m);
    for (std::size_t e = minPiece - 1; e < m; ++e) {
        double a = 0.0, p = 0.0;
        best[e] = line(0, e + 1, a, p);
        // A piece spans at most kLongestPiece onsets: a longer stretch in one tempo becomes
        // pieces of the same tempo, which the map joins again, and the search stays linear.
        for (std::size_t b = e + 1 > kLongestPiece ? e + 1 - kLongestPiece : 1; b + minPiece <= e + 1; ++b) {
            // A piece's residual is never negative: a start no cheaper than the best so far
            // need not be fitted.
            if (best[b] == kInf || best[b] + kChangeCost >= best[e]) continue;
            const double c = best[b] + line(b, e + 1, a, p) + kChangeCost;
            if (c < best[e]) {
                best[e] = c;
                from[e] = b;
            }
        }
    }
    std::vector<std::size_t> knots;
    for (std::size_t e = m - 1; e > 0; e = from[e]) knots.push_back(from[e]);
    if (knots.empty() || knots.back() != 0) knots.push_back(0);
    std::reverse(knots.begin(), knots.end());
    knots.erase(std::unique(knots.begin(), knots.end()), knots.end());
    for (std::size_t k = 0; k < knots.size(); ++k) {
        const std::size_t b = knots[k];
        const std::size_t e = k + 1 < knots.size() ? knots[k + 1] + 1 : m;
        double a = 0.0, p = 0.0;
        (void)line(b, e, a, p);
        p = std::clamp(p, 60.0 / kMaxScoreBpm, 60.0 / kMinScoreBpm);
        const double bpm = 60.0 / p;
        if (k == 0) {
            tempo.push_back({a, 0.0, bpm});
            continue;
        }
        const double startQuarter = keptQ[b];
        const TempoSegment& prev = tempo.back();
        // Where the previous piece reaches this one's first quarter: the map stays continuous.
        const double startSeconds = prev.StartSeconds + (startQuarter - prev.StartQuarter) * 60.0 / prev.Bpm;
        if (std::abs(bpm / prev.Bpm - 1.0) < 0.01) continue;
        tempo.push_back({startSeconds, startQuarter, bpm});
    }
    return tempo;
}

// The walk reads the piece onset by onset, each rounded to its line, and where the onsets
// scatter by close to a sixteenth (slow attacks) a line a per cent or two off slips by a
// sixteenth now and then unnoticed: every reading after the slip agrees with it, and a map
// whose tempo was wrong from the opening on, with a change or two to catch up, fits its own
// onsets as well as the true one. So a map with changes is weighed against the best steady grid
// for the whole piece (period within kPeriodSteps of the onsets' typical one, phase free, the
// fits' spreads), both scored on every onset alike; the map's changes must pay for themselves,
// kJumpCost each, as the pass charges for one. Two readings bound the test. The walk's own
// places, its line refitted at every onset, fit the notes at least as well as any map of its
// changes: a steady grid that falls behind them by more than those changes' cost is no steady
// piece but one that drifts, which the map's straight pieces, joined end to end, describe worse
// than the walk did. And only a steady reading that puts the opening at another tempo, by at
// least kLongLeastStep, overrules the map: one that keeps the opening's tempo merely drops
// changes that the walk's checks have weighed on the onsets around them.
// `linePeriods` holds the period of the walk's line at each onset; `out` is the walk's reading,
// replaced by the steady one where that wins.
void PreferSteadyGrid(const std::vector<double>& onsets, double downbeatSeconds, const std::vector<double>& linePeriods,
                      TrackedBeats& out) {
    if (out.Tempo.size() < 2) return;
    const std::size_t n = onsets.size();
    // The map as written, each of its pieces on its own grid: the best of the spreads over them all.
    std::array<double, 3> written{};
    for (std::size_t k = 0, b = 0; k < out.Tempo.size(); ++k) {
        std::size_t e = b;
        while (e < n && (k + 1 == out.Tempo.size() || onsets[e] < out.Tempo[k + 1].StartSeconds)) ++e;
        if (e > b) {
            const std::array<double, 3> f =
                MetricalFits(onsets.data() + b, e - b, out.Tempo[k].StartSeconds, out.Tempo[k].StartQuarter,
                             60.0 / out.Tempo[k].Bpm);
            for (std::size_t j = 0; j < 3; ++j) written[j] += f[j];
        }
        b = e;
    }
    // One grid for the whole piece, quarter 0 near the downbeat as for the first grid; it must beat
    // the map by its changes' cost, and a grid that cannot is not fitted to the end.
    const double changes = static_cast<double>(out.Tempo.size() - 1);
    const double needed = std::max({written[0], written[1], written[2]}) + kJumpCost * changes;
    double steady = -kInf, steadyPeriod = 0.0, steadyStart = downbeatSeconds;
    const double typical = Median(out.Periods);
    for (std::int32_t s = -6; s < 6; ++s) {
        double fit = -kInf;
        const double p = BestPeriod(
            typical, kPeriodSteps, kPeriodStep,
            [&](double period) {
                const double shift = period / 4.0 * s / 12.0;
                const std::array<double, 3> f =
                    MetricalFits(onsets.data(), n, downbeatSeconds + shift, 0.0, period, needed);
                double best = -kInf;
                for (std::size_t j = 0; j < 3; ++j)
                    best = std::max(best, f[j] - 0.5 * shift * shift / (kSpreads[j] * kSpreads[j]));
                return best;
            },
            fit);
        if (fit > steady) {
            steady = fit;
            steadyPeriod = p;
            steadyStart = downbeatSeconds + p / 4.0 * s / 12.0;
        }
    }
    const std::array<double, 3> walked = PlacedFits(
        n, [&](std::size_t i) { return std::pair{4.0 * out.Positions[i], linePeriods[i]}; }, -kInf);
    const double walkFit = std::max({walked[0], walked[1], walked[2]});
    if (steady <= needed || steady + kJumpCost * changes <= walkFit ||
        std::abs(steadyPeriod * out.Tempo[0].Bpm / 60.0 - 1.0) < kLongLeastStep)
        return;
    out.Tempo = {{steadyStart, 0.0, 60.0 / steadyPeriod}};
    for (std::size_t i = 0; i < n; ++i) {
        out.Positions[i] = (onsets[i] - steadyStart) / steadyPeriod;
        out.Periods[i] = steadyPeriod;
    }
}

}  // namespace

std::vector<double> TempoTracker::ViterbiPeriods(const std::vector<double>& onsets, std::vector<bool>& stray,
                                                 double& pathCost, std::optional<Hold> hold) const {
    const std::size_t n = onsets.size() - 1;
    std::array<double, kBins> periods{};
    std::array<double, kBins> rates{};  // beats per second
    for (std::int32_t k = 0; k < kBins; ++k) {
        periods[static_cast<std::size_t>(k)] = 60.0 / BinBpm(k);
        rates[static_cast<std::size_t>(k)] = BinBpm(k) / 60.0;
    }
    std::array<double, 33> qCost{};
    for (std::size_t j = 1; j <= 32; ++j) qCost[j] = IntervalCost(static_cast<double>(j) / 4.0);

    // A sixteenth and a half at each period, squared, a shade short so that rounding never
    // leaves out a value that could win.
    std::array<double, kBins> farBound{};
    for (std::size_t k = 0; k < kBins; ++k) farBound[k] = 0.999 * 0.375 * 0.375 * periods[k] * periods[k];
    // Cost of an interval of d seconds at each period: its best note value.
    const auto emission = [&](double d, std::array<double, kBins>& out) {
        const double spread = std::sqrt(kIntervalSpread * kIntervalSpread + kRelativeSpread * kRelativeSpread * d * d);
        const double norm = 1.0 / (2.0 * spread * spread);
        for (std::int32_t k = 0; k < kBins; ++k) {
            const double p = periods[static_cast<std::size_t>(k)];
            const auto centre = static_cast<std::int32_t>(std::lrint(4.0 * d * rates[static_cast<std::size_t>(k)]));
            double best = kInf;
            const auto consider = [&](std::int32_t j) {
                const double e = d - p * j / 4.0;
                best = std::min(best, e * e * norm + qCost[static_cast<std::size_t>(j)]);
            };
            // Values two sixteenths or more away never win: their timing error outweighs any
            // difference of the values' likelihoods. Those two away are read only when their
            // timing error alone (at least a sixteenth and a half) might still beat the best of
            // the nearer ones (farBound): no value costs less than nothing.
            if (centre >= 2 && centre <= 31) {
                consider(centre - 1);
                consider(centre);
                consider(centre + 1);
            } else {
                for (std::int32_t j = std::max(1, centre - 1); j <= std::min(32, centre + 1); ++j) consider(j);
            }
            if (farBound[static_cast<std::size_t>(k)] * norm < best) {
                if (centre - 2 >= 1 && centre - 2 <= 32) consider(centre - 2);
                if (centre + 2 >= 1 && centre + 2 <= 32) consider(centre + 2);
            }
            if (centre - 2 > 32) {
                const double e = d - p * 8.0;
                best = e * e * norm + qCost[32];
            }
            out[static_cast<std::size_t>(k)] = best;
        }
    };
    // The cheapest way into every state from `cost`: drift to a neighbour, a tempo change within
    // reach (minima of blocks as wide as the reach, from the left and from the right), or a
    // larger one from the cheapest state of all.
    // Scratch of every step, each entry written before it is read.
    constexpr std::int32_t kWidth = 2 * kJumpBins + 1;
    constexpr std::int32_t kPadded = (kBins + 2 * kJumpBins + kWidth - 1) / kWidth * kWidth;
    std::array<Cost, kPadded> fromLeft{}, fromRight{};
    std::array<double, kBins> value{};
    std::array<std::int32_t, kBins> source{};
    std::array<double, kBins + 2 * kDriftBins> padded{};
    padded.fill(kInf);
    const auto relax = [&](const std::array<double, kBins>& cost, std::array<Cost, kBins>& out) {
        Cost global;
        for (std::int32_t k = 0; k < kBins; ++k)
            if (cost[static_cast<std::size_t>(k)] < global.Value) global = {cost[static_cast<std::size_t>(k)], k};
        const auto state = [&](std::int32_t j) {
            const std::int32_t k = j - kJumpBins;
            return k >= 0 && k < kBins ? Cost{cost[static_cast<std::size_t>(k)], k} : Cost{};
        };
        for (std::int32_t block = 0; block < kPadded; block += kWidth) {
            fromLeft[static_cast<std::size_t>(block)] = state(block);
            for (std::int32_t j = block + 1; j < block + kWidth; ++j) {
                const Cost here = state(j);
                const auto uj = static_cast<std::size_t>(j);
                fromLeft[uj] = here.Value < fromLeft[uj - 1].Value ? here : fromLeft[uj - 1];
            }
            const std::int32_t last = block + kWidth - 1;
            fromRight[static_cast<std::size_t>(last)] = state(last);
            for (std::int32_t j = last - 1; j >= block; --j) {
                const Cost here = state(j);
                const auto uj = static_cast<std::size_t>(j);
                fromRight[uj] = here.Value <= fromRight[uj + 1].Value ? here : fromRight[uj + 1];
            }
        }
        for (std::int32_t to = 0; to < kBins; ++to) {
            Cost best{global.Value + kJumpCost + kOctaveJumpCost, global.From};
            // Padded indices to .. to + 2 * kJumpBins hold the states to - kJumpBins .. to + kJumpBins.
            const Cost& left = fromRight[static_cast<std::size_t>(to)];
            const Cost& right = fromLeft[static_cast<std::size_t>(to + 2 * kJumpBins)];
            const Cost& reach = left.Value <= right.Value ? left : right;
            if (reach.Value + kJumpCost < best.Value) best = {reach.Value + kJumpCost, reach.From};
            value[static_cast<std::size_t>(to)] = best.Value;
            source[static_cast<std::size_t>(to)] = best.From;
        }
        // Drift, one distance at a time over all states (those beyond the ends cost infinitely
        // much), lowest source first, the order in which a state's own scan would meet them.
        std::copy(cost.begin(), cost.end(), padded.begin() + kDriftBins);
        for (std::int32_t offset = -kDriftBins; offset <= kDriftBins; ++offset) {
            const double drift = kDriftCost * std::abs(offset);
            for (std::int32_t to = 0; to < kBins; ++to) {
                const auto uto = static_cast<std::size_t>(to);
                const double c = padded[static_cast<std::size_t>(to + kDriftBins + offset)] + drift;
                const bool better = c < value[uto];
                value[uto] = better ? c : value[uto];
                source[uto] = better ? to + offset : source[uto];
            }
        }
        for (std::size_t to = 0; to < kBins; ++to) out[to] = {value[to], source[to]};
    };

    // Two costs per period: the interval's later note kept, or passed over as a stray (a split
    // or an ornament off the beat: the next interval is measured from the note before it; never
    // two strays in a row). With a hold, a second layer of states holds the paths that have left
    // the held tempo: once the opening is over, any state of the first layer enters any of the
    // second at no cost, once (a change the opening's tempo was bent by lies after it, where the
    // notes put it).
    struct Step {
        std::uint8_t From = 0;  // a period bin
        bool FromStray = false;
        bool FromHeld = false;  // from the first layer into the second
    };
    static_assert(kBins <= 256);
    const auto at = [](std::size_t i, std::int32_t k, bool strayNote) {
        return (2 * i + (strayNote ? 1 : 0)) * kBins + static_cast<std::size_t>(k);
    };
    struct Layer {
        std::array<double, kBins> Kept{}, Passed{};
        // The ways into the kept states, this step's and the one before (a stray's way in), in turn.
        std::array<Cost, kBins> FromKeptOdd{}, FromKeptEven{}, FromPassedFirst{};
        std::array<bool, kBins> HeldOdd{}, HeldEven{};
        std::vector<Step> Back;
    };
    std::array<Layer, 2> layers;
    const std::size_t layerCount = hold ? 2 : 1;
    for (std::size_t l = 0; l < layerCount; ++l) layers[l].Back.resize(2 * n * kBins);
    // A held opening: its intervals keep periods within the drift's reach of the held one.
    const std::int32_t holdBin =
        hold ? static_cast<std::int32_t>(std::lrint(std::log(60.0 / hold->Period / kLowestBpm) / std::log(kBinRatio)))
             : 0;
    const auto holdBand = [&](std::size_t interval, std::array<double, kBins>& out) {
        if (!hold || hold->Period <= 0.0 || interval >= hold->Intervals) return;
        for (std::int32_t k = 0; k < kBins; ++k)
            if (std::abs(k - holdBin) > kDriftBins) out[static_cast<std::size_t>(k)] = kInf;
    };
    std::array<double, kBins> near{}, far{};
    double logInterval = 0.0;
    for (std::size_t i = 0; i < n; ++i) logInterval += std::log(std::max(onsets[i + 1] - onsets[i], 1e-3));
    const double centreBpm = 60.0 * kTypicalQuarters / std::exp(logInterval / static_cast<double>(n));
    emission(onsets[1] - onsets[0], near);
    holdBand(0, near);
    std::array<double, kBins> prior{};
    for (std::int32_t k = 0; k < kBins; ++k) {
        const auto uk = static_cast<std::size_t>(k);
        const double l = std::log2(BinBpm(k) / centreBpm);
        prior[uk] = l * l / (2.0 * kCentreSpread * kCentreSpread);
        layers[0].Kept[uk] = prior[uk] + near[uk];
        layers[0].Passed[uk] = prior[uk] + kStrayCost;
    }
    layers[1].Kept.fill(kInf);
    layers[1].Passed.fill(kInf);
    for (std::size_t i = 1; i < n; ++i) {
        emission(onsets[i + 1] - onsets[i], near);
        emission(onsets[i + 1] - onsets[i - 1], far);
        holdBand(i, near);
        holdBand(i, far);
        // The cheapest state of the first layer, for the way into the second.
        Cost leave;
        if (hold && i >= hold->Intervals)
            for (std::int32_t k = 0; k < kBins; ++k)
                if (layers[0].Kept[static_cast<std::size_t>(k)] < leave.Value)
                    leave = {layers[0].Kept[static_cast<std::size_t>(k)], k};
        for (std::size_t l = layerCount; l-- > 0;) {
            Layer& layer = layers[l];
            // A stray's costs are its predecessor's plus a constant, so the way into them is the
            // way found one step earlier, plus that constant.
            std::array<Cost, kBins>& fromKept = i % 2 == 1 ? layer.FromKeptOdd : layer.FromKeptEven;
            std::array<bool, kBins>& heldKept = i % 2 == 1 ? layer.HeldOdd : layer.HeldEven;
            const std::array<Cost, kBins>& fromPassed =
                i == 1 ? layer.FromPassedFirst : i % 2 == 1 ? layer.FromKeptEven : layer.FromKeptOdd;
            const std::array<bool, kBins>& heldPassed = i % 2 == 1 ? layer.HeldEven : layer.HeldOdd;
            const double strayExtra = i == 1 ? 0.0 : kStrayCost;
            if (i == 1) relax(layer.Passed, layer.FromPassedFirst);
            relax(layer.Kept, fromKept);
            for (std::size_t k = 0; k < kBins; ++k) {
                heldKept[k] = l == 1 && leave.Value < fromKept[k].Value;
                if (heldKept[k]) fromKept[k] = leave;
            }
            std::array<double, kBins> nextKept{}, nextPassed{};
            for (std::int32_t k = 0; k < kBins; ++k) {
                const auto uk = static_cast<std::size_t>(k);
                const double viaKept = fromKept[uk].Value + near[uk];
                const double viaPassed = fromPassed[uk].Value + strayExtra + far[uk];
                nextKept[uk] = std::min(viaKept, viaPassed) + kCentrePull * prior[uk];
                layer.Back[at(i, k, false)] =
                    viaKept <= viaPassed
                        ? Step{static_cast<std::uint8_t>(fromKept[uk].From), false, heldKept[uk]}
                        : Step{static_cast<std::uint8_t>(fromPassed[uk].From), true, i > 1 && heldPassed[uk]};
                nextPassed[uk] = layer.Kept[uk] + kStrayCost;
                layer.Back[at(i, k, true)] = {static_cast<std::uint8_t>(k), false, false};
            }
            layer.Kept = nextKept;
            layer.Passed = nextPassed;
        }
    }
    std::vector<double> result(n);
    stray.assign(n + 1, false);
    // The cheapest end over the layers, the first on ties.
    std::size_t layer = 0;
    bool strayNote = false;
    std::int32_t state = 0;
    pathCost = kInf;
    for (std::size_t l = 0; l < layerCount; ++l) {
        const auto bestKept = std::min_element(layers[l].Kept.begin(), layers[l].Kept.end());
        const auto bestPassed = std::min_element(layers[l].Passed.begin(), layers[l].Passed.end());
        const bool passedNote = *bestPassed < *bestKept;
        const double c = std::min(*bestPassed, *bestKept);
        if (c < pathCost) {
            pathCost = c;
            layer = l;
            strayNote = passedNote;
            state = static_cast<std::int32_t>(passedNote ? bestPassed - layers[l].Passed.begin()
                                                         : bestKept - layers[l].Kept.begin());
        }
    }
    for (std::size_t i = n; i-- > 0;) {
        result[i] = periods[static_cast<std::size_t>(state)];
        stray[i + 1] = strayNote;
        if (i == 0) break;
        const Step step = layers[layer].Back[at(i, state, strayNote)];
        state = step.From;
        strayNote = step.FromStray;
        if (step.FromHeld) layer = 0;
    }
    return result;
}

TrackedBeats TempoTracker::Track(const std::vector<double>& onsets, double downbeatSeconds, double fixedBpm,
                                 const Meter& meter) const {
    TrackedBeats out;
    const double beatQuarters = meter.BeatQuarters();
    const double barQuarters = meter.BarQuarters();
    const std::size_t n = onsets.size();
    const auto constant = [&](double bpm) {
        out.Tempo = {{downbeatSeconds, 0.0, bpm}};
        for (double t : onsets) {
            out.Positions.push_back((t - downbeatSeconds) * bpm / 60.0);
            out.Periods.push_back(60.0 / bpm);
        }
        return out;
    };
    if (fixedBpm > 0.0) return constant(fixedBpm);
    if (n < 3) return constant(120.0);

    // The path's reading of the beat: a period per interval, segments where it jumps (each of at
    // least kMinSegment onsets) and the onsets the first grid is fitted on.
    struct Reading {
        std::vector<double> Periods;
        std::vector<bool> Stray;
        double Cost = 0.0;
        std::vector<std::size_t> Starts{0};
        std::vector<double> SegmentPeriods;
        std::size_t FirstEnd = 0;
        double FirstPath = 0.0;
    };
    const auto read = [&](std::optional<Hold> hold) {
        Reading r;
        r.Periods = ViterbiPeriods(onsets, r.Stray, r.Cost, hold);
        const std::vector<double>& vit = r.Periods;
        std::vector<std::size_t>& starts = r.Starts;
        for (std::size_t i = 1; i < vit.size(); ++i) {
            const double ratio = std::abs(std::log(vit[i] / vit[i - 1]) / std::log(kBinRatio));
            if (ratio > kDriftBins + 0.5 && i + 1 - starts.back() >= kMinSegment && n - (i + 1) >= kMinSegment)
                starts.push_back(i + 1);
        }
        // The path's first states have only the tempo prior beside them, so two or three onsets a
        // frame off can bend its start to another tempo: the first segment holds kFirstSegment onsets.
        if (starts.size() > 1 && starts[1] < kFirstSegment) starts.erase(starts.begin() + 1);
        for (std::size_t k = 0; k < starts.size(); ++k) {
            const std::size_t st = starts[k];
            const std::size_t en = k + 1 < starts.size() ? starts[k + 1] : n;
            r.SegmentPeriods.push_back(Median({vit.begin() + static_cast<std::ptrdiff_t>(st > 0 ? st - 1 : 0),
                                               vit.begin() + static_cast<std::ptrdiff_t>(en - 1)}));
        }
        // The first grid is fitted on the first segment's first onsets. A change of a few per cent
        // that the path takes as drift is no knot, but onsets after it would pull the first grid
        // off the first onsets: the fit stops where the path has moved more than kFirstDriftBins
        // from where it stood after the first kFirstSegment onsets (its very first states may be
        // bent, as above), and leans on the path's period over the onsets it fits, not over the
        // whole segment.
        r.FirstEnd = std::min<std::size_t>(starts.size() > 1 ? starts[1] : n, kFitOnsets);
        const double settled = vit[std::min(kFirstSegment, r.FirstEnd) - 2];
        for (std::size_t i = kFirstSegment - 1; i + 1 < r.FirstEnd; ++i) {
            if (std::abs(std::log(vit[i] / settled) / std::log(kBinRatio)) > kFirstDriftBins) {
                r.FirstEnd = i + 1;
                break;
            }
        }
        r.FirstPath = Median({vit.begin(), vit.begin() + static_cast<std::ptrdiff_t>(r.FirstEnd - 1)});
        return r;
    };

    // How well the first `count` onsets fit a grid of `period` whose quarter 0 lies `s` twelfths
    // of a sixteenth from the downbeat, slowing down or speeding up by `c`, held near the path's
    // `path`: for each of the spreads.
    std::vector<double> unramped(n);
    const auto openingFits = [&](std::int32_t s, double c, double period, std::size_t count, double path) {
        const double shift = period / 4.0 * s / 12.0;
        const double* times = onsets.data();
        if (c != 0.0) {
            Unramp(onsets.data(), count, downbeatSeconds, period, c, unramped.data());
            times = unramped.data();
        }
        std::array<double, 3> f = MetricalFits(times, count, downbeatSeconds + shift, 0.0, period);
        for (std::size_t j = 0; j < 3; ++j)
            f[j] -= 0.5 * shift * shift / (kSpreads[j] * kSpreads[j]) + PathPrior(period, path, kSpreads[j]) +
                    RampCost(c);
        return f;
    };
    // The best steady grid of a reading for its first `count` onsets.
    const auto openingFit = [&](const Reading& r, std::size_t count) {
        double best = -kInf;
        for (std::int32_t s = -6; s < 6; ++s)
            (void)BestPeriod(
                r.FirstPath, kPeriodSteps, kPeriodStep,
                [&](double period) {
                    const std::array<double, 3> f = openingFits(s, 0.0, period, count, r.FirstPath);
                    return std::max({f[0], f[1], f[2]});
                },
                best);
        return best;
    };

    Reading reading = read(std::nullopt);
    if (n > kOpeningOnsets) {
        std::vector<bool> openingStray;
        double openingCost = 0.0;
        const std::vector<double> opening = ViterbiPeriods(
            {onsets.begin(), onsets.begin() + static_cast<std::ptrdiff_t>(kOpeningOnsets)}, openingStray, openingCost);
        const double own = Median(opening);
        const double path = Median({reading.Periods.begin(),
                                    reading.Periods.begin() + static_cast<std::ptrdiff_t>(kOpeningOnsets - 1)});
        const double bins = std::abs(std::log(own / path) / std::log(kBinRatio));
        if (bins > kDriftBins + 0.5 && bins <= kJumpBins) {
            Reading held = read(Hold{kOpeningOnsets - 1, own});
            const std::size_t count = std::min(reading.FirstEnd, held.FirstEnd);
            // Log-likelihoods of the same onsets: the passes' of their intervals, the grids' of
            // their places in the opening. The free pass's is taken with the same leave to change
            // tempo once after the opening, which a hold without a period gives.
            std::vector<bool> freeStray;
            double freeCost = 0.0;
            (void)ViterbiPeriods(onsets, freeStray, freeCost, Hold{kOpeningOnsets - 1, 0.0});
            if (openingFit(held, count) - held.Cost > openingFit(reading, count) - freeCost + kChangeGain)
                reading = std::move(held);
        }
    }
    const std::vector<double>& vit = reading.Periods;
    const std::vector<bool>& stray = reading.Stray;
    const std::vector<std::size_t>& starts = reading.Starts;
    const std::vector<double>& segmentPeriod = reading.SegmentPeriods;
    const std::size_t firstEnd = reading.FirstEnd;
    const double firstPath = reading.FirstPath;

    // The first segment's period and phase: the likeliest grid for its first onsets, within
    // the timing spread of the Viterbi path's period. Quarter 0 is the grid point nearest the
    // downbeat, and lies there give or take the timing spread.
    TempoSegment first{downbeatSeconds, 0.0, 60.0 / firstPath};
    // The timing spread is found with them: slow attacks (a choir, bowed strings) spread the
    // onsets more than plucked or blown notes.
    // So is a ramp, where the first stretch itself slows down or speeds up.
    double bestFit = -kInf, spread = kBaseSpread, ramp = 0.0, rampQuarters = 0.0;
    const auto tryFirst = [&](std::int32_t s, double c) {
        // The best over the spreads of each period; which spread it was is kept below.
        const auto fits = [&](double period) { return openingFits(s, c, period, firstEnd, firstPath); };
        const double before = bestFit;
        const double p = BestPeriod(
            firstPath, kPeriodSteps, kPeriodStep,
            [&](double period) {
                const std::array<double, 3> f = fits(period);
                return std::max({f[0], f[1], f[2]});
            },
            bestFit);
        if (bestFit > before) {
            first = {downbeatSeconds + p / 4.0 * s / 12.0, 0.0, 60.0 / p};
            const std::array<double, 3> f = fits(p);
            spread = kSpreads[static_cast<std::size_t>(std::max_element(f.begin(), f.end()) - f.begin())];
            ramp = c;
            rampQuarters = (onsets[firstEnd - 1] - first.StartSeconds) / p;
        }
    };
    for (std::int32_t rs = -kFirstRamps; rs <= kFirstRamps; ++rs)
        for (std::int32_t s = -6; s < 6; ++s) tryFirst(s, kRampStep * rs);
    // The walk: each onset is predicted from a line through the recent ones of its piece that
    // carry the beat (from the piece itself until enough have), rounded to the sixteenth grid,
    // and joins the line unless it is a stray. The line follows slow drift.
    std::vector<double> grid(n), keptQ, keptT, linePeriods(n);
    out.Positions.resize(n);
    out.Periods.resize(n);
    TempoSegment piece = first;
    std::size_t pieceBegin = 0;
    // A piece's period follows its ramp over the quarters its fit saw, and holds beyond them.
    double pieceRamp = ramp, pieceRampQuarters = rampQuarters;
    const auto predict = [&] {
        const std::size_t recent = keptQ.size() - pieceBegin;
        const double since = recent > 0 ? keptQ.back() - piece.StartQuarter : 0.0;
        const double ramped = std::min(since, pieceRampQuarters);
        const double nominal = 60.0 / piece.Bpm * (1.0 + pieceRamp * ramped);
        double a = 0.0, p = 0.0;
        const std::size_t use = std::min(recent, kWindow);
        const double drift = kDriftSpread * nominal;
        if (recent >= kSettle &&
            FitRecent(keptQ, keptT, keptQ.size(), use, nominal, spread * spread / (drift * drift), a, p) &&
            keptQ.back() - keptQ[keptQ.size() - use] >= kSettleQuarters) {
            p = std::clamp(p, nominal * (1.0 - kPeriodLeeway), nominal * (1.0 + kPeriodLeeway));
            return TempoSegment{a + p * keptQ.back(), keptQ.back(), 60.0 / p};
        }
        // The piece's own line where the last onset lies.
        const double start = piece.StartSeconds + 60.0 / piece.Bpm * (ramped + 0.5 * pieceRamp * ramped * ramped) +
                             nominal * (since - ramped);
        return TempoSegment{start, piece.StartQuarter + since, 60.0 / nominal};
    };
    // The knot among onsets `from`..`to` after which the onsets up to `end` fit best, the earlier
    // ones on the line `prev`, the later ones on a new period near `centre` and held near the
    // path's `pathPeriod`, and near the interval from onset `jump` where the path changes (none:
    // the check's own search): kept in `knot` and `knotPiece`; returns that fit. A knot lies on
    // the grid so far. Near a jump of the path the knot's place in the bar weighs in too: where the
    // new line puts the knot's onset, so that of two phases of the new grid that fit the onsets
    // after it alike, the one with the change on a bar line or a beat wins.
    std::size_t knot = n;
    TempoSegment knotPiece;
    double knotRamp = 0.0, knotRampQuarters = 0.0;
    const auto findKnot = [&](const TempoSegment& prev, std::size_t from, std::size_t to, std::size_t end,
                              double centre, std::int32_t steps, double step, double pathPeriod,
                              std::optional<std::size_t> jump) {
        const double prevPeriod = 60.0 / prev.Bpm;
        double bestKnot = -kInf;
        // The knot at onset j with the new line starting `anchor` steps from the old line's time
        // and a ramp of `newRamp`: kept when it fits best so far.
        const auto tryKnot = [&](std::size_t j, std::int32_t anchor, double newRamp) {
            const double q =
                std::nearbyint(4.0 * (prev.StartQuarter + (onsets[j] - prev.StartSeconds) / prevPeriod)) / 4.0;
            const double t0 = prev.StartSeconds + (q - prev.StartQuarter) * prevPeriod;
            // The interval into the knot is read in the old tempo.
            const double before =
                MetricalFit(onsets.data() + from, j + 1 - from, prev.StartSeconds, prev.StartQuarter, prevPeriod,
                            spread, true) -
                MetricalFit(onsets.data() + j, 1, prev.StartSeconds, prev.StartQuarter, prevPeriod, spread);
            // The old line's time for the knot is an extrapolation from onsets before it, off by
            // about the timing spread: the new line may start beside it, at the cost of that miss,
            // when the onsets after the knot agree on it (a player who takes a breath at the change).
            const double start = t0 + spread * kAnchorStep * anchor;
            const double shift = (start - t0) / spread;
            const double* times = onsets.data() + j;
            double fit = -kInf;
            const double p = BestPeriod(
                centre, steps, step,
                [&](double period) {
                    if (newRamp != 0.0) {
                        Unramp(onsets.data() + j, end - j, start, period, newRamp, unramped.data());
                        times = unramped.data();
                    }
                    const double placed = std::nearbyint(4.0 * (q + (onsets[j] - start) / period)) / 4.0;
                    return before + MetricalFit(times, end - j, start, q, period, spread, true) -
                           PathPrior(period, pathPeriod, spread) - 0.5 * shift * shift - RampCost(newRamp) -
                           (jump ? KnotPlaceCost(placed, beatQuarters, barQuarters) : 0.0);
                },
                fit);
            if (jump) {
                const std::size_t away = j < *jump ? *jump - j : j > *jump + 1 ? j - *jump - 1 : 0;
                fit -= kKnotFromJumpCost * static_cast<double>(away);
            }
            if (fit > bestKnot + 1e-12) {
                bestKnot = fit;
                knot = j;
                knotPiece = {start, q, 60.0 / p};
                knotRamp = newRamp;
                knotRampQuarters = (onsets[end - 1] - start) / p;
            }
        };
        for (std::size_t j = from; j <= to; ++j)
            for (std::int32_t s = -kAnchorSteps; s <= kAnchorSteps; ++s) tryKnot(j, s, 0.0);
        // The new stretch may slow down or speed up from its knot on.
        if (bestKnot > -kInf) {
            const std::size_t j = knot;
            for (std::int32_t rs = -kKnotRamps; rs <= kKnotRamps; ++rs)
                for (std::int32_t s = -kAnchorSteps; s <= kAnchorSteps; ++s)
                    if (rs != 0) tryKnot(j, s, kRampStep * rs);
        }
        return bestKnot;
    };
    // Each later segment starts at a knot: an onset near where the path jumps (a change of
    // tempo is heard where a note starts), on the grid so far. The knot and the new period are
    // chosen so that the onsets around the knot fit best, when the walk reaches them.
    std::size_t next = 1;
    // The walk where it took a checked knot, kept until the next knot, to go back to: the knot's
    // onset, the line that held there, the knot's stretch, and the piece and kept onsets before it.
    struct Taken {
        std::size_t At = 0;
        TempoSegment Line;
        TempoSegment Knot;
        double KnotRamp = 0.0;
        TempoSegment Piece;
        double Ramp = 0.0, RampQuarters = 0.0;
        std::size_t Begin = 0, Kept = 0;
    };
    std::optional<Taken> lastChecked;
    // Whether the pending knot is a check's, whether the walk goes back to `lastChecked`, and the
    // onset from which the checks look again after it has (those between were weighed with the
    // excursion).
    bool knotChecked = false, goBack = false;
    std::size_t looksFrom = 0;
    // How well onsets `from`..`to` fit a stretch that starts at `s` and ramps by `c`.
    const auto stretchFit = [&](const TempoSegment& s, double c, std::size_t from, std::size_t to) {
        const double period = 60.0 / s.Bpm;
        const double* times = onsets.data() + from;
        if (c != 0.0) {
            Unramp(onsets.data() + from, to - from, s.StartSeconds, period, c, unramped.data());
            times = unramped.data();
        }
        return MetricalFit(times, to - from, s.StartSeconds, s.StartQuarter, period, spread, true);
    };
    // Whether the knot just found by a look that fits onsets up to `end` ends an excursion that
    // `lastChecked` began. The interval into the later knot is read in the excursion's tempo.
    const auto excursion = [&](std::size_t end) {
        const Taken& t = *lastChecked;
        if (knot - t.At > kLongSpan || std::abs(knotPiece.Bpm / t.Line.Bpm - 1.0) >= kLongLeastStep ||
            std::abs(t.Knot.Bpm / t.Line.Bpm - 1.0) < kLongLeastStep)
            return false;
        const double away =
            stretchFit(t.Knot, t.KnotRamp, t.At, knot + 1) - stretchFit(t.Knot, t.KnotRamp, knot, knot + 1);
        const double stay = stretchFit(t.Line, 0.0, t.At, knot + 1) - stretchFit(t.Line, 0.0, knot, knot + 1);
        if (away - stay >= kLongTempoGain) return false;
        double line = -kInf;
        for (std::int32_t s = -6; s <= 6; ++s) {
            const double shift = 60.0 / t.Line.Bpm / 4.0 * s / 12.0;
            const TempoSegment moved{t.Line.StartSeconds + shift, t.Line.StartQuarter, t.Line.Bpm};
            line = std::max(line, stretchFit(moved, 0.0, t.At, end) - 0.5 * shift * shift / (spread * spread));
        }
        return away + stretchFit(knotPiece, knotRamp, knot, end) - line < kLongTempoGain;
    };
    for (std::size_t i = 0; i < n; ++i) {
        if (next < starts.size() &&
            i == std::max(starts[next - 1] + 1, starts[next] > kKnotReach ? starts[next] - kKnotReach : 0)) {
            const std::size_t st = starts[next];
            const std::size_t end = std::min(next + 1 < starts.size() ? starts[next + 1] : n, st + kFitOnsets);
            (void)findKnot(predict(), i, std::min(end - 1, st + kKnotReach - 1), end, segmentPeriod[next], kPeriodSteps,
                           kPeriodStep, segmentPeriod[next], st - 1);
            knotChecked = false;
            ++next;
        }
        // A change the path missed (a few per cent): every few onsets once the line has settled,
        // the next ones are fitted anew from here; when a new period fits them clearly better, the
        // knot is sought among the first half of them. The short look first, then the long one;
        // neither reaches the path's next jump, which makes its own knot.
        const auto look = [&](std::size_t span, bool far) {
            if (knot != n || i + span > n || (next < starts.size() && i + span >= starts[next])) return;
            const TempoSegment line = predict();
            const double period = 60.0 / line.Bpm;
            const double q = std::nearbyint(4.0 * (line.StartQuarter + (onsets[i] - line.StartSeconds) / period)) / 4.0;
            const double t = line.StartSeconds + (q - line.StartQuarter) * period;
            std::int32_t steps = kCheckSteps;
            if (far) {
                const double quarters = (onsets[i + span - 1] - onsets[i]) / period;
                steps = std::min(kCheckSteps, static_cast<std::int32_t>(kLongSlip / (quarters * kCheckStep)));
                if (steps < 2) return;
            }
            const auto at = [&](std::size_t k) { return vit.begin() + static_cast<std::ptrdiff_t>(k); };
            const double path = Median({at(i - 1), at(i + span - 1)});
            const double steady =
                MetricalFit(onsets.data() + i, span, t, q, period, spread, true) - PathPrior(period, path, spread);
            double changed = -kInf;
            const double p = BestPeriod(
                period, steps, kCheckStep,
                [&](double candidate) {
                    return MetricalFit(onsets.data() + i, span, t, q, candidate, spread, true) -
                           PathPrior(candidate, path, spread);
                },
                changed);
            // The long look sees a change wherever it lies in its span, so its knot is sought up to
            // where half a short look's onsets are left to fit the new tempo, and that tempo anywhere
            // within the short look's reach of the period found: fitted on onsets from both sides of
            // the change, that period lies between the two tempi. A knot beyond the short look's
            // reach waits for a later look: its place on the grid so far is read off the line
            // carried that far ahead, which a ritardando has already left.
            const std::size_t last = far ? i + span - kCheckSpan / 2 : i + span / 2;
            const std::int32_t knotSteps = far ? kPeriodSteps : kPeriodSteps / 2;
            if (changed <= steady + kChangeGain) return;
            const double fit = findKnot(line, i, last, i + span, p, knotSteps, kPeriodStep, path, std::nullopt);
            bool taken = fit > steady + kChangeGain;
            if (taken && far)
                taken = knot <= i + kCheckSpan / 2 && std::abs(knotPiece.Bpm / line.Bpm - 1.0) >= kLongLeastStep;
            if (taken && far) {
                const bool slips =
                    std::abs(knotPiece.Bpm - line.Bpm) / 60.0 * (onsets[i + span - 1] - onsets[knot]) > kLongSlip;
                // The same search with the line's tempo kept moves the knot; the one found is restored.
                const auto found = std::tuple(knot, knotPiece, knotRamp, knotRampQuarters);
                taken = fit > findKnot(line, i, last, i + span, period, 0, kPeriodStep, path, std::nullopt) +
                                  (slips ? kChangeGain : kLongTempoGain);
                std::tie(knot, knotPiece, knotRamp, knotRampQuarters) = found;
            }
            if (!taken) knot = n;
            knotChecked = taken;
            goBack = taken && lastChecked && excursion(i + span);
        };
        if (i % kCheckEvery == 0 && keptQ.size() - pieceBegin >= kSettle && i >= looksFrom) {
            look(kCheckSpan, false);
            if (std::min(n - i, kLongSpan) >= kLongLeast) look(std::min(n - i, kLongSpan), true);
        }
        // The walk goes back to the excursion's first knot, once: the checks look again only from
        // the later knot on, and a knot they take then lies beyond it, so each onset is walked at
        // most twice for each excursion dropped.
        if (goBack) {
            const Taken& t = *lastChecked;
            looksFrom = knot;
            knot = n;
            goBack = false;
            piece = t.Piece;
            pieceRamp = t.Ramp;
            pieceRampQuarters = t.RampQuarters;
            pieceBegin = t.Begin;
            keptQ.resize(t.Kept);
            keptT.resize(t.Kept);
            i = t.At - 1;  // a checked knot follows kSettle kept onsets, so At > 0
            lastChecked.reset();
            continue;
        }
        if (i == knot) {
            if (knotChecked)
                lastChecked = Taken{i, predict(), knotPiece, knotRamp, piece, pieceRamp, pieceRampQuarters, pieceBegin,
                                    keptQ.size()};
            else
                lastChecked.reset();
            piece = knotPiece;
            pieceRamp = knotRamp;
            pieceRampQuarters = knotRampQuarters;
            pieceBegin = keptQ.size();
            knot = n;
        }
        const TempoSegment line = predict();
        const double x = line.StartQuarter + (onsets[i] - line.StartSeconds) * line.Bpm / 60.0;
        linePeriods[i] = 60.0 / line.Bpm;
        double q = std::nearbyint(4.0 * x) / 4.0;
        if (i > 0 && q <= grid[i - 1]) q = grid[i - 1] + 0.25;
        grid[i] = q;
        out.Positions[i] = x;
        if (!stray[i]) {
            keptQ.push_back(q);
            keptT.push_back(onsets[i]);
        }
    }
    out.Tempo = FitTempoMap(keptQ, keptT, 60.0 / first.Bpm);
    // Lengths are read in the tempo that holds from each note on.
    for (std::size_t i = 0, k = 0; i < n; ++i) {
        while (k + 1 < out.Tempo.size() && out.Tempo[k + 1].StartQuarter <= grid[i]) ++k;
        out.Periods[i] = 60.0 / out.Tempo[k].Bpm;
    }
    PreferSteadyGrid(onsets, downbeatSeconds, linePeriods, out);
    return out;
}

}  // namespace ruvo
