#include "engine/TChords.h"

#include "engine/FileIoError.h"
#include "engine/RawFile.h"
#include "engine/UFile.h"
#include "engine/WorkerPool.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

namespace ruvo {
namespace {

using Size = std::size_t;

constexpr std::int32_t kTick = kFrameSamples / kChordTicksPerFrame;  // 256 samples
constexpr std::int32_t kStep = kFrameSamples / kChordStepsPerFrame;  // 512 samples
constexpr std::int32_t kTicksPerStep = kStep / kTick;

// The pitch spectrum: a Hann window of 4096 samples centred on each step, bins 0..999 of its
// magnitude, square-rooted to tame the range between loud and soft partials.
constexpr std::int32_t kPitchWindow = 4096;
constexpr Size kBins = kChordBins;
constexpr Size kPitches = kChordPitches;
constexpr Size kColumns = kPitches + 1;  // the templates, then flat noise
// Harmonics 1..14: past them the partials of a low note crowd the fundamentals of the chord notes
// above it, which a longer template takes for its own.
constexpr std::int32_t kHarmonicCount = 14;
constexpr double kHarmonicSlope = 1.5;  // amplitude of harmonic h is h^-1.5 ...
constexpr double kTemplatePower = 0.5;  // ... in magnitude; the column is square-rooted like the spectrum
constexpr double kLobeHalfWidth = 2.5;  // bins either side of a partial's centre
constexpr double kQuarterToneDown = 0.971531941;  // 2^(-1/24)
constexpr double kNoiseLevel = 1.0 / kChordBins;
constexpr float kTiny = 1e-12f;
constexpr std::int32_t kFrameIterations = 30;  // updates of a step from an even start ...
constexpr std::int32_t kOnsetIterations = 25;  // ... of what an attack added
constexpr Size kChain = 16;                    // steps of a chain, each from the one before ...
constexpr std::int32_t kChainIterations = 8;   // ... with fewer updates
constexpr float kEvenShare = 0.2f;             // share of an even start mixed into a chained one
constexpr std::int32_t kPruneAt = 5;           // after 5 and 10 updates ...
constexpr float kPruneShare = 1e-3f;           // ... activations below 1/1000 of the largest are 0

// The attack detector: spectral flux of a 2048-sample Hann window every tick.
constexpr std::int32_t kFluxWindow = 2048;
constexpr double kFluxCompression = 100.0;  // ln(1 + 100 |X|)
constexpr double kFluxPercentile = 0.99;    // flux is measured against its 99th percentile
constexpr std::int32_t kPeakReach = 3;      // an attack is the largest flux within +-3 ticks ...
constexpr std::int32_t kMeanReach = 10;     // ... above the mean within +-10 ticks ...
constexpr double kPeakLift = 0.1;           // ... by 0.1
constexpr std::int32_t kMinAttackGap = 4;   // ticks between attacks

// What began at an attack: the spectrum of the ticks 1..15 after it (a pitch window, so that a
// slow attack has risen; never past the next attack) less that of the 4 before.
constexpr std::int32_t kAfterFirst = 1;
constexpr std::int32_t kAfterLast = 15;
constexpr std::int32_t kBeforeTicks = 4;
constexpr double kShareOfAttack = 0.5;     // a note of an attack holds half of its strongest ...
constexpr double kSoundingShareOfAttack = 0.25;  // (a quarter when it sounds there and rises) ...
constexpr double kAttackLevel = 0.875;     // ... and this share of the start level, in typical attacks

// Note runs in the activations, against the level a note must reach to start.
constexpr double kHoldShare = 0.5;          // a run lasts while above half the start level
constexpr double kRiseRatio = 2.0;          // a re-attack: a rise to twice the dip ...
constexpr double kRiseMin = 0.1;            // ... by at least 0.1
constexpr std::int32_t kMinRunSteps = 3;
// A run start moves to the latest attack up to 5 ticks after it or, since a soft note may
// cross the start level late, up to 10 ticks before it; in a recording whose notes speak slowly,
// further back by the time they take to speak beyond the window's own, to an attack from which
// the activation rose all the way, each step holding 0.9 of the one before (from its lowest
// point when the note still sounded there: a slow note struck again while the last dies away).
constexpr std::int32_t kSnapTicks = 5;
constexpr std::int32_t kSnapBackTicks = 10;
constexpr double kRiseHold = 0.9;
constexpr std::int32_t kSameStartTicks = 5; // an attack's note within this of a run start is that note
constexpr std::int32_t kMinNoteSteps = 3;
constexpr double kReleaseShare = 0.5;       // a note ends below half of where its own decay has led ...
constexpr double kReleaseFloor = 0.375;     // ... or below this share of the start level ...
constexpr Size kDecayFitSteps = 12;         // (its decay: the mean rate over its first 12 steps past the peak)
// ... or where it is released: the window centred on the release of a held tone holds 0.7 of
// its level, so a fall below 0.7 of the last 3 steps' largest while the fundamental's own bins
// fall too and that the next 3 steps do not undo (a neighbour's attack that takes the
// activation for a moment leaves the fundamental, and the activation comes back) ...
constexpr Size kFallSteps = 3;
constexpr double kFallShare = 0.7;
constexpr double kFundamentalFallShare = 0.9;
// ... and the note ends where that fall began: the last step that lost less than a tenth.
constexpr double kKneeShare = 0.9;
// A note has spoken where its activation first comes within a tenth of its peak over its first
// 12 steps; a sound that starts at once does so 2 steps later (the pitch window has filled to
// nine tenths of its weight).
constexpr Size kSpeakReach = 12;
constexpr double kSpokeShare = 0.9;
constexpr std::int64_t kWindowSpeaking = 2;
// A start is refused as the partials of a louder note 12, 19 or 24 semitones below or 12
// above when it is within three times what such a note calls up in this recording.
constexpr std::array<std::int64_t, 4> kGhostIntervals = {12, 19, 24, -12};
constexpr double kGhostMargin = 3.0;
constexpr double kFundamentalSupport = 0.6;  // share of a note's activation its fundamental must hold
constexpr Size kSustainSteps = 4;     // steps after its start at which a note must still sound
constexpr Size kClickSteps = 6;       // steps after its start at which the window has passed it
constexpr double kReattackRise = 1.5;  // an attack on a sounding note raises it by half

// Spill: activations between a tenth of the start level and the level itself.
constexpr double kSpillFloor = 0.1;
constexpr double kMostSpillRaise = 1.2;  // the start level rises by at most a fifth for spill

constexpr double kLoudestPercentile = 0.999;
// The loudest activations are taken as at least what a sine of 1/100 of full scale (-40 dB)
// calls up (80 times the root of its amplitude): a silent or near-silent recording has no notes.
constexpr double kLeastLoudest = 8.0;
constexpr double kAttackPercentile = 0.9;

constexpr Size kBatchSteps = 64;
constexpr std::int64_t kSegmentSteps = 8192;  // about 190 s of notes found at once ...
constexpr std::int64_t kSegmentMargin = 1024; // ... with 24 s of context either side
constexpr double kLeastNoteValue = 0.01;
constexpr double kStartOffset = 0.1;

// A note starts where its activation comes within the margin, plus 0.1, in log10 units, of
// the recording's loudest activations: 0.32 of them at the default margin 0.4.
double StartLevel(double margin) { return std::pow(10.0, -(margin + kStartOffset)); }

// A real FFT of n points through a complex one of n/2; magnitudes of the first bins.
class RealFft {
public:
    explicit RealFft(std::int32_t n) : m_half(static_cast<Size>(n / 2)), m_rev(m_half), m_tw(m_half), m_split(m_half) {
        Size bits = 0;
        while ((Size{1} << bits) < m_half) ++bits;
        for (Size k = 0; k < m_half; ++k) {
            Size r = 0;
            for (Size b = 0; b < bits; ++b) r |= ((k >> b) & 1U) << (bits - 1 - b);
            m_rev[k] = static_cast<std::uint32_t>(r);
            const double a = -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(m_half);
            m_tw[k] = {std::cos(a), std::sin(a)};
            const double s = -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(2 * m_half);
            m_split[k] = {std::cos(s), std::sin(s)};
        }
    }
    // in: 2 * half windowed samples; out: magnitudes of bins 0..out.size()-1 (at most half).
    void Magnitudes(const double* in, std::span<double> out, std::vector<std::array<double, 2>>& z) const {
        z.resize(m_half);
        for (Size k = 0; k < m_half; ++k) z[m_rev[k]] = {in[2 * k], in[2 * k + 1]};
        for (Size len = 2; len <= m_half; len *= 2) {
            const Size stride = m_half / len;
            for (Size s = 0; s < m_half; s += len) {
                for (Size j = 0; j < len / 2; ++j) {
                    const auto& w = m_tw[j * stride];
                    auto& a = z[s + j];
                    auto& b = z[s + j + len / 2];
                    const double tr = b[0] * w[0] - b[1] * w[1];
                    const double ti = b[0] * w[1] + b[1] * w[0];
                    b = {a[0] - tr, a[1] - ti};
                    a = {a[0] + tr, a[1] + ti};
                }
            }
        }
        for (Size k = 0; k < out.size(); ++k) {
            const auto& p = z[k];
            const auto& q = z[k == 0 ? 0 : m_half - k];
            const double er = 0.5 * (p[0] + q[0]);
            const double ei = 0.5 * (p[1] - q[1]);
            const double orr = 0.5 * (p[1] + q[1]);
            const double oi = -0.5 * (p[0] - q[0]);
            const auto& w = m_split[k];
            const double re = er + orr * w[0] - oi * w[1];
            const double im = ei + orr * w[1] + oi * w[0];
            out[k] = std::sqrt(re * re + im * im);
        }
    }

private:
    Size m_half;
    std::vector<std::uint32_t> m_rev;
    std::vector<std::array<double, 2>> m_tw;
    std::vector<std::array<double, 2>> m_split;
};

// The natural logarithm of x >= 1 to about 1e-5: the binary exponent, and a polynomial for
// the mantissa in [1, 2). The flux only compares neighbouring values of it.
float LnAtLeastOne(float x) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    const auto exponent = static_cast<float>(static_cast<std::int32_t>(bits >> 23) - 127);
    bits = (bits & 0x007FFFFFu) | 0x3F800000u;
    float m = 0.0f;
    std::memcpy(&m, &bits, sizeof m);
    m -= 1.0f;  // in [0, 1)
    const float poly = m * (0.99949556f + m * (-0.49190896f + m * (0.28947478f + m * (-0.13606275f + m * 0.03215845f))));
    return exponent * std::numbers::ln2_v<float> + poly;
}

std::vector<double> PeriodicHann(std::int32_t n) {
    std::vector<double> w(static_cast<Size>(n));
    for (Size i = 0; i < w.size(); ++i) {
        w[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / n);
    }
    return w;
}

// Magnitude of the periodic Hann window's transform d bins from its centre, 1 at the centre.
double HannLobe(double d) {
    const auto sinc = [](double u) { return u == 0.0 ? 1.0 : std::sin(std::numbers::pi * u) / (std::numbers::pi * u); };
    return std::abs(0.5 * sinc(d) + 0.25 * (sinc(d - 1.0) + sinc(d + 1.0))) / 0.5;
}

// Reads the normalised samples forward, a span at a time, zeros outside the recording.
class SampleWindow {
public:
    explicit SampleWindow(const ChordSamples& samples) : m_count(samples.Count), m_scale(1.0 / samples.FullScale) {
        if (m_count > 0) m_file.Open(samples.Name, RawFile::Mode::Read);
    }
    // The samples first..first+count-1; `first` never decreases from call to call.
    const double* Span(std::int64_t first, std::int64_t count) {
        if (m_buffer.empty()) m_start = first;
        if (first > m_start) {
            const auto drop = static_cast<Size>(std::min<std::int64_t>(first - m_start, static_cast<std::int64_t>(m_buffer.size())));
            m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(drop));
            m_start += static_cast<std::int64_t>(drop);
            m_start = std::max(m_start, first);
            if (m_buffer.empty()) m_start = first;
        }
        const std::int64_t end = first + count;
        while (m_start + static_cast<std::int64_t>(m_buffer.size()) < end) {
            const std::int64_t at = m_start + static_cast<std::int64_t>(m_buffer.size());
            if (at < 0 || at >= m_count) {
                m_buffer.push_back(0.0);
                continue;
            }
            const std::int64_t take = std::min(end, m_count) - at;
            const Size old = m_buffer.size();
            m_buffer.resize(old + static_cast<Size>(take));
            m_file.Seek(at * static_cast<std::int64_t>(sizeof(double)));
            const Size bytes = static_cast<Size>(take) * sizeof(double);
            if (m_file.Read(m_buffer.data() + old, bytes) != bytes) ThrowFileIoError(m_file.Path(), "read");
            for (Size i = old; i < m_buffer.size(); ++i) m_buffer[i] *= m_scale;
        }
        return m_buffer.data() + (first - m_start);
    }
    std::size_t Bytes() const { return m_buffer.capacity() * sizeof(double); }

private:
    RawFile m_file;
    std::int64_t m_count;
    double m_scale;
    std::int64_t m_start = 0;
    std::vector<double> m_buffer;
};

