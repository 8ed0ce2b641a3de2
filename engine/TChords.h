#pragma once
// TChords: the note analysis for recordings of several voices (piano, guitar, organ,
// ensembles). Explains each short-time spectrum as a sum of harmonic note templates
// (non-negative factorisation with the templates fixed), finds the attacks of the sound from
// its spectral flux, asks what began at each attack from the spectrum that the attack added,
// and writes the same note table as the other analyses (72 cells per frame). Three passes
// over work files, each streamed; TNote runs one per step, tests drive them directly.

#include "engine/Idle.h"
#include "engine/Units.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ruvo {

constexpr std::int32_t kChordLowKey = 28;    // MIDI key of the lowest template
constexpr std::int32_t kChordPitches = 77;   // templates for keys 28..104
constexpr std::int32_t kChordTicksPerFrame = 4;  // onset ticks (256 samples) per frame
constexpr std::int32_t kChordStepsPerFrame = 2;  // factorised spectra (512 samples apart) per frame
// A record of the activation file: kChordPitches activations of the spectrum, then
// kChordPitches activations of what an attack added (zeros without one), then per pitch the
// activation that the spectrum's value at its fundamental alone would call for, then the
// attack's tick within the record's two (0 or 1; -1 without one).
constexpr std::int32_t kChordRecord = 3 * kChordPitches + 1;

// Where the samples come from and how they are scaled.
struct ChordSamples {
    std::string Name;             // "nor": normalised samples, 22050 per second
    std::int64_t Count = 0;       // samples in the file
    double FullScale = 32768.0;   // the largest sample value (32768 for 16-bit, 128 for 8-bit)
};

// One note found: ticks of 256 samples from the start, key row 0..71 of the note table.
struct ChordNote {
    std::int64_t Start = 0;  // first tick
    std::int64_t End = 0;    // tick after the last
    std::int32_t Row = 0;
    bool operator==(const ChordNote&) const = default;
};

class TChords {
public:
    TChords();

    // Pass 1: samples -> one record of kChordTicksPerFrame attack flags per frame. The spectra
    // are shared among `workers` threads (0: the default count); any count writes the same bytes.
    void WriteOnsets(const ChordSamples& samples, std::int32_t frameCount, const std::string& onsetName,
                     std::int32_t workers = 0);
    // Pass 2: samples and pass 1's flags -> activation file (kChordRecord values per step,
    // kChordStepsPerFrame steps per frame). The frames are shared among `workers` threads;
    // any count writes the same bytes.
    void WriteActivations(const ChordSamples& samples, std::int32_t frameCount, const std::string& onsetName,
                          const std::string& activationName, std::int32_t workers);
    // Pass 3: activations and the threshold margin per frame (log10 units below the loudest
    // notes of the recording that a note must come within to start) -> the notes.
    std::vector<ChordNote> FindNotes(const std::string& activationName, const std::string& thresholdName,
                                     std::int32_t frameCount);
    // The notes on the frame grid: a sounding cell holds that note's "ioc" intensity (at least
    // 0.01), the cell before a note's start is silent so that a repeated note stays two notes.
    void WriteTable(std::span<const ChordNote> notes, const std::string& rawNoteName, std::int32_t frameCount,
                    const std::string& tableName);

    // The hook that each pass calls every few records (none: never interrupted).
    void SetIdle(IdleHook* idle) { m_idle = idle; }
    // The most bytes the last pass held in buffers; never grows with the recording's length
    // beyond the attack list and the notes.
    std::size_t PeakBytes() const { return m_peakBytes; }

    // Rebuilds the templates with harmonic h at amplitude h^-slope (1.5 unless set).
    void SetTimbre(double slope);

    // The template activations of one magnitude spectrum (kChordBins values, square roots of
    // the magnitudes) after `iterations` multiplicative updates; kChordPitches + 1 values (the
    // last: flat noise).
    // `start`: the activations of a neighbouring spectrum to start from (empty: an even start).
    void Factorise(std::span<const float> spectrum, std::int32_t iterations, std::span<float> activation,
                   std::span<float> scratch, std::span<const float> start = {}) const;

private:
    struct Harmonic {
        std::int32_t First = 0;  // first bin
        std::int32_t Count = 0;  // bins
        std::int32_t Weight = 0; // offset into m_weights
    };
    // Per pitch: the activation that the spectrum's largest value in its fundamental's lobe
    // would call for; none where that quarter tone holds only the flank of a neighbour's peak.
    void FundamentalSupport(const float* spectrum, std::span<float> support) const;
    void Model(std::span<const float> activation, std::span<float> model) const;
    void Idle() {
        if (m_idle != nullptr) m_idle->Poll();
    }

    std::vector<Harmonic> m_parts;            // contiguous runs of template bins, per pitch
    std::vector<std::int32_t> m_firstPart;    // per pitch + 1: index into m_parts
    std::vector<float> m_weights;
    std::vector<Harmonic> m_fundamental;      // per pitch: the bins of its fundamental's lobe
    std::vector<float> m_fundamentalWeight;   // per pitch: the template's largest weight there
    std::vector<Harmonic> m_quarter;          // per pitch: the bins within a quarter tone of its fundamental
    std::size_t m_peakBytes = 0;
    IdleHook* m_idle = nullptr;
};

constexpr std::int32_t kChordBins = 1000;  // spectrum bins 0..999 (to 5.38 kHz)

}  // namespace ruvo
