#include "engine/TMelody.h"

#include "engine/FileIoError.h"
#include "engine/MelodyEdges.h"
#include "engine/TNote.h"
#include "engine/UFile.h"
#include "engine/WorkerPool.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <limits>
#include <numbers>
#include <numeric>

namespace ruvo {
namespace {

constexpr double kBinHz = 22050.0 / 4096.0;  // spectrum bin width
constexpr double kHarmonicDecay = 0.85;      // weight of harmonic h is 0.85^(h-1)
constexpr double kLevelWindowDb = 30.0;      // voiced range below the loudest frame ...
constexpr double kDefaultMargin = 0.4;       // ... at this threshold margin, in proportion
constexpr double kVoicingRampDb = 6.0;       // from unvoiced to fully voiced
constexpr double kLevelFloor = 1e-9;         // keeps the level of a silent frame finite
constexpr double kContrastGate = 0.3;        // log10(loudest / median salience) ...
constexpr double kContrastWidth = 0.1;       // ... ramps the voicing over this width
// A note that stands out of the spectrum by a factor of four (its harmonics alone above the
// rest) is heard as far again below the voicing window as the window is deep (30 dB at the
// default margin, none where the user's margin closes the window): a struck or plucked string
// decays out of the window long before its player lets it go.
constexpr double kClearContrast = 0.6;
// A note is heard at its pitch only with a fundamental of its own. Without one, the harmonics
// that make its salience are other notes' partials (an octave below a note, the even
// harmonics are that note's; in the overlap of a fifth, the two tones are the second and
// third harmonics of the note an octave below the lower one). A fundamental more than 25 dB
// (1.25 in log10 units) below the note's strongest harmonic counts it less and less, down to
// a quarter of its salience at 55 dB; a ramp, so that a fundamental that grows out of the
// floor raises the note's salience evenly rather than in one step.
constexpr double kFaintFundamental = 1.25;
constexpr double kMissingWidth = 1.5;
constexpr double kMissingLogShare = -1.3862943611198906;  // ln 0.25
constexpr double kEmissionFloor = 1e-4;  // no state is ever impossible
constexpr double kNoteStay = 0.9;        // a voiced frame keeps its note
constexpr double kJumpSemitones = 6.0;   // jumps fall off as exp(-distance / 6)
constexpr double kVoicedStay = 0.95;
constexpr double kUnvoicedStay = 0.95;
constexpr std::int32_t kOnsetLookBack = 4;  // blocks before the rise is measured against
constexpr double kOnsetRiseDb = 12.0;
// Blocks after an onset without another. A jump stays in the rise for as long as the look-back
// sees the quieter blocks before it, so a shorter pause counts a steady attack twice.
constexpr std::int32_t kOnsetRefractory = kOnsetLookBack;
constexpr std::int32_t kOnsetPeakReach = 2;  // an onset's rise is the largest within +-2 blocks
constexpr std::int32_t kMinNoteFrames = 2;
// A note that takes over from another without an attack goes back to where its salience rose
// to within 6 dB of its level at the change, by at most 4 frames.
constexpr double kLegatoRiseDb = 6.0;
constexpr std::size_t kLegatoReach = 4;
constexpr double kRiseBeginDb = 4.0;
constexpr double kRiseTotalDb = 10.0;
constexpr double kRiseNearDb = 3.0;
constexpr double kRiseBeginShare = 0.25;
// Held notes whose level wavers within a frame by more than 1.2 dB (a median over the notes;
// one voice or instrument 0.2-0.7, voices that beat against each other 1.6-1.9) are beating:
// a new note's salience swings there by several dB while it holds, and an old note's by a
// few dB while a neighbour rises on its flank.
constexpr double kBeatingWaverDb = 1.2;
constexpr double kBeatingHoldDb = 6.0;  // a new note holds within an attack's step of its rise
// Where voices beat, a note's attack under a held note that keeps the tracker's favour: its
// salience rises by 20 dB or more in one frame to within 8 dB of the held note, at most a fifth
// away.
constexpr double kSteepAttackDb = 20.0;
constexpr double kSteepAttackGapDb = 8.0;
constexpr std::size_t kSteepAttackReach = 7;
constexpr double kBeatingSwayDb = 3.0;  // an old note that holds may sway down by this much
// A fundamental's range is whole bins wide, and at low pitches a bin spans a large part of a
// semitone (more than one below 90 Hz), so the ranges of neighbouring notes share a bin and a
// voice sung a third of a semitone flat lies in both. Where the peak, placed between the bins
// by a parabola through the log magnitudes, lies more than a quarter tone from the note, the
// fundamental counts less, down to 0.85 of itself a semitone away.
constexpr double kHalfSemitoneCents = 50.0;
constexpr double kFarFundamentalShare = 0.85;
constexpr double kLeastNoteValue = 0.01;  // a sounding cell is never 0
// A held note's level holds or moves slowly; once the player lets go it falls off fast and
// steadily (a voice's or a bow's release, a piano's damper) and rings on in the release and
// the room until it leaves the voicing window or the next note takes over. The note ends at
// that turn where the fall steepens by 30 dB per second or more (a slow diminuendo or a
// struck string's decay steepens by far less, and a decay that slows down turns the other
// way), falls by an onset's rise (12 dB) after it and lasts three frames (139 ms) or more (a
// shorter fall is where the sound stops, which the note edges place already). The fall is
// steady where its blocks keep within 6 dB of its line (root mean square), as voices that beat
// against each other do; a sound that stops at once leaves the line by far more.
constexpr double kReleaseTurnDbPerSecond = 30.0;
constexpr double kReleaseFallDb = kOnsetRiseDb;
constexpr std::size_t kReleaseBlocks = 3 * kEnergyBlocksPerFrame;
constexpr double kReleaseSpreadDb = 6.0;

constexpr std::size_t kNotes = static_cast<std::size_t>(kNoteCount);
constexpr std::size_t kStates = static_cast<std::size_t>(kMelodyStates);

void OpenOrThrow(TFileBase& file, const std::string& name, std::int32_t mode, std::int32_t recLen) {
    if (file.OpenFile(name, mode, recLen) != 0) throw FileIoError(name, "open", "no file name");
}

double Clip01(double x) { return std::clamp(x, 0.0, 1.0); }

// Bin nearest to a frequency, as floor(f / bin width + 0.5).
std::int32_t NearestBin(double hz) { return static_cast<std::int32_t>(std::floor(hz / kBinHz + 0.5)); }

// The share of its magnitude that the fundamental of a note of `noteHz` keeps, from the loudest
// bin of its range (value `top`, a peak: the spectrum falls or stays level on both sides of it).
double FundamentalNearness(double noteHz, std::span<const double> spectrum, const HarmonicRange& range, double top) {
    auto peak = static_cast<std::size_t>(range.Lo);
    while (peak < static_cast<std::size_t>(range.Hi) && spectrum[peak] != top) ++peak;
    const double before = spectrum[peak - 1];
    const double after = spectrum[peak + 1];
    const double curve = before - 2.0 * top + after;
    const double offset = curve < 0.0 ? 0.5 * (before - after) / curve : 0.0;
    const double hz = (static_cast<double>(peak) + offset) * kBinHz;
    const double cents = std::abs(1200.0 * std::log2(hz / noteHz));
    if (cents <= kHalfSemitoneCents) return 1.0;
    return std::max(kFarFundamentalShare,
                    1.0 - (1.0 - kFarFundamentalShare) * (cents - kHalfSemitoneCents) / kHalfSemitoneCents);
}

// The voicing below the loudest frame widens with the threshold margin.
double LevelWindowDb(double margin) { return kLevelWindowDb * margin / kDefaultMargin; }

double LevelDb(double loudestSalience) { return 20.0 * std::log10(loudestSalience + kLevelFloor); }

// Energy of one block of samples in dB; the + 1 keeps digital silence at 0 dB.
double BlockEnergyDb(std::span<const double> block) {
    double sum = 0.0;
    for (const double x : block) sum += x * x;
    return 10.0 * std::log10(sum / static_cast<double>(block.size()) + 1.0);
}

static_assert(kOnsetBlockSamples * kEnergyBlocksPerFrame == kFrameSamples);
constexpr std::int32_t kOnsetRecord = 1 + kEnergyBlocksPerFrame;  // the flag, then the block energies
constexpr std::size_t kFrameBlocks = static_cast<std::size_t>(kEnergyBlocksPerFrame);

// Ends each note at the turn from its held level into a release (see kReleaseTurnDbPerSecond):
// the level of its blocks after its first minFrames frames (its attack), up to its end or the
// next note's start, is best told there by two straight lines in dB that meet at the turn,
// each over at least minFrames frames. energy: kEnergyBlocksPerFrame block energies in dB per
// frame. A note keeps minFrames.
void EndAtReleases(std::vector<MelodyNote>& notes, std::span<const float> energy, std::int32_t minFrames) {
    const auto blocks = static_cast<std::int64_t>(energy.size());
    const auto holdBlocks = static_cast<std::size_t>(kEnergyBlocksPerFrame * minFrames);
    constexpr double kBlockSeconds = static_cast<double>(kOnsetBlockSamples) / kNormalRate;
    // Sums over the blocks before each index k (k, k², y, k·y, y²), for the fits in O(1).
    std::vector<std::array<double, 5>> sums;
    // Sums over blocks [a, b) of u = k - c: count, u, u², y, u·y, y².
    struct Side {
        double N, U, UU, Y, UY, YY;
    };
    const auto side = [&](std::size_t a, std::size_t b, std::size_t c) {
        std::array<double, 5> d{};
        for (std::size_t t = 0; t < d.size(); ++t) d[t] = sums[b][t] - sums[a][t];
        const auto n = static_cast<double>(b - a);
        const auto x = static_cast<double>(c);
        return Side{n, d[0] - x * n, d[1] - 2.0 * x * d[0] + x * x * n, d[2], d[3] - x * d[2], d[4]};
    };
    for (std::size_t i = 0; i < notes.size(); ++i) {
        MelodyNote& note = notes[i];
        const std::int64_t lo = std::int64_t{kEnergyBlocksPerFrame} * (note.First + minFrames);
        std::int64_t hi = std::min<std::int64_t>(std::int64_t{kEnergyBlocksPerFrame} * note.End, blocks);
        if (i + 1 < notes.size())
            hi = std::min<std::int64_t>(hi, std::int64_t{kEnergyBlocksPerFrame} * notes[i + 1].First);
        if (hi - lo < static_cast<std::int64_t>(holdBlocks + std::max(holdBlocks, kReleaseBlocks))) continue;
        const auto count = static_cast<std::size_t>(hi - lo);
        sums.assign(count + 1, {});
        for (std::size_t k = 0; k < count; ++k) {
            const auto x = static_cast<double>(k);
            const double y = energy[static_cast<std::size_t>(lo) + k];
            const std::array<double, 5> term = {x, x * x, y, x * y, y * y};
            for (std::size_t t = 0; t < term.size(); ++t) sums[k + 1][t] = sums[k][t] + term[t];
        }
        // Least squares of level + held·min(k - c, 0) + release·max(k - c, 0): the two slopes
        // touch disjoint blocks, so each follows from the level, and the level from both.
        std::size_t turn = 0;
        double held = 0.0;
        double release = 0.0;
        double releaseError = 0.0;
        double least = std::numeric_limits<double>::infinity();
        for (std::size_t c = holdBlocks; c + holdBlocks <= count; ++c) {
            const Side before = side(0, c, c);
            const Side after = side(c, count, c);
            const double level =
                (before.Y + after.Y - before.U * before.UY / before.UU - after.U * after.UY / after.UU) /
                (before.N + after.N - before.U * before.U / before.UU - after.U * after.U / after.UU);
            const double heldSlope = (before.UY - level * before.U) / before.UU;
            const double releaseSlope = (after.UY - level * after.U) / after.UU;
            const double error =
                before.YY + after.YY - (level * (before.Y + after.Y) + heldSlope * before.UY + releaseSlope * after.UY);
            if (error < least) {
                least = error;
                turn = c;
                held = heldSlope;
                release = releaseSlope;
                releaseError = after.YY - 2.0 * level * after.Y - 2.0 * releaseSlope * after.UY +
                               level * level * after.N + 2.0 * level * releaseSlope * after.U +
                               releaseSlope * releaseSlope * after.UU;
            }
        }
        const double steepening = (release - held) / kBlockSeconds;
        const auto releaseBlocks = static_cast<double>(count - turn);
        const double fall = -release * (releaseBlocks - 1.0);
        if (count - turn < kReleaseBlocks || steepening > -kReleaseTurnDbPerSecond || fall < kReleaseFallDb ||
            releaseError > kReleaseSpreadDb * kReleaseSpreadDb * releaseBlocks) {
            continue;
        }
        const auto end = static_cast<std::int32_t>(EnergyBlockToFrame(lo + static_cast<std::int64_t>(turn)));
        note.End = std::clamp(end, note.First + minFrames, note.End);
    }
}

}  // namespace

TMelody::TMelody() : m_logTransition(kStates * kStates), m_ratio(kNotes), m_sorted(kNotes) {
    for (std::int32_t n = 0; n < kNoteCount; ++n) {
        const double noteHz = 55.0 * std::pow(2.0, n / 12.0);
        m_noteHz[static_cast<std::size_t>(n)] = noteHz;
        for (std::int32_t h = 1; h <= kMelodyHarmonics; ++h) {
            const double hz = h * noteHz;
            const std::int32_t lo = std::max(NearestBin(hz * std::pow(2.0, -1.0 / 24.0)), 1);
            const std::int32_t hi =
                std::min(std::max(NearestBin(hz * std::pow(2.0, 1.0 / 24.0)), lo), kSpectrumBins - 1);
            HarmonicRange& range = m_ranges[static_cast<std::size_t>(n * kMelodyHarmonics + h - 1)];
            if (lo < kSpectrumBins) {
                range.Lo = static_cast<std::int16_t>(lo);
                range.Hi = static_cast<std::int16_t>(hi);
                const auto width = static_cast<std::size_t>(hi - lo + 1);
                m_tableLevels = std::max(m_tableLevels, static_cast<std::size_t>(std::bit_width(width)));
            }
        }
    }
    for (std::size_t p = 0; p < m_ranges.size(); ++p) {
        const HarmonicRange& range = m_ranges[p];
        m_distinctOf[p] = -1;
        if (range.Empty()) continue;
        const auto same = std::find_if(m_distinct.begin(), m_distinct.end(), [&](const HarmonicRange& other) {
            return other.Lo == range.Lo && other.Hi == range.Hi;
        });
        m_distinctOf[p] = static_cast<std::int16_t>(same - m_distinct.begin());
        if (same == m_distinct.end()) m_distinct.push_back(range);
    }

    // Jumps between notes prefer near notes; each note's jump weights sum to 1.
    const double minusInfinity = -std::numeric_limits<double>::infinity();
    std::fill(m_logTransition.begin(), m_logTransition.end(), minusInfinity);
    const auto at = [this](std::int32_t to, std::int32_t from) -> double& {
        return m_logTransition[static_cast<std::size_t>(to * kMelodyStates + from)];
    };
    for (std::int32_t from = 0; from < kNoteCount; ++from) {
        double sum = 0.0;
        for (std::int32_t k = 0; k < kNoteCount; ++k) {
            if (k != from) sum += std::exp(-std::abs(from - k) / kJumpSemitones);
        }
        for (std::int32_t to = 0; to < kNoteCount; ++to) {
            const double jump = std::exp(-std::abs(from - to) / kJumpSemitones) / sum;
            at(to, from) = std::log(to == from ? kVoicedStay * kNoteStay : kVoicedStay * (1.0 - kNoteStay) * jump);
        }
        at(kUnvoiced, from) = std::log(1.0 - kVoicedStay);
    }
    for (std::int32_t to = 0; to < kNoteCount; ++to) at(to, kUnvoiced) = std::log((1.0 - kUnvoicedStay) / kNoteCount);
    at(kUnvoiced, kUnvoiced) = std::log(kUnvoicedStay);
    for (std::int32_t to = 0; to < kMelodyStates; ++to) {
        double likeliest = minusInfinity;
        for (std::int32_t from = 0; from < kMelodyStates; ++from) {
            if (from != to) likeliest = std::max(likeliest, at(to, from));
        }
        m_likeliestInto[static_cast<std::size_t>(to)] = likeliest;
    }
}

const HarmonicRange& TMelody::Range(std::int32_t note, std::int32_t harmonic) const {
    return m_ranges[static_cast<std::size_t>(note * kMelodyHarmonics + harmonic - 1)];
}

void TMelody::NoteSalience(std::span<const double> spectrum, std::span<double, kNoteCount> salience) const {
    std::vector<double> levels;
    NoteSalience(spectrum, salience, levels);
}

void TMelody::NoteSalience(std::span<const double> spectrum, std::span<double, kNoteCount> salience,
                           std::vector<double>& levels) const {
    assert(spectrum.size() >= static_cast<std::size_t>(kSpectrumBins));
    // The loudest bin of every range from a table of maxima over 1, 2, 4, ... bins: level k
    // holds at i the maximum of bins i .. i + 2^k - 1 (level 0 is the spectrum itself), and two
    // entries of the widest level that fits cover a range. The maximum is exact, so the table
    // changes no value.
    constexpr std::size_t kBins = static_cast<std::size_t>(kSpectrumBins);
    levels.resize((m_tableLevels - 1) * kBins);
    const auto level = [&](std::size_t k) { return k == 0 ? spectrum.data() : levels.data() + (k - 1) * kBins; };
    for (std::size_t k = 1, half = 1; k < m_tableLevels; ++k, half *= 2) {
        const double* below = level(k - 1);
        double* above = levels.data() + (k - 1) * kBins;
        for (std::size_t i = 0; i + 2 * half <= kBins; ++i) above[i] = std::max(below[i], below[i + half]);
    }
    // The loudest bin of a range, as a log value.
    const auto loudestIn = [&](const HarmonicRange& r) {
        const auto lo = static_cast<std::size_t>(r.Lo);
        const auto width = static_cast<std::size_t>(r.Hi - r.Lo + 1);
        const auto k = static_cast<std::size_t>(std::bit_width(width) - 1);
        const double* widest = level(k);
        return std::max(widest[lo], widest[lo + width - (std::size_t{1} << k)]);
    };
    // The maximum is taken on the log values: one power of ten per distinct range.
    std::array<double, kNotes * static_cast<std::size_t>(kMelodyHarmonics)> loudest;
    std::array<double, kNotes * static_cast<std::size_t>(kMelodyHarmonics)> magnitude;
    for (std::size_t u = 0; u < m_distinct.size(); ++u) {
        loudest[u] = loudestIn(m_distinct[u]);
        magnitude[u] = std::exp(loudest[u] * std::numbers::ln10) - 1.0;
    }
    const auto slot = [](std::int16_t index) { return static_cast<std::size_t>(index); };
    for (std::size_t n = 0; n < kNotes; ++n) {
        const std::int16_t* distinct = m_distinctOf.data() + n * static_cast<std::size_t>(kMelodyHarmonics);
        double sum = 0.0;
        // The fundamental counts only where the spectrum peaks within its quarter tone. At low
        // pitches the main lobe of a partial a semitone away reaches into the range, and its
        // flank would give both notes almost the same salience. Fundamentals lie far inside
        // the spectrum: Lo >= 1 and Hi + 1 < kBins.
        double fundamental = -std::numeric_limits<double>::infinity();
        if (distinct[0] >= 0) {
            const double top = loudest[slot(distinct[0])];
            fundamental = top;
            const double* bin = spectrum.data();
            const HarmonicRange& range = m_distinct[slot(distinct[0])];
            const auto lo = static_cast<std::size_t>(range.Lo);
            const auto hi = static_cast<std::size_t>(range.Hi);
            const bool flank = (bin[lo] == top && bin[lo - 1] > top) || (bin[hi] == top && bin[hi + 1] > top);
            if (!flank) {
                sum += magnitude[slot(distinct[0])] *
                       FundamentalNearness(m_noteHz[n], spectrum, range, top);
            }
        }
        double strongest = -std::numeric_limits<double>::infinity();
        double weight = kHarmonicDecay;
        for (std::size_t h = 1; h < static_cast<std::size_t>(kMelodyHarmonics); ++h, weight *= kHarmonicDecay) {
            if (distinct[h] >= 0) {
                sum += weight * magnitude[slot(distinct[h])];
                strongest = std::max(strongest, loudest[slot(distinct[h])]);
            }
        }
        const double faint = (strongest - fundamental - kFaintFundamental) / kMissingWidth;
        if (faint > 0.0) sum *= std::exp(kMissingLogShare * std::min(faint, 1.0));
        salience[n] = sum;
    }
}

void TMelody::WriteSalience(const std::string& spectrumName, std::int32_t frameCount, const std::string& salienceName) {
    WriteSalience(spectrumName, frameCount, salienceName, {});
}

void TMelody::WriteSalience(const std::string& spectrumName, std::int32_t frameCount, const std::string& salienceName,
                            const std::string& rawNotesName) {
    const bool notes = !rawNotesName.empty();
    TFileBase in;
    TFileBase out;
    TFileBase noteFile;
    OpenOrThrow(in, spectrumName, kModeRead, kSpectrumBins);
    OpenOrThrow(out, salienceName, kModeWrite, kNoteCount);
    if (notes) OpenOrThrow(noteFile, rawNotesName, kModeWrite, kNoteCount);
    // A batch of records is read, worked out on the pool's threads (each frame writes only its
    // own rows) and written in frame order.
    constexpr std::size_t kBatch = 64;
    std::vector<double> spectra(kBatch * kSpectrumBins);
    std::vector<double> salience(kBatch * kNotes);
    std::vector<double> cells(kBatch * kNotes);
    const auto& noteOf = BinToNote();
    WorkerPool pool(m_workers > 0 ? std::min(m_workers, kMaxWorkers) : DefaultWorkerCount());
    std::vector<std::vector<double>> levels(static_cast<std::size_t>(pool.Workers()));  // per worker
    const auto one = [&](std::int32_t item, std::int32_t worker) {
        const auto b = static_cast<std::size_t>(item);
        const std::span<const double> spectrum(spectra.data() + b * kSpectrumBins, kSpectrumBins);
        NoteSalience(spectrum, std::span<double, kNoteCount>(salience.data() + b * kNotes, kNotes),
                     levels[static_cast<std::size_t>(worker)]);
        if (!notes) return;
        // The loudest bin of each note's band wins; a tie keeps the lower bin.
        double* const cell = cells.data() + b * kNotes;
        std::fill(cell, cell + kNotes, 0.0);
        for (std::size_t j = 0; j < kSpectrumBins; ++j) {
            double& c = cell[static_cast<std::size_t>(noteOf[j])];
            if (spectrum[j] > c) c = spectrum[j];
        }
    };
    for (std::int32_t first = 0; first < frameCount; first += static_cast<std::int32_t>(kBatch)) {
        const auto count = std::min<std::size_t>(kBatch, static_cast<std::size_t>(frameCount - first));
        for (std::size_t b = 0; b < count; ++b) {
            Idle();
            in.ReadData({spectra.data() + b * kSpectrumBins, kSpectrumBins});
        }
        pool.Run(static_cast<std::int32_t>(count), one);
        for (std::size_t b = 0; b < count; ++b) {
            out.WriteData({salience.data() + b * kNotes, kNotes});
            if (notes) noteFile.WriteData({cells.data() + b * kNotes, kNotes});
        }
    }
    in.CloseFile();
    out.CloseFile();
    if (notes) noteFile.CloseFile();
}

void TMelody::WriteOnsets(const std::string& samplesName, std::int64_t sampleCount, std::int32_t frameCount,
                          const std::string& onsetName) {
    std::vector<std::uint8_t> onset(static_cast<std::size_t>(std::max(frameCount, 0)), 0);
    std::vector<float> frameEnergy(onset.size() * kEnergyBlocksPerFrame, 0.0f);
    const std::int64_t blocks = sampleCount / kOnsetBlockSamples;

    // The decision on block k waits for the rises of blocks k+1 and k+2; a ring holds the
    // energies and rises that are still needed.
    constexpr std::int64_t kRing = 8;
    std::array<double, kRing> energy{};
    std::array<double, kRing> rise{};
    const auto slot = [](std::int64_t k) { return static_cast<std::size_t>(k % kRing); };
    std::int64_t lastOnset = -kOnsetRefractory - 1;
    const auto decide = [&](std::int64_t k) {
        const double r = rise[slot(k)];
        if (r <= kOnsetRiseDb || k - lastOnset <= kOnsetRefractory) return;
        for (std::int64_t j = std::max<std::int64_t>(k - kOnsetPeakReach, 0);
             j <= std::min(k + kOnsetPeakReach, blocks - 1); ++j) {
            if (rise[slot(j)] > r) return;
        }
        lastOnset = k;
        const std::int64_t frame = EnergyBlockToFrame(k);
        if (frame < frameCount) onset[static_cast<std::size_t>(frame)] = 1;
    };

    TFileBase in;
    if (blocks > 0) {
        OpenOrThrow(in, samplesName, kModeRead, kOnsetBlockSamples);
        std::vector<double> block(static_cast<std::size_t>(kOnsetBlockSamples));
        for (std::int64_t k = 0; k < blocks; ++k) {
            Idle();
            in.ReadData(block);
            const double e = BlockEnergyDb(block);
            energy[slot(k)] = e;
            if (static_cast<std::size_t>(k) < frameEnergy.size())
                frameEnergy[static_cast<std::size_t>(k)] = static_cast<float>(e);
            // Blocks before the first read as the first.
            double quietest = std::numeric_limits<double>::infinity();
            for (std::int64_t j = k - kOnsetLookBack; j < k; ++j) {
                quietest = std::min(quietest, energy[slot(std::max<std::int64_t>(j, 0))]);
            }
            rise[slot(k)] = e - quietest;
            if (k >= kOnsetPeakReach) decide(k - kOnsetPeakReach);
        }
        in.CloseFile();
        for (std::int64_t k = std::max<std::int64_t>(blocks - kOnsetPeakReach, 0); k < blocks; ++k) decide(k);
    }

    // Frames past the last whole block hold the energy of that block.
    for (std::size_t k = static_cast<std::size_t>(std::max<std::int64_t>(blocks, 1)); k < frameEnergy.size(); ++k) {
        frameEnergy[k] = frameEnergy[k - 1];
    }
    TFileBase out;
    OpenOrThrow(out, onsetName, kModeWrite, kOnsetRecord);
    std::array<double, kOnsetRecord> record{};
    for (std::size_t f = 0; f < onset.size(); ++f) {
        record[0] = onset[f] != 0 ? 1.0 : 0.0;
        for (std::size_t b = 0; b < kFrameBlocks; ++b) record[1 + b] = frameEnergy[f * kFrameBlocks + b];
        out.WriteData(record);
    }
    out.CloseFile();
}

bool TMelody::Emissions(std::span<const double> salience, double margin, double loudestLevel,
                        std::span<double, kMelodyStates> logEmission) {
    const double total = *std::max_element(salience.begin(), salience.end());
    double voiced = 0.0;
    bool clear = false;
    if (total > 0.0) {
        const double level = LevelDb(total) - (loudestLevel - LevelWindowDb(margin));
        voiced = Clip01(level / kVoicingRampDb);
        // Noise spreads its salience over all notes; a voice stands out from the median. The
        // level window alone is relative and would turn dither into long notes.
        std::copy(salience.begin(), salience.end(), m_sorted.begin());
        const auto upper = m_sorted.begin() + kNoteCount / 2;
        std::nth_element(m_sorted.begin(), upper, m_sorted.end());
        const double lowerMiddle = *std::max_element(m_sorted.begin(), upper);
        const double median = (lowerMiddle + *upper) / 2.0;
        const double contrast = median > 0.0 ? std::log10(total / median) : kClearContrast;
        if (median > 0.0) voiced *= Clip01((contrast - kContrastGate) / kContrastWidth);
        clear = contrast >= kClearContrast && level >= -LevelWindowDb(margin);
    }

    double sum = 0.0;
    for (std::size_t n = 0; n < kNotes; ++n) {
        const double x = total > 0.0 ? salience[n] / total : 0.0;
        const double x2 = x * x;
        const double x4 = x2 * x2;
        m_ratio[n] = x4 * x4 * x2;  // (salience / loudest)^10 sharpens the choice of note
        sum += m_ratio[n];
    }
    // Most notes lie so far below the loudest that only the floor is left: one logarithm
    // serves them all.
    const double logFloor = std::log(kEmissionFloor);
    for (std::size_t n = 0; n < kNotes; ++n) {
        const double r = sum > 0.0 ? m_ratio[n] / sum : 0.0;
        const double p = r * voiced + kEmissionFloor;
        logEmission[n] = p == kEmissionFloor ? logFloor : std::log(p);
    }
    logEmission[kNotes] = std::log(1.0 - voiced + kEmissionFloor);
    return clear;
}

std::vector<std::int8_t> TMelody::Track(const MelodyInputs& in, std::int32_t frameCount) {
    const std::size_t frames = static_cast<std::size_t>(frameCount);
    std::vector<double> salience(kNotes);

    // The voicing window hangs from the loudest frame of the whole recording.
    double loudestLevel = -std::numeric_limits<double>::infinity();
    TFileBase salienceFile;
    OpenOrThrow(salienceFile, in.Salience, kModeRead, kNoteCount);
    m_loudestNote.assign(frames, -1);
    for (std::size_t f = 0; f < frames; ++f) {
        Idle();
        salienceFile.ReadData(salience);
        const auto loudest = std::max_element(salience.begin(), salience.end());
        loudestLevel = std::max(loudestLevel, LevelDb(*loudest));
        if (*loudest > 0.0) m_loudestNote[f] = static_cast<std::int8_t>(loudest - salience.begin());
    }
    salienceFile.CloseFile();

    // Viterbi: the score of the best path into each state, renormalised every frame so that
    // it stays near 0, and one byte per state and frame naming that path's previous state.
    std::vector<std::uint8_t> from(frames * kStates);
    m_clearNote = m_loudestNote;
    std::array<double, kStates> score{};
    std::array<double, kStates> next{};
    std::array<std::uint8_t, kStates> order{};  // the states by falling score
    std::array<double, kStates> logEmission{};
    double margin[1] = {0.0};
    TFileBase threshold;
    OpenOrThrow(salienceFile, in.Salience, kModeRead, kNoteCount);
    OpenOrThrow(threshold, in.Threshold, kModeRead, 1);
    for (std::size_t f = 0; f < frames; ++f) {
        Idle();
        salienceFile.ReadData(salience);
        threshold.ReadData(margin);
        if (!Emissions(salience, margin[0], loudestLevel, logEmission)) m_clearNote[f] = -1;
        if (f == 0) {
            for (std::size_t s = 0; s < kStates; ++s) score[s] = -std::log(double{kStates}) + logEmission[s];
            continue;
        }
        std::uint8_t* back = from.data() + f * kStates;
        // The best predecessor of a state is the first of the highest score. Going through the
        // states from the best score down, the search ends where even the likeliest step
        // into the state (its own aside) cannot reach the best found: far fewer sums than all
        // of them, and the same choice.
        std::iota(order.begin(), order.end(), std::uint8_t{0});
        std::sort(order.begin(), order.end(), [&](std::uint8_t x, std::uint8_t y) {
            return score[x] > score[y] || (score[x] == score[y] && x < y);
        });
        for (std::size_t to = 0; to < kStates; ++to) {
            const double* row = m_logTransition.data() + to * kStates;
            double best = score[to] + row[to];
            std::size_t bestFrom = to;
            for (const std::uint8_t s : order) {
                if (score[s] + m_likeliestInto[to] < best) break;
                const double v = score[s] + row[s];
                if (v > best || (v == best && s < bestFrom)) {
                    best = v;
                    bestFrom = s;
                }
            }
            next[to] = best + logEmission[to];
            back[to] = static_cast<std::uint8_t>(bestFrom);
        }
        const double top = *std::max_element(next.begin(), next.end());
        for (std::size_t s = 0; s < kStates; ++s) score[s] = next[s] - top;
    }
    salienceFile.CloseFile();
    threshold.CloseFile();

    std::vector<std::int8_t> track(frames);
    m_peakFrameBytes = std::max(m_peakFrameBytes,
                                from.capacity() + track.capacity() + m_loudestNote.capacity() + m_clearNote.capacity());
    if (frames == 0) return track;
    std::size_t state = static_cast<std::size_t>(std::max_element(score.begin(), score.end()) - score.begin());
    for (std::size_t f = frames; f-- > 0;) {
        track[f] = state == kNotes ? std::int8_t{-1} : static_cast<std::int8_t>(state);
        if (f > 0) state = from[f * kStates + state];
    }
    return track;
}

void TMelody::Segment(std::span<std::int8_t> track, std::span<const std::uint8_t> onsets, bool voicesBeat) {
    const std::size_t frames = track.size();
    const auto onsetAt = [&](std::size_t f) { return f < onsets.size() && onsets[f] != 0; };

    // A one-frame dropout inside a note is bridged, unless the note is attacked again after it.
    for (std::size_t f = 1; f + 1 < frames; ++f) {
        if (track[f] < 0 && track[f - 1] >= 0 && track[f - 1] == track[f + 1] && !onsetAt(f + 1)) {
            track[f] = track[f - 1];
        }
    }

    // Pieces: runs of one state, cut at the onsets. Each piece is decided before it is
    // overwritten, looking ahead only at frames not yet written.
    // Beating voices take a new note up late: its attack often lies a few frames before the
    // tracker lets the old note go. An onset from which the old note runs on for less than a
    // legato start's reach (so that the start can still move back to it) and then gives way to
    // another note without a break belongs to that note and cuts nothing.
    const auto nextNotesAttack = [&](std::size_t g) {
        std::size_t end = g;
        while (end < frames && track[end] == track[g] && end - g < kLegatoReach) ++end;
        return end - g < kLegatoReach && end < frames && track[end] >= 0 && track[end] != track[g];
    };
    const auto cuts = [&](std::size_t g) { return onsetAt(g) && !(voicesBeat && track[g] >= 0 && nextNotesAttack(g)); };
    const auto pieceEnd = [&](std::size_t first) {
        std::size_t end = first + 1;
        while (end < frames && track[end] == track[first] && !cuts(end)) ++end;
        return end;
    };
    const auto isNote = [&](std::size_t first, std::size_t end) {
        return track[first] >= 0 && end - first >= static_cast<std::size_t>(kMinNoteFrames);
    };
    std::size_t first = 0;
    while (first < frames) {
        const std::size_t end = pieceEnd(first);
        if (!isNote(first, end)) {
            const auto silent = track.subspan(first, end - first);
            std::fill(silent.begin(), silent.end(), std::int8_t{-1});
        } else if (end < frames && track[end] == track[first] && isNote(end, pieceEnd(end))) {
            // The same pitch attacked again right away: a silent frame between them lets the
            // export write two notes.
            track[end - 1] = -1;
        }
        first = end;
    }
}

void TMelody::MoveLegatoStarts(const std::string& salienceName, std::span<std::int8_t> track,
                               std::span<float> heldLevel, std::span<const float> energy) {
    const bool recordingBeats =
        !energy.empty() && HeldLevelWaver(energy, NotesOfTrack(track)) > kBeatingWaverDb;
    // The records of the frames f - kLegatoReach - 3 .. f + 1, in a ring.
    constexpr std::size_t kRing = kLegatoReach + 5;
    std::vector<double> ring(kRing * kNotes);
    const auto level = [&](std::size_t f, std::size_t n) { return LevelDb(ring[(f % kRing) * kNotes + n]); };
    // Whether note n stands out from its neighbours in frame f, rather than lying on the flank
    // of another note's salience (as the next semitone does during a glide).
    const auto standsOut = [&](std::size_t f, std::size_t n) {
        const double* sal = ring.data() + (f % kRing) * kNotes;
        return (n == 0 || sal[n] >= sal[n - 1]) && (n + 1 == kNotes || sal[n] >= sal[n + 1]);
    };

    TFileBase file;
    OpenOrThrow(file, salienceName, kModeRead, kNoteCount);
    std::size_t noteStart = 0;  // first frame of the note that sounds at f - 1
    std::int8_t underNote = -1;  // the held note under a note taken at its steep attack
    double attackLevel = 0.0;    // that note's level in the frame of its attack
    const auto read = [&](std::size_t g) {
        file.ReadData(std::span<double>(ring.data() + (g % kRing) * kNotes, kNotes));
    };
    // A start moves back by at most kLegatoReach frames: frame f - kLegatoReach - 2 is final,
    // and still in the ring.
    const auto hold = [&](std::size_t g) {
        if (g < heldLevel.size() && track[g] >= 0)
            heldLevel[g] = static_cast<float>(level(g, static_cast<std::size_t>(track[g])));
    };
    if (!track.empty()) read(0);
    for (std::size_t f = 0; f < track.size(); ++f) {
        if (f + 1 < track.size()) read(f + 1);
        if (f >= kLegatoReach + 2) hold(f - kLegatoReach - 2);
        // Where voices beat, a note can rise steeply under a held one that the tracker keeps
        // (a quick turn sung under the old note's release, which stays the louder): a rise of
        // 20 dB or more in one frame, to within 8 dB of the held note, on a note that stands out
        // of its neighbours, while the held note does not rise, is a new note. It sounds for at
        // least two frames and then while it stays within an attack's step (6 dB) of the level
        // it rose to and the held note is not attacked again (a rise of 4 dB in a frame). Only
        // where the tracker keeps the held note for longer than a legato start's reach (else
        // the rules below find the attack) and not for octaves, whose harmonics are the held
        // note's; a jump beyond a fifth is a consonant's noise more often than a note.
        if (underNote >= 0) {
            const auto n = static_cast<std::size_t>(track[f - 1]);
            const auto old = static_cast<std::size_t>(underNote);
            if (track[f] == underNote &&
                (f == noteStart + 1 || (level(f, n) >= attackLevel - kBeatingHoldDb &&
                                        level(f, old) - level(f - 1, old) < kRiseBeginDb))) {
                track[f] = track[f - 1];
                continue;
            }
            underNote = -1;
        }
        const auto heldOn = [&] {
            if (f + kLegatoReach >= track.size()) return false;
            for (std::size_t g = f - 1; g <= f + kLegatoReach; ++g) {
                if (track[g] != track[f]) return false;
            }
            return true;
        };
        if (recordingBeats && f > 0 && track[f] >= 0 && f >= noteStart + static_cast<std::size_t>(kMinNoteFrames) &&
            level(f, static_cast<std::size_t>(track[f])) <= level(f - 1, static_cast<std::size_t>(track[f])) && heldOn()) {
            const auto old = static_cast<std::size_t>(track[f]);
            const double* now = ring.data() + (f % kRing) * kNotes;
            const double* before = ring.data() + ((f - 1) % kRing) * kNotes;
            std::size_t attacked = old;
            double steepest = kSteepAttackDb;
            for (std::size_t n = 0; n < kNotes; ++n) {
                const std::size_t apart = n > old ? n - old : old - n;
                // A rise of 20 dB needs at least three times the salience (the floor added to
                // both sides only lowers it): most notes end here without a logarithm.
                if (apart == 0 || apart % 12 == 0 || apart > kSteepAttackReach || now[n] < 3.0 * before[n]) continue;
                const double step = level(f, n) - level(f - 1, n);
                if (step >= steepest && level(f, n) >= level(f, old) - kSteepAttackGapDb && standsOut(f, n)) {
                    steepest = step;
                    attacked = n;
                }
            }
            if (attacked != old) {
                track[f] = static_cast<std::int8_t>(attacked);
                underNote = static_cast<std::int8_t>(old);
                attackLevel = level(f, attacked);
                noteStart = f;
                continue;
            }
        }
        if (track[f] < 0 || (f > 0 && track[f] == track[f - 1])) continue;
        std::size_t start = f;
        if (f > 0 && track[f - 1] >= 0) {
            const auto n = static_cast<std::size_t>(track[f]);
            const double rise = level(f, n) - kLegatoRiseDb;
            // The note before keeps at least its two frames.
            const std::size_t lowest =
                std::max(f > kLegatoReach ? f - kLegatoReach : 0, noteStart + static_cast<std::size_t>(kMinNoteFrames));
            const auto within = [&](std::size_t g) { return level(g, n) >= rise && standsOut(g, n); };
            while (start > lowest && within(start - 1)) --start;
            // Without a rise within reach the note was there all along, under the other one:
            // its start says nothing, and the change stays where the tracker put it.
            if (start == lowest && (lowest == 0 || within(lowest - 1))) start = f;
            // The change between two notes lies where the new one's harmonics overtake the old
            // one's. The frame before the first in which the new note is the louder holds part
            // of each: it belongs to the new note when the new note lags there by less than it
            // leads by in the frame after (the lead in dB moves about evenly from the centre of
            // one frame to the next through a change that takes its time), unless the old note
            // has kept more of its level than the new one has reached of its own (an abrupt
            // change late in that frame) and less than 6 dB below it (it has not let go yet).
            const auto old = static_cast<std::size_t>(track[f - 1]);
            const auto lead = [&](std::size_t g) { return level(g, n) - level(g, old); };
            std::size_t overtaken = f;
            while (overtaken > lowest && lead(overtaken - 1) > 0.0) --overtaken;
            if (overtaken > lowest && overtaken >= 3 && -lead(overtaken - 1) < lead(overtaken)) {
                const double reached = level(overtaken - 1, n) - level(overtaken, n);
                const double kept =
                    level(overtaken - 1, old) - std::max(level(overtaken - 2, old), level(overtaken - 3, old));
                if (reached > kept || kept <= -kLegatoRiseDb) --overtaken;
            }
            start = std::min(start, overtaken);
            // A slow attack under a long release (a choir) overtakes late, but the new note
            // begins to gain on the old one at once. Its start is the first frame a quarter of
            // the way (at least 4 dB) up from the lowest lead within reach to the lead at the
            // change, where the lead grows by 10 dB in all and does not fall back by more than
            // 3 dB, and where the two frames before the lowest one lay low too (else it was a
            // trough of a vibrato). A quick rise (within 3 dB of the change in one frame)
            // follows the change instead. An octave's harmonics are among the old note's, so
            // its lead shows the old note's sound as much as its own.
            const bool octaves = (n > old ? n - old : old - n) % 12 == 0;
            if (lowest < f && !octaves) {
                std::size_t lowPoint = f - 1;
                for (std::size_t g = lowest > 0 ? lowest - 1 : 0; g < f; ++g) {
                    if (lead(g) < lead(lowPoint)) lowPoint = g;
                }
                const double total = lead(f) - lead(lowPoint);
                const double begun = lead(lowPoint) + std::max(kRiseBeginDb, kRiseBeginShare * total);
                bool plateau = total >= kRiseTotalDb;
                for (std::size_t g = lowPoint >= 2 ? lowPoint - 2 : 0; g < lowPoint; ++g) {
                    if (g + kRing > f + 1 && lead(g) > begun) plateau = false;
                }
                std::size_t risen = f;
                while (risen > lowPoint + 1 && lead(risen - 1) >= begun &&
                       lead(risen - 1) <= lead(risen) + kRiseNearDb) {
                    --risen;
                }
                std::size_t near = risen;
                while (near < f && lead(near) < lead(f) - kRiseNearDb) ++near;
                if (plateau && near >= risen + 2) start = std::min(start, std::max(risen, lowest));
            }
            // Under a release that keeps the old note ahead for a while, the new note still
            // has an attack of its own: the steepest rise of its salience within reach up to
            // the change, by more than 3 dB in one frame, where it stands above its neighbour
            // on the old note's side (not the flank of the old note's vibrato or glide) and
            // stays within 3 dB of the level it rose to until the change. A steepest rise in
            // the frame of the change or the one before is left to the rules above (an abrupt
            // change late in a frame shows its rise there too), and octaves for the reason
            // above.
            // A semitone's neighbour on the old note's side is the old note itself. There the
            // new note's rise is its own attack where it is the steepest within reach, the old
            // note neither falls in that frame (a vibrato or a glide moving the sound from the
            // one to the other) nor rises by more than 3 dB (its own attack, whose flank rises
            // with it), and the new note lay more than 6 dB below the old one in the two frames
            // before (else it was the old note's flank all along).
            // Where voices beat against each other, a note that holds swings by several dB from
            // frame to frame: the new note holds while it stays within an attack's step (6 dB)
            // of the level it rose to, and the old note may sway down by 3 dB in the frame of
            // the semitone's rise. Whether they beat is told by the recording as a whole or by
            // these two notes (a recording of several instruments wavers like its steadiest one).
            const bool semitone = n + 1 == old || old + 1 == n;
            bool beating = recordingBeats;
            if (!beating && !energy.empty()) {
                std::size_t end = f + 1;
                while (end < track.size() && track[end] == track[f]) ++end;
                const auto frame = [](std::size_t g) { return static_cast<std::int32_t>(g); };
                const MelodyNote pair[2] = {{track[f - 1], frame(noteStart), frame(f)}, {track[f], frame(f), frame(end)}};
                beating = HeldLevelWaver(energy, pair) > kBeatingWaverDb;
            }
            const double holdDb = beating ? kBeatingHoldDb : kRiseNearDb;
            const double oldSway = beating ? kBeatingSwayDb : 0.0;
            double steepestAny = 0.0;
            for (std::size_t g = std::max<std::size_t>(lowest, 1); g <= f && semitone; ++g) {
                steepestAny = std::max(steepestAny, level(g, n) - level(g - 1, n));
            }
            const auto below = [&](std::size_t g) { return level(g, old) - level(g, n) > kLegatoRiseDb; };
            const auto aheadOfFlank = [&](std::size_t g, double leastRise) {
                const double* sal = ring.data() + (g % kRing) * kNotes;
                if (sal[n] >= sal[old > n ? n + 1 : n - 1]) return true;
                const double oldStep = level(g, old) - level(g - 1, old);
                return semitone && g >= 2 && oldStep >= -oldSway && oldStep <= kRiseNearDb &&
                       level(g, n) - level(g - 1, n) >= leastRise && below(g - 1) && below(g - 2);
            };
            std::size_t attack = f;
            double steepest = kRiseNearDb;
            for (std::size_t g = std::max<std::size_t>(lowest, 1); g <= f && !octaves; ++g) {
                const double step = level(g, n) - level(g - 1, n);
                if (step > steepest && aheadOfFlank(g, steepestAny)) {
                    steepest = step;
                    attack = g;
                }
            }
            bool held = true;
            for (std::size_t g = attack + 1; g < f; ++g) held = held && level(g, n) >= level(attack, n) - holdDb;
            if (held && attack + 1 < f) start = std::min(start, attack);
            // Where voices beat, the new note's first rise often falls back in a beat's trough
            // before the note overtakes, and its steepest rise is then the recovery from that
            // trough. The steepest rise of 4 dB or more in a frame (an attack begun, as for the
            // slow attacks above) within three frames of the change and two or more before the
            // steepest rise, ahead of the flank as above (for a semitone, any such rise rather
            // than the steepest), to a level that the note falls below just before its steepest
            // rise and has regained at the change, is where it begins; not where it lay more
            // than 10 dB under the old note (the old note's own sound in its harmonics). An
            // attack that rose by more than 3 dB in the frame before as well began there.
            if (beating && !octaves) {
                std::size_t first = f;
                double firstStep = kRiseBeginDb;
                const std::size_t from = std::max({lowest, f - std::min<std::size_t>(f, 3), std::size_t{1}});
                for (std::size_t g = from; g + 1 < attack; ++g) {
                    const double step = level(g, n) - level(g - 1, n);
                    if (step > firstStep && level(g, n) > level(attack - 1, n) && level(f, n) >= level(g, n) &&
                        level(g, n) >= level(g, old) - kRiseTotalDb && aheadOfFlank(g, kRiseNearDb)) {
                        firstStep = step;
                        first = g;
                    }
                }
                if (first < f) {
                    const std::size_t earliest = std::max<std::size_t>(lowest, 1);
                    while (first > earliest && level(first - 1, n) - level(first - 2, n) > kRiseNearDb) --first;
                }
                start = std::min(start, first);
            }
            // A steepest rise in the frame just before the change, by an attack's step, belongs to
            // the new note when it still rises by more than 3 dB into the frame after the change:
            // its attack is longer than a frame and began before the change. An abrupt change late
            // in a frame is complete in the frame of the change.
            if (start == f && attack + 1 == f && steepest >= kLegatoRiseDb && f + 1 < track.size() &&
                level(f + 1, n) > level(f, n) + kRiseNearDb) {
                start = f - 1;
            }
            // Where voices beat, a new note that rose into one of the two frames before its start
            // by an attack begun (4 dB), to within 6 dB of the old note, and has not fallen below
            // that level since had begun there (the nearer such frame): the old note's beat keeps
            // it ahead for a frame or two more, and the rules above move the start only where the
            // new note rose steeply and held within reach or overtook in the frame before.
            const std::size_t placed = start;
            const std::size_t earliest = std::max<std::size_t>(lowest, 1);
            for (std::size_t back = 1; back <= 2 && beating && !octaves && placed >= earliest + back; ++back) {
                const std::size_t g = placed - back;
                bool kept = true;
                for (std::size_t h = g + 1; h <= placed; ++h) kept = kept && level(h, n) >= level(g, n);
                if (kept && level(g, n) - level(g - 1, n) >= kRiseBeginDb && lead(g) >= -kLegatoRiseDb) {
                    start = g;
                    break;
                }
            }
            const auto moved = track.subspan(start, f - start);
            std::fill(moved.begin(), moved.end(), track[f]);
        }
        noteStart = start;
    }
    for (std::size_t g = track.size() > kLegatoReach + 2 ? track.size() - kLegatoReach - 2 : 0; g < track.size(); ++g) {
        hold(g);
    }
    file.CloseFile();
}

void TMelody::WriteTable(const MelodyInputs& in, std::int32_t frameCount, const std::string& tableName) {
    m_peakFrameBytes = 0;
    const std::int32_t frames = std::max(frameCount, 0);
    std::vector<std::int8_t> track = Track(in, frames);

    std::vector<std::uint8_t> onsets(track.size());
    std::vector<float> energy(track.size() * kEnergyBlocksPerFrame);
    TFileBase file;
    OpenOrThrow(file, in.Onsets, kModeRead, kOnsetRecord);
    std::array<double, kOnsetRecord> record{};
    for (std::size_t f = 0; f < onsets.size(); ++f) {
        file.ReadData(record);
        onsets[f] = record[0] != 0.0 ? 1 : 0;
        for (std::size_t b = 0; b < kFrameBlocks; ++b) {
            energy[f * kFrameBlocks + b] = static_cast<float>(record[1 + b]);
        }
    }
    file.CloseFile();

    Segment(track, onsets, HeldLevelWaver(energy, NotesOfTrack(track)) > kBeatingWaverDb);
    std::vector<float> heldLevel(track.size());
    MoveLegatoStarts(in.Salience, track, heldLevel, energy);
    std::vector<MelodyNote> notes = NotesOfTrack(track);
    ExtendDecays(notes, m_clearNote, energy);
    PlaceNoteEdges(notes, {energy, onsets, m_loudestNote, track, heldLevel}, kMinNoteFrames);
    EndAtReleases(notes, energy, kMinNoteFrames);
    DrawNotes(notes, kMinNoteFrames, track);
    m_peakFrameBytes =
        std::max(m_peakFrameBytes, track.capacity() + onsets.capacity() + energy.capacity() * sizeof(float) +
                                       heldLevel.capacity() * sizeof(float) + notes.capacity() * sizeof(MelodyNote) +
                                       m_loudestNote.capacity() + m_clearNote.capacity());

    TFileBase table;
    OpenOrThrow(file, in.RawNotes, kModeRead, kNoteCount);
    OpenOrThrow(table, tableName, kModeWrite, kNoteCount);
    std::vector<double> raw(kNotes);
    std::vector<double> cells(kNotes);
    for (const std::int8_t note : track) {
        Idle();
        file.ReadData(raw);
        std::fill(cells.begin(), cells.end(), 0.0);
        if (note >= 0) {
            const auto n = static_cast<std::size_t>(note);
            cells[n] = std::max(raw[n], kLeastNoteValue);
        }
        table.WriteData(cells);
    }
    file.CloseFile();
    table.CloseFile();
}

}  // namespace ruvo
