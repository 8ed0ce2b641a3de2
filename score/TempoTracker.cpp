#include "score/TempoTracker.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace ruvo {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Beat periods the Viterbi pass considers: 40 to 240 quarters per minute, 1 % apart.
constexpr double kLowestBpm = 40.0;
constexpr double kBinRatio = 1.01;
constexpr std::int32_t kBins = 181;

// Timing spread of an onset (seconds) and its growth with the interval's length.
constexpr double kBaseSpread = 0.035;
constexpr double kRelativeSpread = 0.03;
// Cost of moving the period by one bin between intervals, of a tempo change within a factor
// 1.45, and the extra cost of a larger one (halving or doubling is rarely real).
constexpr double kDriftCost = 1.5;
constexpr double kJumpCost = 8.0;
constexpr double kOctaveJumpCost = 30.0;
constexpr std::int32_t kDriftBins = 3;
constexpr std::int32_t kJumpBins = 37;  // log(1.45) / log(1.01)
// The first period leans towards a moderate tempo (log2 spread around 100 per minute).
constexpr double kCentreBpm = 100.0;
constexpr double kCentreSpread = 0.7;

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

double BinBpm(std::int32_t bin) { return kLowestBpm * std::pow(kBinRatio, bin); }

// Soft count of positions (quarters) lying on the sixteenth grid.
double GridFit(const double* positions, std::size_t count, double start, double period, double anchor) {
    constexpr double kWidth = 0.15;  // in sixteenths
    double sum = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double x = 4.0 * (positions[i] - anchor) / period + start;
        const double d = (x - std::nearbyint(x)) / kWidth;
        sum += std::exp(-0.5 * d * d);
    }
    return sum;
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

// Weighted least-squares line t = a + p q through the recent (q, t) pairs, newest weighing most.
bool FitRecent(const std::vector<double>& q, const std::vector<double>& t, std::size_t end, std::size_t count,
               double& a, double& p) {
    constexpr double kDecay = 0.8;
    double sw = 0.0, sq = 0.0, st = 0.0, sqq = 0.0, sqt = 0.0, w = 1.0;
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

}  // namespace

std::vector<double> TempoTracker::ViterbiPeriods(const std::vector<double>& onsets) const {
    const std::size_t n = onsets.size() - 1;
    std::array<double, kBins> periods{};
    for (std::int32_t k = 0; k < kBins; ++k) periods[static_cast<std::size_t>(k)] = 60.0 / BinBpm(k);
    std::array<double, 33> qCost{};
    for (std::size_t j = 1; j <= 32; ++j) qCost[j] = IntervalCost(static_cast<double>(j) / 4.0);

    std::vector<std::int32_t> back(n * kBins, 0);
    std::array<double, kBins> cost{};
    std::array<double, kBins> next{};
    for (std::size_t i = 0; i < n; ++i) {
        const double d = onsets[i + 1] - onsets[i];
        const double spread = std::sqrt(kBaseSpread * kBaseSpread + kRelativeSpread * kRelativeSpread * d * d);
        const double norm = 1.0 / (2.0 * spread * spread);
        for (std::int32_t k = 0; k < kBins; ++k) {
            const double p = periods[static_cast<std::size_t>(k)];
            const auto centre = static_cast<std::int32_t>(std::lrint(4.0 * d / p));
            double best = kInf;
            for (std::int32_t j = std::max(1, centre - 3); j <= std::min(32, centre + 3); ++j) {
                const double e = d - p * j / 4.0;
                best = std::min(best, e * e * norm + qCost[static_cast<std::size_t>(j)]);
            }
            if (centre - 3 > 32) {
                const double e = d - p * 8.0;
                best = e * e * norm + qCost[32];
            }
            next[static_cast<std::size_t>(k)] = best;
        }
        if (i == 0) {
            for (std::int32_t k = 0; k < kBins; ++k) {
                const double l = std::log2(BinBpm(k) / kCentreBpm);
                cost[static_cast<std::size_t>(k)] =
                    l * l / (2.0 * kCentreSpread * kCentreSpread) + next[static_cast<std::size_t>(k)];
            }
            continue;
        }
        Cost global;
        for (std::int32_t k = 0; k < kBins; ++k)
            if (cost[static_cast<std::size_t>(k)] < global.Value) global = {cost[static_cast<std::size_t>(k)], k};
        // The cheapest state within reach of a tempo change, for every state at once: minima
        // of blocks as wide as the reach, from the left and from the right.
        constexpr std::int32_t kWidth = 2 * kJumpBins + 1;
        constexpr std::int32_t kPadded = (kBins + 2 * kJumpBins + kWidth - 1) / kWidth * kWidth;
        std::array<Cost, kPadded> fromLeft{}, fromRight{};
        for (std::int32_t j = 0; j < kPadded; ++j) {
            const std::int32_t k = j - kJumpBins;
            const Cost here = k >= 0 && k < kBins ? Cost{cost[static_cast<std::size_t>(k)], k} : Cost{};
            const auto uj = static_cast<std::size_t>(j);
            fromLeft[uj] = j % kWidth == 0 || here.Value < fromLeft[uj - 1].Value ? here : fromLeft[uj - 1];
        }
        for (std::int32_t j = kPadded - 1; j >= 0; --j) {
            const std::int32_t k = j - kJumpBins;
            const Cost here = k >= 0 && k < kBins ? Cost{cost[static_cast<std::size_t>(k)], k} : Cost{};
            const auto uj = static_cast<std::size_t>(j);
            fromRight[uj] = j % kWidth == kWidth - 1 || here.Value <= fromRight[uj + 1].Value ? here : fromRight[uj + 1];
        }
        std::array<double, kBins> updated{};
        for (std::int32_t to = 0; to < kBins; ++to) {
            Cost best{global.Value + kJumpCost + kOctaveJumpCost, global.From};
            // Padded indices to .. to + 2 * kJumpBins hold the states to - kJumpBins .. to + kJumpBins.
            const Cost& left = fromRight[static_cast<std::size_t>(to)];
            const Cost& right = fromLeft[static_cast<std::size_t>(to + 2 * kJumpBins)];
            const Cost& reach = left.Value <= right.Value ? left : right;
            if (reach.Value + kJumpCost < best.Value) best = {reach.Value + kJumpCost, reach.From};
            for (std::int32_t from = std::max(0, to - kDriftBins); from <= std::min(kBins - 1, to + kDriftBins); ++from) {
                const double c = cost[static_cast<std::size_t>(from)] + kDriftCost * std::abs(from - to);
                if (c < best.Value) best = {c, from};
            }
            updated[static_cast<std::size_t>(to)] = best.Value + next[static_cast<std::size_t>(to)];
            back[i * kBins + static_cast<std::size_t>(to)] = best.From;
        }
        cost = updated;
    }
    std::vector<double> result(n);
    auto state = static_cast<std::int32_t>(std::min_element(cost.begin(), cost.end()) - cost.begin());
    for (std::size_t i = n; i-- > 0;) {
        result[i] = periods[static_cast<std::size_t>(state)];
        if (i > 0) state = back[i * kBins + static_cast<std::size_t>(state)];
    }
    return result;
}