// The value below which share p of a set lies, from a histogram of log10 values in steps of
// 1/200 decade; deterministic and of fixed size at any length.
class LogHistogram {
public:
    void Add(double v) {
        const double x = v > 0.0 ? (std::log10(v) - kLow) * kPerDecade : 0.0;
        const auto bin = static_cast<Size>(std::clamp(x, 0.0, static_cast<double>(kBinsUsed - 1)));
        ++m_counts[bin];
        ++m_total;
    }
    double Quantile(double p) const {
        const auto wanted = static_cast<std::uint64_t>(std::ceil(p * static_cast<double>(m_total)));
        std::uint64_t seen = 0;
        for (Size b = 0; b < kBinsUsed; ++b) {
            seen += m_counts[b];
            if (seen >= wanted && seen > 0) return std::pow(10.0, kLow + (static_cast<double>(b) + 0.5) / kPerDecade);
        }
        return 0.0;
    }

private:
    static constexpr double kLow = -9.0;
    static constexpr double kPerDecade = 200.0;
    static constexpr Size kBinsUsed = 3000;
    std::array<std::uint64_t, kBinsUsed> m_counts{};
    std::uint64_t m_total = 0;
};

std::vector<double> ReadThresholds(const std::string& name, std::int32_t frameCount) {
    std::vector<double> margin(static_cast<Size>(frameCount), 0.4);
    TFileBase file;
    if (file.OpenFile(name, kModeRead, 1) != 0) throw FileIoError(name, "open", "no file name");
    for (double& m : margin) file.ReadData({&m, 1});
    file.CloseFile();
    return margin;
}

}  // namespace

TChords::TChords() { SetTimbre(kHarmonicSlope); }

