#include "score/KeyFinder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace ruvo {

namespace {

// Probe-tone ratings of the twelve degrees in a major and a minor key, from listening tests.
constexpr std::array<double, 12> kMajorProfile{6.35, 2.23, 3.48, 2.33, 4.38, 4.09, 2.52, 5.19, 2.39, 3.66, 2.29, 2.88};
constexpr std::array<double, 12> kMinorProfile{6.33, 2.68, 3.52, 5.38, 2.60, 3.53, 2.54, 4.75, 3.98, 2.69, 3.34, 3.17};
constexpr std::array<std::int32_t, 7> kMajorScale{0, 2, 4, 5, 7, 9, 11};

double Correlation(const std::array<double, 12>& h, const std::array<double, 12>& profile, std::int32_t tonic) {
    double mh = 0.0, mp = 0.0;
    for (std::size_t i = 0; i < 12; ++i) {
        mh += h[i] / 12.0;
        mp += profile[i] / 12.0;
    }
    double sxy = 0.0, sxx = 0.0, syy = 0.0;
    for (std::int32_t i = 0; i < 12; ++i) {
        const double x = h[static_cast<std::size_t>(i)] - mh;
        const double y = profile[static_cast<std::size_t>(((i - tonic) % 12 + 12) % 12)] - mp;
        sxy += x * y;
        sxx += x * x;
        syy += y * y;
    }
    return sxx > 0.0 && syy > 0.0 ? sxy / std::sqrt(sxx * syy) : 0.0;
}

}  // namespace

std::array<double, 12> KeyFinder::PitchClassDurations(const std::vector<TimedNote>& notes) {
    std::array<double, 12> h{};
    for (const TimedNote& n : notes)
        h[static_cast<std::size_t>(((n.Key % 12) + 12) % 12)] += std::max(0.0, n.Offset - n.Onset);
    return h;
}

KeySignature KeyFinder::Find(const std::vector<TimedNote>& notes) const {
    // Each note played is a vote for its pitch class's place in the scale, and a held note is
    // heard for longer, but a note off the scale (a chromatic neighbour, a blue note) may be held
    // as long as any: a note weighs the square root of its length, so that one long stray note
    // does not outweigh a degree sung again and again, nor a few short strays one held degree.
    // A note's length is known to about one frame of the analysis at either end, which moves the
    // weight of a note of a quarter second by about 0.05: two scales whose covers differ by less
    // than that error over the notes that tell them apart are tied.
    constexpr double kWeightError = 0.05;  // square root of seconds
    const std::array<double, 12> h = PitchClassDurations(notes);
    std::array<double, 12> count{}, weight{};
    for (const TimedNote& n : notes) {
        const auto pc = static_cast<std::size_t>(((n.Key % 12) + 12) % 12);
        count[pc] += 1.0;
        weight[pc] += std::sqrt(std::max(0.0, n.Offset - n.Onset));
    }
    std::array<double, 12> cover{}, profile{};
    std::array<std::uint16_t, 12> scale{};  // bit per pitch class
    for (std::int32_t root = 0; root < 12; ++root) {
        const auto r = static_cast<std::size_t>(root);
        for (std::int32_t d : kMajorScale) {
            cover[r] += weight[static_cast<std::size_t>((root + d) % 12)];
            scale[r] = static_cast<std::uint16_t>(scale[r] | (1U << ((root + d) % 12)));
        }
        profile[r] = std::max(Correlation(h, kMajorProfile, root), Correlation(h, kMinorProfile, (root + 9) % 12));
    }
    std::size_t most = 0;
    for (std::size_t r = 1; r < 12; ++r)
        if (cover[r] > cover[most]) most = r;
    // Among the signatures tied with the best cover, the profiles decide.
    std::size_t best = most;
    for (std::size_t r = 0; r < 12; ++r) {
        double apart = 0.0;
        for (std::size_t pc = 0; pc < 12; ++pc)
            if (((scale[r] ^ scale[most]) >> pc) & 1U) apart += count[pc];
        const bool tied = cover[most] - cover[r] <= kWeightError * std::sqrt(apart) + 1e-9 * cover[most];
        if (tied && profile[r] > profile[best]) best = r;
    }
    const auto bestRoot = static_cast<std::int32_t>(best);
    KeySignature key;
    // Position of the major tonic on the circle of fifths, flats for F to Db, sharps from G to B.
    key.Fifths = (bestRoot * 7 + 6) % 12 - 6;
    key.Minor = Correlation(h, kMinorProfile, (bestRoot + 9) % 12) > Correlation(h, kMajorProfile, bestRoot);
    return key;
}

}  // namespace ruvo