TrackedBeats TempoTracker::Track(const std::vector<double>& onsets, double downbeatSeconds, double fixedBpm) const {
    TrackedBeats out;
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

    const std::vector<double> vit = ViterbiPeriods(onsets);
    // Segments start where the period path jumps; a segment holds at least four onsets.
    constexpr std::size_t kMinSegment = 4;
    std::vector<std::size_t> starts{0};
    for (std::size_t i = 1; i < vit.size(); ++i) {
        const double ratio = std::abs(std::log(vit[i] / vit[i - 1]) / std::log(kBinRatio));
        if (ratio > kDriftBins + 0.5 && i + 1 - starts.back() >= kMinSegment && n - (i + 1) >= kMinSegment)
            starts.push_back(i + 1);
    }
    std::vector<double> segmentPeriod;
    for (std::size_t k = 0; k < starts.size(); ++k) {
        const std::size_t st = starts[k];
        const std::size_t en = k + 1 < starts.size() ? starts[k + 1] : n;
        segmentPeriod.push_back(Median({vit.begin() + static_cast<std::ptrdiff_t>(st > 0 ? st - 1 : 0),
                                        vit.begin() + static_cast<std::ptrdiff_t>(en - 1)}));
    }

    // The first segment's period and sixteenth phase: most onsets on one grid. Quarter 0 is
    // the grid point nearest the downbeat.
    const std::size_t firstCount = std::min<std::size_t>(starts.size() > 1 ? starts[1] : n, 32);
    double period = segmentPeriod[0];
    double phase = 0.0;
    double bestFit = -1.0;
    for (std::int32_t r = -50; r <= 50; ++r) {
        const double p = segmentPeriod[0] * (1.0 + 0.001 * r);
        for (std::int32_t s = -12; s < 12; ++s) {
            const double ph = p / 4.0 * s / 24.0;
            const double fit = GridFit(onsets.data(), firstCount, 0.0, p, downbeatSeconds + ph);
            if (fit > bestFit + 1e-12) {
                bestFit = fit;
                period = p;
                phase = ph;
            }
        }
    }

    // The walk: each onset is predicted from a line through the recent ones, rounded to the
    // sixteenth grid, and joins the line.
    std::vector<double> grid(n), times(onsets);
    out.Positions.resize(n);
    out.Periods.resize(n);
    double anchorTime = downbeatSeconds + phase, anchorQuarter = 0.0;
    std::size_t segment = 0, segmentBegin = 0;
    double segmentScale = period / segmentPeriod[0];
    constexpr std::size_t kWindow = 8;
    constexpr double kPeriodLeeway = 0.08;
    for (std::size_t i = 0; i < n; ++i) {
        if (segment + 1 < starts.size() && i == starts[segment + 1]) {
            ++segment;
            period = segmentPeriod[segment] * segmentScale;
            segmentBegin = i;
        }
        double a = 0.0, p = 0.0;
        const std::size_t recent = i - segmentBegin;
        if (recent >= 3 && FitRecent(grid, times, i, std::min(recent, kWindow), a, p) &&
            grid[i - 1] - grid[i - std::min(recent, kWindow)] >= 1.0) {
            const double nominal = segmentPeriod[segment] * segmentScale;
            p = std::clamp(p, nominal * (1.0 - kPeriodLeeway), nominal * (1.0 + kPeriodLeeway));
            period = p;
            anchorQuarter = grid[i - 1];
            anchorTime = a + p * anchorQuarter;
        } else if (i > 0) {
            anchorQuarter = grid[i - 1];
            anchorTime = times[i - 1] - (out.Positions[i - 1] - grid[i - 1]) * period * 0.5;
        }
        const double x = anchorQuarter + (onsets[i] - anchorTime) / period;
        double q = std::nearbyint(4.0 * x) / 4.0;
        // A triplet placed on the sixteenth grid would bend the line; the quantiser decides later
        // whether the beat is written in triplets.
        if (const double r = std::nearbyint(3.0 * x) / 3.0; std::abs(x - r) < 0.04 && std::abs(x - q) > 0.07) q = r;
        if (i > 0 && q <= grid[i - 1]) q = grid[i - 1] + 0.25;
        grid[i] = q;
        out.Positions[i] = x;
        out.Periods[i] = period;
    }

    // The tempo map: the fewest straight pieces through (quarter, second) that fit the onsets,
    // each change paying for itself.
    constexpr double kChangeCost = 0.03;  // seconds squared
    std::vector<double> s1(n + 1, 0.0), sq(n + 1, 0.0), st(n + 1, 0.0), sqq(n + 1, 0.0), sqt(n + 1, 0.0),
        stt(n + 1, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        s1[i + 1] = s1[i] + 1.0;
        sq[i + 1] = sq[i] + grid[i];
        st[i + 1] = st[i] + times[i];
        sqq[i + 1] = sqq[i] + grid[i] * grid[i];
        sqt[i + 1] = sqt[i] + grid[i] * times[i];
        stt[i + 1] = stt[i] + times[i] * times[i];
    }
    const auto line = [&](std::size_t b, std::size_t e, double& a, double& p) {
        const double w = s1[e] - s1[b], q = sq[e] - sq[b], t = st[e] - st[b];
        const double qq = sqq[e] - sqq[b], qt = sqt[e] - sqt[b], tt = stt[e] - stt[b];
        const double det = w * qq - q * q;
        p = det > 1e-12 ? (w * qt - q * t) / det : period;
        a = (t - p * q) / w;
        // Residual sum of squares of the fitted line.
        return std::max(0.0, tt - a * t - p * qt);
    };
    // Neighbouring pieces share their knot: the note where one tempo ends and the next begins
    // lies on both lines. best[e]: the cheapest pieces covering notes 0..e.
    std::vector<double> best(n, kInf);
    std::vector<std::size_t> from(n, 0);
    const std::size_t minPiece = std::min(kMinSegment, n);
    for (std::size_t e = minPiece - 1; e < n; ++e) {
        double a = 0.0, p = 0.0;
        best[e] = line(0, e + 1, a, p);
        for (std::size_t b = 1; b + minPiece <= e + 1; ++b) {
            if (best[b] == kInf) continue;
            const double c = best[b] + line(b, e + 1, a, p) + kChangeCost;
            if (c < best[e]) {
                best[e] = c;
                from[e] = b;
            }
        }
    }
    std::vector<std::size_t> knots;
    for (std::size_t e = n - 1; e > 0; e = from[e]) knots.push_back(from[e]);
    if (knots.empty() || knots.back() != 0) knots.push_back(0);
    std::reverse(knots.begin(), knots.end());
    knots.erase(std::unique(knots.begin(), knots.end()), knots.end());
    for (std::size_t k = 0; k < knots.size(); ++k) {
        const std::size_t b = knots[k];
        const std::size_t e = k + 1 < knots.size() ? knots[k + 1] + 1 : n;
        double a = 0.0, p = 0.0;
        (void)line(b, e, a, p);
        p = std::clamp(p, 60.0 / kMaxScoreBpm, 60.0 / kMinScoreBpm);
        const double bpm = 60.0 / p;
        if (k == 0) {
            out.Tempo.push_back({a, 0.0, bpm});
            continue;
        }
        const double startQuarter = grid[b];
        const TempoSegment& prev = out.Tempo.back();
        // Where the previous piece reaches this one's first quarter: the map stays continuous.
        const double startSeconds = prev.StartSeconds + (startQuarter - prev.StartQuarter) * 60.0 / prev.Bpm;
        if (std::abs(bpm / prev.Bpm - 1.0) < 0.01) continue;
        out.Tempo.push_back({startSeconds, startQuarter, bpm});
    }
    // Lengths are read in the tempo that holds from each note on.
    for (std::size_t i = 0, k = 0; i < n; ++i) {
        while (k + 1 < out.Tempo.size() && out.Tempo[k + 1].StartQuarter <= grid[i]) ++k;
        out.Periods[i] = 60.0 / out.Tempo[k].Bpm;
    }
    return out;
}

}  // namespace ruvo