void TChords::SetTimbre(double slope) {
    m_parts.clear();
    m_fundamental.clear();
    m_fundamentalWeight.clear();
    m_quarter.clear();
    m_firstPart.assign(1, 0);
    m_weights.clear();
    const double binHz = static_cast<double>(kNormalRate) / kPitchWindow;
    std::vector<double> column(kBins);
    for (Size p = 0; p < kPitches; ++p) {
        std::fill(column.begin(), column.end(), 0.0);
        const double f0 = 440.0 * std::pow(2.0, (static_cast<double>(p) + kChordLowKey - 69.0) / 12.0);
        for (std::int32_t h = 1; h <= kHarmonicCount; ++h) {
            const double c = h * f0 / binHz;
            if (c > static_cast<double>(kBins) - 3.0) break;
            const auto lo = static_cast<std::int32_t>(std::max(0.0, std::floor(c - kLobeHalfWidth)));
            const auto hi = std::min(static_cast<std::int32_t>(kBins), static_cast<std::int32_t>(c + kLobeHalfWidth) + 2);
            for (std::int32_t k = lo; k < hi; ++k) {
                column[static_cast<Size>(k)] += std::pow(h, -slope) * HannLobe(k - c);
            }
        }
        double sum = 0.0;
        for (double& v : column) sum += v;
        double rooted = 0.0;
        for (double& v : column) {
            v = std::pow(v / sum, kTemplatePower);
            rooted += v;
        }
        {
            // The fundamental's lobe, and the template's largest weight in it.
            const double c = f0 / binHz;
            const auto lo = static_cast<std::int32_t>(std::max(0.0, std::floor(c - 1.0)));
            const auto hi = std::min(static_cast<std::int32_t>(kBins) - 1, static_cast<std::int32_t>(c + 1.0));
            double top = 0.0;
            for (std::int32_t k = lo; k <= hi; ++k) top = std::max(top, column[static_cast<Size>(k)] / rooted);
            m_fundamental.push_back({lo, hi - lo + 1, 0});
            m_fundamentalWeight.push_back(static_cast<float>(top));
            // Fundamentals lie far inside the spectrum: the bins either side of this range exist.
            const auto qlo = std::max(1, static_cast<std::int32_t>(std::floor(c * kQuarterToneDown)));
            const auto qhi = std::min(static_cast<std::int32_t>(kBins) - 2, static_cast<std::int32_t>(std::ceil(c / kQuarterToneDown)));
            m_quarter.push_back({qlo, qhi - qlo + 1, 0});
        }
        for (Size k = 0; k < kBins;) {
            if (column[k] <= 0.0) {
                ++k;
                continue;
            }
            Harmonic part{static_cast<std::int32_t>(k), 0, static_cast<std::int32_t>(m_weights.size())};
            for (; k < kBins && column[k] > 0.0; ++k, ++part.Count) m_weights.push_back(static_cast<float>(column[k] / rooted));
            m_parts.push_back(part);
        }
        m_firstPart.push_back(static_cast<std::int32_t>(m_parts.size()));
    }
}

void TChords::Model(std::span<const float> h, std::span<float> model) const {
    std::fill(model.begin(), model.begin() + kBins, h[kPitches] * static_cast<float>(kNoiseLevel));
    const float* w = m_weights.data();
    for (Size p = 0; p < kPitches; ++p) {
        const float a = h[p];
        if (a == 0.0f) continue;
        for (auto q = m_firstPart[p]; q < m_firstPart[p + 1]; ++q) {
            const Harmonic& part = m_parts[static_cast<Size>(q)];
            float* m = model.data() + part.First;
            const float* pw = w + part.Weight;
            for (std::int32_t i = 0; i < part.Count; ++i) m[i] += a * pw[i];
        }
    }
}

void TChords::FundamentalSupport(const float* spectrum, std::span<float> support) const {
    for (Size p = 0; p < kPitches; ++p) {
        const Harmonic& lobe = m_fundamental[p];
        const float held = *std::max_element(spectrum + lobe.First, spectrum + lobe.First + lobe.Count);
        // The fundamental counts only where the spectrum peaks within its quarter tone: a range
        // whose loudest bin lies at its edge, beside a louder bin outside, holds only the flank
        // of a neighbour's partial, which a note a semitone away would otherwise claim.
        const float* lo = spectrum + m_quarter[p].First;
        const float* hi = lo + m_quarter[p].Count - 1;
        const float top = *std::max_element(lo, hi + 1);
        const bool flank = (*lo == top && lo[-1] > top) || (*hi == top && hi[1] > top);
        support[p] = flank ? 0.0f : held / m_fundamentalWeight[p];
    }
}

void TChords::Factorise(std::span<const float> v, std::int32_t iterations, std::span<float> h,
                        std::span<float> model, std::span<const float> start) const {
    // Kullback-Leibler multiplicative updates with the templates fixed; every column sums to 1,
    // so the update divides by nothing but the model.
    float total = 0.0f;
    for (Size k = 0; k < kBins; ++k) total += v[k];
    const float even = total / static_cast<float>(kColumns) + kTiny;
    if (start.empty()) {
        std::fill(h.begin(), h.begin() + kColumns, even);
    } else {
        // From the neighbour's activations, rescaled to this spectrum, with a share of the
        // even start so that a note absent there can still rise.
        float before = 0.0f;
        for (Size p = 0; p < kColumns; ++p) before += start[p];
        const float scale = (1.0f - kEvenShare) * total / (before + kTiny);
        for (Size p = 0; p < kColumns; ++p) h[p] = scale * start[p] + kEvenShare * even;
    }
    const float* w = m_weights.data();
    for (std::int32_t it = 0; it < iterations; ++it) {
        Model(h, model);
        float noiseSum = 0.0f;
        for (Size k = 0; k < kBins; ++k) {
            model[k] = v[k] / (model[k] + kTiny);
            noiseSum += model[k];
        }
        for (Size p = 0; p < kPitches; ++p) {
            if (h[p] == 0.0f) continue;
            float dot = 0.0f;
            for (auto q = m_firstPart[p]; q < m_firstPart[p + 1]; ++q) {
                const Harmonic& part = m_parts[static_cast<Size>(q)];
                const float* r = model.data() + part.First;
                const float* pw = w + part.Weight;
                for (std::int32_t i = 0; i < part.Count; ++i) dot += r[i] * pw[i];
            }
            h[p] *= dot;
        }
        h[kPitches] *= noiseSum * static_cast<float>(kNoiseLevel);
        if (it == kPruneAt || it == 2 * kPruneAt) {
            // Templates that explain next to nothing leave the sums: they would stay near 0.
            const float loudest = *std::max_element(h.begin(), h.begin() + kPitches);
            for (Size p = 0; p < kPitches; ++p) h[p] = h[p] < kPruneShare * loudest ? 0.0f : h[p];
        }
    }
}

void TChords::WriteOnsets(const ChordSamples& samples, std::int32_t frameCount, const std::string& onsetName,
                          std::int32_t workers) {
    const auto ticks = static_cast<Size>(std::max(frameCount, 0)) * kChordTicksPerFrame;
    const Size bins = kFluxWindow / 2;  // the Nyquist bin of a Hann window is always near 0
    const RealFft fft(kFluxWindow);
    const std::vector<double> window = PeriodicHann(kFluxWindow);
    std::vector<float> flux(ticks, 0.0f);
    SampleWindow reader(samples);
    WorkerPool pool(workers > 0 ? workers : DefaultWorkerCount());
    const auto threads = static_cast<Size>(pool.Workers());
    std::vector<std::vector<std::array<double, 2>>> scratch(threads);
    std::vector<std::vector<double>> frames(threads, std::vector<double>(kFluxWindow));
    std::vector<std::vector<double>> magnitudes(threads, std::vector<double>(bins));
    // The compressed spectra of a batch of ticks, after the last one of the batch before.
    constexpr Size kBatchTicks = 256;
    std::vector<float> levels((kBatchTicks + 1) * bins, 0.0f);
    for (Size first = 0; first < ticks; first += kBatchTicks) {
        const Size count = std::min(kBatchTicks, ticks - first);
        const double* x = reader.Span(static_cast<std::int64_t>(first) * kTick - kFluxWindow / 2,
                                      static_cast<std::int64_t>(count - 1) * kTick + kFluxWindow);
        pool.Run(static_cast<std::int32_t>(count), [&](std::int32_t item, std::int32_t worker) {
            const auto i = static_cast<Size>(item);
            const auto wk = static_cast<Size>(worker);
            double* const f = frames[wk].data();
            const double* const s = x + i * kTick;
            for (Size j = 0; j < static_cast<Size>(kFluxWindow); ++j) f[j] = s[j] * window[j];
            fft.Magnitudes(f, magnitudes[wk], scratch[wk]);
            float* const level = levels.data() + (i + 1) * bins;
            for (Size k = 0; k < bins; ++k) level[k] = LnAtLeastOne(1.0f + static_cast<float>(kFluxCompression * magnitudes[wk][k]));
        });
        for (Size i = 0; i < count; ++i) {
            Idle();
            const float* const before = levels.data() + i * bins;
            const float* const now = before + bins;
            float sum = 0.0f;
            for (Size k = 0; k < bins; ++k) sum += std::max(0.0f, now[k] - before[k]);
            flux[first + i] = first + i > 0 ? sum : 0.0f;
        }
        std::copy(levels.end() - static_cast<std::ptrdiff_t>(bins), levels.end(), levels.begin());
    }
    std::vector<float> sorted = flux;
    double scale = 1.0;
    if (!sorted.empty()) {
        const auto at = static_cast<Size>(kFluxPercentile * static_cast<double>(sorted.size() - 1));
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(at), sorted.end());
        scale = sorted[at] + 1e-12;
    }
    m_peakBytes = flux.capacity() * sizeof(float) * 2 + reader.Bytes();
    sorted = {};
    std::vector<double> flags(kChordTicksPerFrame, 0.0);
    TFileBase out;
    if (out.OpenFile(onsetName, kModeWrite, kChordTicksPerFrame) != 0) throw FileIoError(onsetName, "open", "no file name");
    std::int64_t last = -kMinAttackGap;
    const auto n = static_cast<std::int64_t>(ticks);
    for (std::int64_t t = 0; t < n; ++t) {
        const double o = flux[static_cast<Size>(t)] / scale;
        bool peak = true;
        for (std::int64_t j = std::max<std::int64_t>(0, t - kPeakReach); j <= std::min(n - 1, t + kPeakReach); ++j) {
            if (flux[static_cast<Size>(j)] / scale > o) peak = false;
        }
        double mean = 0.0;
        const std::int64_t lo = std::max<std::int64_t>(0, t - kMeanReach);
        const std::int64_t hi = std::min(n - 1, t + kMeanReach);
        for (std::int64_t j = lo; j <= hi; ++j) mean += flux[static_cast<Size>(j)] / scale;
        mean /= static_cast<double>(hi - lo + 1);
        const bool attack = peak && o > mean + kPeakLift && t - last >= kMinAttackGap;
        if (attack) last = t;
        flags[static_cast<Size>(t % kChordTicksPerFrame)] = attack ? 1.0 : 0.0;
        if (t % kChordTicksPerFrame == kChordTicksPerFrame - 1) out.WriteData(flags);
    }
    out.CloseFile();
}

void TChords::WriteActivations(const ChordSamples& samples, std::int32_t frameCount, const std::string& onsetName,
                               const std::string& activationName, std::int32_t workers) {
    const std::int64_t steps = static_cast<std::int64_t>(std::max(frameCount, 0)) * kChordStepsPerFrame;
    // The attacks, in ticks.
    std::vector<std::int64_t> attacks;
    {
        TFileBase in;
        if (in.OpenFile(onsetName, kModeRead, kChordTicksPerFrame) != 0) throw FileIoError(onsetName, "open", "no file name");
        std::array<double, kChordTicksPerFrame> flags{};
        for (std::int64_t f = 0; f < frameCount; ++f) {
            in.ReadData(flags);
            for (Size i = 0; i < flags.size(); ++i) {
                if (flags[i] != 0.0) attacks.push_back(f * kChordTicksPerFrame + static_cast<std::int64_t>(i));
            }
        }
        in.CloseFile();
    }

    WorkerPool pool(workers > 0 ? workers : DefaultWorkerCount());
    const auto threads = static_cast<Size>(pool.Workers());
    std::vector<std::vector<std::array<double, 2>>> fftScratch(threads);
    std::vector<std::vector<double>> frames(threads, std::vector<double>(kPitchWindow));
    std::vector<std::vector<double>> magnitudes(threads, std::vector<double>(kBins));
    std::vector<std::vector<float>> models(threads, std::vector<float>(kBins));
    const RealFft fft(kPitchWindow);
    const std::vector<double> window = PeriodicHann(kPitchWindow);

    // Spectra of the batch and of the kHistory steps before it (an attack's "before" steps lie
    // at most kAfterLast + kBeforeTicks ticks before its last "after" step); records of this
    // batch and the last.
    constexpr Size kHistory = 16;
    static_assert(kHistory * kTicksPerStep >= kAfterLast + kBeforeTicks + 2 * kTicksPerStep);
    std::vector<float> spectra((kHistory + kBatchSteps) * kBins, 0.0f);
    std::vector<float> records(2 * kBatchSteps * kChordRecord, 0.0f);
    std::vector<float> differences(kBatchSteps * kBins);
    SampleWindow reader(samples);
    RawFile out;
    out.Open(activationName, RawFile::Mode::Write);
    Size nextAttack = 0;
    const auto stepOf = [](std::int64_t tick, bool up) {
        return up ? (tick + kTicksPerStep - 1) / kTicksPerStep : (tick >= 0 ? tick / kTicksPerStep : -((-tick + kTicksPerStep - 1) / kTicksPerStep));
    };
    for (std::int64_t first = 0; first < steps; first += static_cast<std::int64_t>(kBatchSteps)) {
        const auto count = static_cast<Size>(std::min<std::int64_t>(static_cast<std::int64_t>(kBatchSteps), steps - first));
        const double* x = reader.Span(first * kStep - kPitchWindow / 2,
                                      static_cast<std::int64_t>(count - 1) * kStep + kPitchWindow);
        float* const batchRecords = records.data() + kBatchSteps * kChordRecord;
        std::fill(batchRecords, batchRecords + kBatchSteps * kChordRecord, 0.0f);
        // A chain of kChain steps per item: the first starts afresh, the others from the step
        // before, which needs fewer updates. Chains start at fixed steps, whatever the threads.
        const auto chains = static_cast<std::int32_t>((count + kChain - 1) / kChain);
        pool.Run(chains, [&](std::int32_t item, std::int32_t worker) {
            const auto wk = static_cast<Size>(worker);
            std::array<float, kColumns> h{};
            std::array<float, kColumns> before{};
            for (Size i = static_cast<Size>(item) * kChain; i < std::min(count, static_cast<Size>(item + 1) * kChain); ++i) {
                double* const f = frames[wk].data();
                const double* const s = x + i * kStep;
                for (Size j = 0; j < static_cast<Size>(kPitchWindow); ++j) f[j] = s[j] * window[j];
                fft.Magnitudes(f, magnitudes[wk], fftScratch[wk]);
                float* const spectrum = spectra.data() + (kHistory + i) * kBins;
                for (Size k = 0; k < kBins; ++k) spectrum[k] = static_cast<float>(std::sqrt(magnitudes[wk][k]));
                const bool fresh = i % kChain == 0;
                Factorise({spectrum, kBins}, fresh ? kFrameIterations : kChainIterations, h, models[wk],
                          fresh ? std::span<const float>{} : std::span<const float>(before));
                before = h;
                std::copy(h.begin(), h.begin() + kPitches, batchRecords + i * kChordRecord);
                FundamentalSupport(spectrum, {batchRecords + i * kChordRecord + 2 * kPitches, kPitches});
                batchRecords[i * kChordRecord + kChordRecord - 1] = -1.0f;
            }
        });
        for (Size i = 0; i < count; ++i) Idle();
        // The attacks whose last "after" step lies in this batch (at the end: all the rest).
        const std::int64_t end = first + static_cast<std::int64_t>(count);
        std::vector<std::int64_t> due;
        while (nextAttack < attacks.size() &&
               (end == steps || stepOf(attacks[nextAttack] + kAfterLast, false) < end)) {
            due.push_back(attacks[nextAttack++]);
        }
        const auto row = [&](std::int64_t step) {
            return spectra.data() + static_cast<Size>(step - first + static_cast<std::int64_t>(kHistory)) * kBins;
        };
        pool.Run(static_cast<std::int32_t>(due.size()), [&](std::int32_t item, std::int32_t worker) {
            const std::int64_t tick = due[static_cast<Size>(item)];
            float* const d = differences.data() + static_cast<Size>(item) * kBins;
            std::fill(d, d + kBins, 0.0f);
            const std::int64_t a0 = stepOf(tick + kAfterFirst, true);
            // Up to the next attack at most: what it adds is not this attack's.
            const auto next = std::upper_bound(attacks.begin(), attacks.end(), tick);
            const std::int64_t last = next == attacks.end() ? tick + kAfterLast : std::min(tick + kAfterLast, *next - 1);
            const std::int64_t a1 = std::min(stepOf(last, false), steps - 1);
            const std::int64_t b0 = std::max<std::int64_t>(stepOf(tick - kBeforeTicks, true), 0);
            const std::int64_t b1 = stepOf(tick - 1, false);
            if (a1 >= a0) {
                for (std::int64_t s = a0; s <= a1; ++s) {
                    const float* r = row(s);
                    for (Size k = 0; k < kBins; ++k) d[k] += r[k] / static_cast<float>(a1 - a0 + 1);
                }
            }
            for (std::int64_t s = b0; s <= b1; ++s) {
                const float* r = row(s);
                for (Size k = 0; k < kBins; ++k) d[k] -= r[k] / static_cast<float>(b1 - b0 + 1);
            }
            for (Size k = 0; k < kBins; ++k) d[k] = std::max(d[k], 0.0f) + 1e-9f;
            std::array<float, kColumns> h{};
            Factorise({d, kBins}, kOnsetIterations, h, models[static_cast<Size>(worker)]);
            const std::int64_t step = tick / kTicksPerStep;
            float* const rec = records.data() + static_cast<Size>(step - first + static_cast<std::int64_t>(kBatchSteps)) * kChordRecord;
            std::copy(h.begin(), h.begin() + kPitches, rec + kPitches);
            rec[kChordRecord - 1] = static_cast<float>(tick % kTicksPerStep);
        });
        if (first > 0) out.Write(records.data(), kBatchSteps * kChordRecord * sizeof(float));
        std::copy(batchRecords, batchRecords + kBatchSteps * kChordRecord, records.begin());
        if (end == steps) out.Write(records.data(), count * kChordRecord * sizeof(float));
        std::copy(spectra.end() - static_cast<std::ptrdiff_t>(kHistory * kBins), spectra.end(), spectra.begin());
    }
    out.Close();
    m_peakBytes = reader.Bytes() + (spectra.capacity() + records.capacity() + differences.capacity()) * sizeof(float) +
                  attacks.capacity() * sizeof(std::int64_t) + threads * (kPitchWindow * 3 + kBins * 2) * sizeof(double);
}

namespace {

// One stretch of the activation file in memory, with what the whole recording says of it.
struct Stretch {
    std::int64_t First = 0;            // step of row 0
    std::int64_t Steps = 0;
    std::vector<float> Records;        // Steps records of kChordRecord
    std::span<const double> Margins;   // per frame of the recording
    double Loudest = 1.0;              // activations are measured against this
    double AttackScale = 1.0;          // what an attack adds, against this
    std::int64_t OwnFirst = 0;         // notes that start in these steps are kept
    std::int64_t OwnEnd = 0;
};

double Linear(std::vector<float> values, double share) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const double at = share * static_cast<double>(values.size() - 1);
    const auto lo = static_cast<Size>(at);
    const Size hi = std::min(lo + 1, values.size() - 1);
    return values[lo] + (at - static_cast<double>(lo)) * (values[hi] - values[lo]);
}

void NotesOfStretch(const Stretch& s, std::vector<ChordNote>& notes) {
    const auto n = static_cast<Size>(s.Steps);
    const auto level = [&](Size i) {
        const auto frame = static_cast<Size>((s.First + static_cast<std::int64_t>(i)) / kChordStepsPerFrame);
        return StartLevel(s.Margins[std::min(frame, s.Margins.size() - 1)]);
    };
    std::vector<double> startLevel(n);
    for (Size i = 0; i < n; ++i) startLevel[i] = level(i);
    // Where the activations below the start level (down to a tenth of it) outweigh those above
    // it, the templates explain this recording's spectra poorly (partials off the harmonic
    // series spread over the neighbouring pitches) and a peak near the level is more likely
    // such spill than a note: the level rises by that ratio, at most by a fifth.
    {
        double below = 0.0;
        double above = 0.0;
        for (Size i = 0; i < n; ++i) {
            for (Size q = 0; q < kPitches; ++q) {
                const double v = s.Records[i * kChordRecord + q] / s.Loudest;
                if (v >= startLevel[i]) {
                    above += v;
                } else if (v >= kSpillFloor * startLevel[i]) {
                    below += v;
                }
            }
        }
        const double raise = above > 0.0 ? std::clamp(below / above, 1.0, kMostSpillRaise) : 1.0;
        for (double& l : startLevel) l *= raise;
    }
    std::vector<std::int64_t> attackTicks;  // absolute ticks
    std::vector<Size> attackRows;
    for (Size i = 0; i < n; ++i) {
        const float at = s.Records[i * kChordRecord + kChordRecord - 1];
        if (at >= 0.0f) {
            attackTicks.push_back((s.First + static_cast<std::int64_t>(i)) * kTicksPerStep + static_cast<std::int64_t>(at));
            attackRows.push_back(i);
        }
    }
    // How strongly this recording's notes call up a template an interval above or below them
    // (their own partials fitting it): the median share over the steps where a note is clear.
    const auto act = [&](Size i, std::int64_t p) {
        return static_cast<double>(s.Records[i * kChordRecord + static_cast<Size>(p)]) / s.Loudest;
    };
    std::array<double, kGhostIntervals.size()> ghost{};
    {
        std::vector<float> shares;
        for (Size g = 0; g < kGhostIntervals.size(); ++g) {
            shares.clear();
            for (Size i = 0; i < n; ++i) {
                for (std::int64_t q = 0; q < static_cast<std::int64_t>(kPitches); ++q) {
                    const std::int64_t up = q + kGhostIntervals[g];
                    if (up < 0 || up >= static_cast<std::int64_t>(kPitches) || act(i, q) < startLevel[i]) continue;
                    shares.push_back(static_cast<float>(act(i, up) / act(i, q)));
                }
            }
            ghost[g] = Linear(shares, 0.5);
        }
    }
    // A start of pitch p whose early peak is within kGhostMargin times what a louder note an
    // interval away calls up is that note's partials, not a note, unless an attack there
    // began p and not that note.
    const auto earlyPeak = [&](Size i, std::int64_t p) {
        double top = 0.0;
        for (Size j = i; j < std::min(n, i + kSustainSteps + 1); ++j) top = std::max(top, act(j, p));
        return top;
    };
    // Whether an attack from two steps before step i to one after it began pitch p and not pitch
    // q (p holds half of what it added at its strongest pitch, q less): q's partials rise with q,
    // so what p gained there is its own.
    const auto leads = [&](Size i, std::int64_t p, std::int64_t q) {
        for (Size j = i >= 2 ? i - 2 : 0; j < std::min(n, i + 2); ++j) {
            if (s.Records[j * kChordRecord + kChordRecord - 1] < 0.0f) continue;
            const float* added = s.Records.data() + j * kChordRecord + kPitches;
            const float half = static_cast<float>(kShareOfAttack) * *std::max_element(added, added + kPitches);
            if (added[p] >= half && added[q] < half) return true;
        }
        return false;
    };
    const auto isGhost = [&](std::int64_t tick, std::int64_t p) {
        const auto i = static_cast<Size>(std::clamp<std::int64_t>((tick + 1) / kTicksPerStep - s.First, 0, s.Steps - 1));
        const double own = earlyPeak(i, p);
        // A start that the spectrum itself never holds above the hold level is no note.
        if (own < kHoldShare * startLevel[i]) return true;
        // Nor is one whose fundamental the spectrum does not hold: the common partials of others.
        // Past the attack's click, a window's half after the start, the fundamental's own bins
        // must hold a share of what the note's activation would put there.
        double fundamental = 0.0;
        double settled = 0.0;
        for (Size j = std::min(i + 2, n - 1); j < std::min(n, i + kSustainSteps + 1); ++j) {
            fundamental = std::max(fundamental, s.Records[j * kChordRecord + 2 * kPitches + static_cast<Size>(p)] / s.Loudest);
            settled = std::max(settled, act(j, p));
        }
        if (fundamental < kFundamentalSupport * settled) return true;
        // Below a louder note whose partials it shares, the same once the window has passed the
        // start: a low "note" that an attack's click raised and the partials above hold up.
        bool under = false;
        for (const std::int64_t up : {12, 19, 24}) {
            if (p + up < static_cast<std::int64_t>(kPitches) && earlyPeak(i, p + up) > own) under = true;
        }
        if (under && i + kClickSteps + 2 <= n) {
            fundamental = 0.0;
            settled = 0.0;
            for (Size j = i + kClickSteps; j < i + kClickSteps + 2; ++j) {
                fundamental = std::max(fundamental, s.Records[j * kChordRecord + 2 * kPitches + static_cast<Size>(p)] / s.Loudest);
                settled = std::max(settled, act(j, p));
            }
            if (fundamental < kFundamentalSupport * settled) return true;
        }
        // Nor is one that has gone once the window has passed its start: the click of an attack,
        // which every window that reaches it holds.
        double later = 0.0;
        for (Size j = i + kClickSteps; j < std::min(n, i + kClickSteps + 2); ++j) later = std::max(later, act(j, p));
        if (i + kClickSteps < n && later < kHoldShare * startLevel[i]) return true;
        for (Size g = 0; g < kGhostIntervals.size(); ++g) {
            const std::int64_t q = p - kGhostIntervals[g];
            if (q < 0 || q >= static_cast<std::int64_t>(kPitches)) continue;
            // The louder note at its peak over the reach in which a note speaks: it may still be
            // rising (the window filling, a slow note speaking) where the start's early peak is.
            double other = 0.0;
            for (Size j = i; j < std::min(n, i + kSpeakReach); ++j) other = std::max(other, act(j, q));
            if (other > own && own < kGhostMargin * ghost[g] * other && !leads(i, p, q)) return true;
        }
        return false;
    };
    // A dip of pitch p is a release and a new strike when an attack came up to a window's half
    // before it and the spectrum's own fundamental fell there as at a release, from its level a
    // window before: a note that other notes' partials crowd out holds its fundamental.
    const auto struckAt = [&](Size dipAt, Size p) {
        const std::int64_t tick = (s.First + static_cast<std::int64_t>(dipAt)) * kTicksPerStep;
        const auto near = std::lower_bound(attackTicks.begin(), attackTicks.end(), tick - static_cast<std::int64_t>(kSustainSteps) * kTicksPerStep);
        if (near == attackTicks.end() || *near > tick + kSnapTicks) return false;
        const auto fundamental = [&](Size j) { return static_cast<double>(s.Records[j * kChordRecord + 2 * kPitches + p]); };
        double held = 0.0;
        for (Size j = dipAt >= 2 * kSustainSteps ? dipAt - 2 * kSustainSteps : 0; j < dipAt; ++j) held = std::max(held, fundamental(j));
        return held * kFundamentalFallShare >= fundamental(dipAt);
    };
    struct Found {
        ChordNote Note;
        Size Speaking = 0;  // steps from its start to where its sound had risen
        bool Decayed = false;  // ended as its sound died away, not at a release or a new start
    };
    std::vector<Found> found;
    std::vector<double> a(n);
    std::vector<double> fund(n);
    std::vector<double> smooth(n);
    std::vector<std::int64_t> starts;
    std::vector<std::int64_t> heard;  // the attacks of this pitch
    // A run's start moves back to an attack over the time that this recording's notes take to
    // speak beyond the window's own: the second round knows it from the first.
    std::int64_t lag = 0;
    // Whether the activation rose all the way from an attack's step to run step j, each step
    // holding nine tenths of the one before.
    const auto risen = [&](std::int64_t attack, Size j) {
        const auto from = static_cast<Size>(std::clamp<std::int64_t>(attack / kTicksPerStep - s.First, 0, s.Steps - 1));
        Size low = from;
        if (a[from] >= kHoldShare * startLevel[from]) {
            for (Size q = from; q <= j; ++q) low = a[q] < a[low] ? q : low;
        }
        for (Size q = low + 1; q <= j; ++q) {
            if (a[q] < kRiseHold * a[q - 1]) return false;
        }
        return true;
    };
    // Whether an attack lies within a run start's reach of step j.
    const auto attackNear = [&](Size j) {
        const std::int64_t tick = (s.First + static_cast<std::int64_t>(j)) * kTicksPerStep;
        const auto it = std::lower_bound(attackTicks.begin(), attackTicks.end(), tick - kSnapBackTicks);
        return it != attackTicks.end() && *it <= tick + kSnapTicks;
    };
    for (std::int32_t round = 0; round < 2; ++round) {
        found.clear();
        const std::int64_t snapBack = kSnapBackTicks + lag;
        for (Size p = 0; p < kPitches; ++p) {
            for (Size i = 0; i < n; ++i) a[i] = s.Records[i * kChordRecord + p] / s.Loudest;
            for (Size i = 0; i < n; ++i) fund[i] = s.Records[i * kChordRecord + 2 * kPitches + p] / s.Loudest;
            for (Size i = 0; i < n; ++i) {
                smooth[i] = 0.5 * a[i] + 0.25 * (a[i > 0 ? i - 1 : i] + a[i + 1 < n ? i + 1 : i]);
            }
            starts.clear();
            heard.clear();
            // Runs: from where the activation reaches the start level (stepping back over its
            // rise, which in a recording of slowly speaking notes may falter by a tenth) while it
            // stays above half of it; a dip and a rise to twice the dip is a new start.
            for (Size t = 0; t < n;) {
                if (smooth[t] < startLevel[t]) {
                    ++t;
                    continue;
                }
                Size begin = t;
                while (begin > 0 && smooth[begin - 1] >= kHoldShare * startLevel[begin - 1] &&
                       smooth[begin - 1] * (lag > 0 ? kRiseHold : 1.0) < smooth[begin])
                    --begin;
                std::vector<Size> cuts{begin};
                double peak = smooth[t];
                double dip = smooth[t];
                Size dipAt = t;
                Size e = t;
                for (; e < n && smooth[e] >= kHoldShare * startLevel[e]; ++e) {
                    const double v = smooth[e];
                    if (v < dip) {
                        dip = v;
                        dipAt = e;
                    }
                    // Where an attack came up to a window's half before the dip, the dip is a
                    // release and a strike smeared by the window: the rise of a struck note does.
                    const bool attack = struckAt(dipAt, p);
                    if (v > (attack ? kReattackRise : kRiseRatio) * dip && v - dip > kRiseMin && dipAt > cuts.back()) {
                        // The new strike begins where this rise began when an attack explains
                        // it there: a later, shallower dip than the deepest (a ringing note that
                        // other notes' attacks pushed down before it was struck again).
                        Size foot = e;
                        while (foot > dipAt + 1 && smooth[foot - 1] < smooth[foot]) --foot;
                        if (!attackNear(foot)) foot = dipAt;
                        cuts.push_back(foot);
                        peak = v;
                        dip = v;
                        dipAt = e;
                    } else if (v > peak) {
                        peak = v;
                        dip = v;
                        dipAt = e;
                    }
                }
                cuts.push_back(e);
                for (Size k = 0; k + 1 < cuts.size(); ++k) {
                    if (cuts[k + 1] - cuts[k] < static_cast<Size>(kMinRunSteps)) continue;
                    std::int64_t tick = (s.First + static_cast<std::int64_t>(cuts[k])) * kTicksPerStep;
                    // The attack within reach is where the run's sound began.
                    const auto near = std::lower_bound(attackTicks.begin(), attackTicks.end(), tick - snapBack);
                    std::int64_t best = tick;
                    bool snapped = false;
                    for (auto it = near; it != attackTicks.end() && *it <= tick + kSnapTicks; ++it) {
                        // Beyond the usual reach, only an attack from which the activation rose.
                        if (*it < tick - kSnapBackTicks && !risen(*it, cuts[k])) continue;
                        best = snapped ? std::max(best, *it) : *it;
                        snapped = true;
                    }
                    starts.push_back(best);
                    // A dip and a rise at an attack strike the sounding note again.
                    if (k > 0 && snapped) heard.push_back(best);
                }
                t = e + 1;
            }
            // What began at each attack, unless a run already starts there.
            const auto startAt = [&](std::int64_t tick) {
                const bool known = std::any_of(starts.begin(), starts.end(),
                                               [&](std::int64_t t) { return std::abs(t - tick) <= kSameStartTicks; });
                if (!known) starts.push_back(tick);
            };
            for (Size k = 0; k < attackTicks.size(); ++k) {
                const float* rec = s.Records.data() + attackRows[k] * kChordRecord + kPitches;
                const float strongest = *std::max_element(rec, rec + kPitches);
                const double v = rec[p] / s.AttackScale;
                const Size i = attackRows[k];
                if (v <= kShareOfAttack * strongest / s.AttackScale || v <= kAttackLevel * startLevel[attackRows[k]]) {
                    // A softer share is a new strike of a note that sounds there when the note
                    // rises by half within a window's half: a bass struck again under its own
                    // octave, which takes most of what the attack added.
                    if (v <= kSoundingShareOfAttack * strongest / s.AttackScale) continue;
                    double was = 0.0;
                    for (Size j = i >= 2 ? i - 2 : 0; j < i; ++j) was = std::max(was, a[j]);
                    if (was < kHoldShare * startLevel[i]) continue;
                    double rose = 0.0;
                    for (Size j = i; j < std::min(n, i + kSustainSteps + 1); ++j) rose = std::max(rose, a[j]);
                    if (rose < kReattackRise * was) continue;
                    heard.push_back(attackTicks[k]);
                    startAt(attackTicks[k]);
                    continue;
                }
                // On a note already sounding, an attack of its pitch must raise it.
                double before = 0.0;
                for (Size j = i >= 2 ? i - 2 : 0; j < i; ++j) before = std::max(before, a[j]);
                double after = 0.0;
                for (Size j = i; j < std::min(n, i + kMinNoteSteps); ++j) after = std::max(after, a[j]);
                if (after >= kReattackRise * before) heard.push_back(attackTicks[k]);
                startAt(attackTicks[k]);
            }
            std::sort(starts.begin(), starts.end());
            starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
            starts.erase(std::remove_if(starts.begin(), starts.end(),
                                        [&](std::int64_t t) { return isGhost(t, static_cast<std::int64_t>(p)); }),
                         starts.end());
            // Each note lasts while it holds half of where its own decay from its peak leads (half
            // its peak for a held tone) and is not released, up to the next start. A start that
            // finds the note still sounding and no attack of its pitch there goes on with it.
            const auto stepOfTick = [&](std::int64_t tick) {
                return static_cast<Size>(std::clamp<std::int64_t>((tick + 1) / kTicksPerStep - s.First, 0, s.Steps));
            };
            const auto attacked = [&](std::int64_t tick) {
                return std::any_of(heard.begin(), heard.end(),
                                   [&](std::int64_t t) { return std::abs(t - tick) <= kSameStartTicks; });
            };
            // The largest of the kFallSteps values before step j; a release at step j.
            const auto recent = [&](const std::vector<double>& v, Size j) {
                double r = 0.0;
                for (Size q = j >= kFallSteps ? j - kFallSteps : 0; q < j; ++q) r = std::max(r, v[q]);
                return r;
            };
            const auto fell = [&](Size j) {
                const double held = recent(a, j);
                if (a[j] >= kFallShare * held || fund[j] >= kFundamentalFallShare * recent(fund, j)) return false;
                double later = 0.0;
                for (Size q = j + 1; q < std::min(n, j + 1 + kFallSteps); ++q) later = std::max(later, a[q]);
                return later < kFallShare * held;
            };
            const auto row = static_cast<std::int32_t>(p) + kChordLowKey - 33;
            for (Size k = 0; k < starts.size();) {
                const Size at = std::min(stepOfTick(starts[k]), n - 1);
                const Size early = std::min(n, at + kMinNoteSteps);
                const auto peakIt = std::max_element(a.begin() + static_cast<std::ptrdiff_t>(at),
                                                     a.begin() + static_cast<std::ptrdiff_t>(early));
                double top = *peakIt;
                Size peakAt = static_cast<Size>(peakIt - a.begin());
                Size e = at + 1;
                // A start that an attack drew back before the note's rise holds until the
                // activation has come up to the hold level (within the speaking reach).
                Size sounded = at;
                while (sounded + 1 < std::min(n, at + kSpeakReach) && a[sounded] < kHoldShare * startLevel[sounded])
                    ++sounded;
                const auto trend = [&](Size j) {
                    if (j <= peakAt + 1) return top;
                    const Size fit = std::min(j - 1, peakAt + kDecayFitSteps);
                    const double rate =
                        std::min(0.0, std::log(std::max(a[fit], 1e-9) / top) / static_cast<double>(fit - peakAt));
                    return top * std::exp(rate * static_cast<double>(j - peakAt));
                };
                Size next = k + 1;
                bool released = false;
                for (;;) {
                    const Size limit = next < starts.size() ? stepOfTick(starts[next]) : n;
                    while (e < limit &&
                           (e < std::max(at + kMinNoteSteps, sounded) ||
                            (a[e] >= std::max(kReleaseFloor * startLevel[at], kReleaseShare * trend(e)) && !fell(e)))) {
                        if (a[e] > top) {
                            top = a[e];
                            peakAt = e;
                        }
                        ++e;
                    }
                    released = e < limit && e > at && fell(e);
                    if (released) {
                        while (e > at + kMinNoteSteps && a[e - 1] < kKneeShare * a[e - 2]) --e;
                    }
                    if (next >= starts.size() || e < limit || attacked(starts[next])) break;
                    ++next;
                }
                // How long the sound took to speak: the steps to where it first came within a tenth
                // of its peak over the reach.
                const Size reach = std::min(e, at + kSpeakReach);
                const double loudest = *std::max_element(a.begin() + static_cast<std::ptrdiff_t>(at),
                                                         a.begin() + static_cast<std::ptrdiff_t>(reach));
                Size spoke = at;
                while (spoke + 1 < reach && a[spoke] < kSpokeShare * loudest) ++spoke;
                const bool decayed = e < (next < starts.size() ? stepOfTick(starts[next]) : n) && !released;
                if (starts[k] >= s.OwnFirst * kTicksPerStep && starts[k] < s.OwnEnd * kTicksPerStep && row >= 0 &&
                    row < kNoteCount) {
                    found.push_back({{starts[k], (s.First + static_cast<std::int64_t>(e)) * kTicksPerStep, row},
                                     spoke - at,
                                     decayed});
                }
                k = next;
            }
        }
        // The sound lags the key by the instrument's response, as much where it dies away as where
        // it speaks: how much longer than the window alone this recording's notes take to speak
        // (their median; a bowed or blown tone speaks slowly and dies slowly, a struck one does
        // neither). A note that died away ends that much earlier.
        if (round == 0) {
            std::vector<float> speaking;
            for (const Found& f : found) speaking.push_back(static_cast<float>(f.Speaking));
            lag = std::max<std::int64_t>(0, std::lrint(Linear(speaking, 0.5)) - kWindowSpeaking) * kTicksPerStep;
            if (lag == 0) break;
        }
    }
    for (Found& f : found) {
        if (f.Decayed) f.Note.End = std::max(f.Note.Start + kMinNoteSteps * kTicksPerStep, f.Note.End - lag);
        notes.push_back(f.Note);
    }
}

}  // namespace

std::vector<ChordNote> TChords::FindNotes(const std::string& activationName, const std::string& thresholdName,
                                          std::int32_t frameCount) {
    std::vector<ChordNote> notes;
    const std::int64_t steps = static_cast<std::int64_t>(std::max(frameCount, 0)) * kChordStepsPerFrame;
    if (steps == 0) return notes;
    const std::vector<double> margins = ReadThresholds(thresholdName, frameCount);
    RawFile in;
    in.Open(activationName, RawFile::Mode::Read);
    constexpr Size kRecordBytes = kChordRecord * sizeof(float);
    LogHistogram loudest;
    std::vector<float> attackPeaks;
    {
        std::vector<float> batch(kBatchSteps * kChordRecord);
        for (std::int64_t first = 0; first < steps; first += static_cast<std::int64_t>(kBatchSteps)) {
            const auto count = static_cast<Size>(std::min<std::int64_t>(static_cast<std::int64_t>(kBatchSteps), steps - first));
            if (in.Read(batch.data(), count * kRecordBytes) != count * kRecordBytes) ThrowFileIoError(in.Path(), "read");
            for (Size i = 0; i < count; ++i) {
                Idle();
                const float* rec = batch.data() + i * kChordRecord;
                for (Size p = 0; p < kPitches; ++p) loudest.Add(rec[p]);
                if (rec[kChordRecord - 1] >= 0.0f) attackPeaks.push_back(*std::max_element(rec + kPitches, rec + 2 * kPitches));
            }
        }
    }
    Stretch s;
    s.Margins = margins;
    s.Loudest = std::max(loudest.Quantile(kLoudestPercentile), kLeastLoudest);
    s.AttackScale = Linear(attackPeaks, kAttackPercentile) + 1e-12;
    for (std::int64_t own = 0; own < steps; own += kSegmentSteps) {
        s.OwnFirst = own;
        s.OwnEnd = std::min(steps, own + kSegmentSteps);
        s.First = std::max<std::int64_t>(0, own - kSegmentMargin);
        s.Steps = std::min(steps, s.OwnEnd + kSegmentMargin) - s.First;
        s.Records.resize(static_cast<Size>(s.Steps) * kChordRecord);
        in.Seek(s.First * static_cast<std::int64_t>(kRecordBytes));
        const Size bytes = static_cast<Size>(s.Steps) * kRecordBytes;
        if (in.Read(s.Records.data(), bytes) != bytes) ThrowFileIoError(in.Path(), "read");
        if (m_idle != nullptr) m_idle->PollNow();
        NotesOfStretch(s, notes);
    }
    in.Close();
    m_peakBytes = s.Records.capacity() * sizeof(float) + margins.capacity() * sizeof(double) +
                  attackPeaks.capacity() * sizeof(float) + notes.capacity() * sizeof(ChordNote) +
                  static_cast<Size>(s.Steps) * 8 * sizeof(double);
    std::sort(notes.begin(), notes.end(), [](const ChordNote& x, const ChordNote& y) {
        return x.Start != y.Start ? x.Start < y.Start : x.Row < y.Row;
    });
    return notes;
}

void TChords::WriteTable(std::span<const ChordNote> notes, const std::string& rawNoteName, std::int32_t frameCount,
                         const std::string& tableName) {
    // A note covers the frames from the one nearest its start to the one before the frame
    // nearest its end, at least one.
    struct Cells {
        std::int64_t First = 0;
        std::int64_t End = 0;
        Size Row = 0;
    };
    std::vector<Cells> cells;
    cells.reserve(notes.size());
    for (const ChordNote& note : notes) {
        const std::int64_t first = std::lrint(static_cast<double>(note.Start) / kChordTicksPerFrame);
        const std::int64_t end = std::max(first + 1, static_cast<std::int64_t>(std::lrint(static_cast<double>(note.End) / kChordTicksPerFrame)));
        cells.push_back({first, end, static_cast<Size>(note.Row)});
    }
    std::stable_sort(cells.begin(), cells.end(), [](const Cells& x, const Cells& y) { return x.First < y.First; });
    TFileBase raw;
    TFileBase table;
    if (raw.OpenFile(rawNoteName, kModeRead, kNoteCount) != 0) throw FileIoError(rawNoteName, "open", "no file name");
    if (table.OpenFile(tableName, kModeWrite, kNoteCount) != 0) throw FileIoError(tableName, "open", "no file name");
    std::array<std::int64_t, kNoteCount> until{};
    std::array<double, kNoteCount> intensity{};
    std::array<double, kNoteCount> record{};
    Size next = 0;
    Size ahead = 0;
    for (std::int64_t f = 0; f < frameCount; ++f) {
        Idle();
        raw.ReadData(intensity);
        for (; next < cells.size() && cells[next].First <= f; ++next) until[cells[next].Row] = std::max(until[cells[next].Row], cells[next].End);
        std::array<bool, kNoteCount> startsNext{};
        for (ahead = std::max(ahead, next); ahead < cells.size() && cells[ahead].First <= f + 1; ++ahead) {}
        for (Size k = next; k < ahead; ++k) startsNext[cells[k].Row] = true;
        for (Size r = 0; r < static_cast<Size>(kNoteCount); ++r) {
            record[r] = f < until[r] && !startsNext[r] ? std::max(intensity[r], kLeastNoteValue) : 0.0;
        }
        table.WriteData(record);
    }
    raw.CloseFile();
    table.CloseFile();
}

}  // namespace ruvo
