#pragma once
// TMelody: the note analysis for a recording of one voice. Follows the strongest harmonic
// series through the spectrum records with a hidden Markov model, cuts it into notes at the
// attacks of the sound and writes the same note table as the classic rules (72 cells per
// frame). Streams its files; TNote makes one per step, tests drive the passes directly.

#include "engine/Idle.h"
#include "engine/Units.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ruvo {

constexpr std::int32_t kMelodyHarmonics = 10;           // harmonics summed per note
constexpr std::int32_t kMelodyStates = kNoteCount + 1;  // notes 0..71, then unvoiced
constexpr std::int32_t kUnvoiced = kNoteCount;          // state index of "no note"
constexpr std::int32_t kOnsetBlockSamples = 256;        // samples per onset energy block

// Bins lo..hi (both included) within a quarter tone of one harmonic; empty when Lo > Hi.
struct HarmonicRange {
    std::int16_t Lo = 1;
    std::int16_t Hi = 0;
    bool Empty() const { return Lo > Hi; }
};

// The files of the last pass, all of them FrameCount records long.
struct MelodyInputs {
    std::string Salience;   // WriteSalience's table, kNoteCount values per frame
    std::string Threshold;  // "thr": the frame's threshold margin, one value per frame
    std::string Onsets;     // WriteOnsets' flags, one value per frame
    std::string RawNotes;   // "ioc": unfiltered note intensities, kNoteCount values per frame
};

class TMelody {
public:
    TMelody();

    // Pass 1: spectrum file (records of kSpectrumBins) -> salience table, the weighted sum of
    // the linear magnitudes of each note's harmonics (the fundamental only where the spectrum
    // peaks within its quarter tone, and less where that peak lies nearer a neighbouring note;
    // a note whose fundamental lies far below its strongest harmonic counts less), kNoteCount
    // values per frame.
    void WriteSalience(const std::string& spectrumName, std::int32_t frameCount, const std::string& salienceName);
    // The same, and on the way the spectrum's note map ("ioc": the loudest bin of each note's
    // band, as the classic step 7 writes it) into rawNotesName unless that is empty. The frames
    // are shared out over the worker threads; any number of them writes the same bytes.
    void WriteSalience(const std::string& spectrumName, std::int32_t frameCount, const std::string& salienceName,
                       const std::string& rawNotesName);
    // Pass 2: normalised samples (sampleCount values at 22050 per second) -> one value per
    // frame, 1.0 at a frame where the sound's energy jumps (an attack), else 0.0.
    void WriteOnsets(const std::string& samplesName, std::int64_t sampleCount, std::int32_t frameCount,
                     const std::string& onsetName);
    // Pass 3: voicing, pitch tracking and segmentation -> the note table (kNoteCount values
    // per frame; a sounding cell holds its "ioc" intensity, at least 0.01; others 0).
    void WriteTable(const MelodyInputs& in, std::int32_t frameCount, const std::string& tableName);

    // Salience of every note for one spectrum record of kSpectrumBins log magnitudes.
    void NoteSalience(std::span<const double> spectrum, std::span<double, kNoteCount> salience) const;
    // The bins that harmonic h (1..kMelodyHarmonics) of note n covers.
    const HarmonicRange& Range(std::int32_t note, std::int32_t harmonic) const;

    // Cuts a pitch track (one state per frame: note 0..71 or -1) into notes in place: bridges
    // one-frame dropouts within a note, starts a new note at every onset frame, silences notes
    // shorter than two frames and leaves a silent frame between repeated notes of one pitch.
    // Where voices beat (voicesBeat), an onset that a note holds on over for less than a
    // legato start's reach before another note takes over without a break is that note's
    // attack, not a repeat: it cuts nothing, and the start of the next note moves to it later.
    static void Segment(std::span<std::int8_t> track, std::span<const std::uint8_t> onsets, bool voicesBeat = false);

    // Threads of the salience pass, the calling one included; 0 (the default) takes
    // DefaultWorkerCount().
    void SetWorkers(std::int32_t workers) { m_workers = workers; }

    // The hook that each pass calls every few records (none: never interrupted).
    void SetIdle(IdleHook* idle) { m_idle = idle; }

    // The most bytes that the last WriteTable held in buffers that grow with the frame count.
    std::size_t PeakFrameBytes() const { return m_peakFrameBytes; }

private:
    // Log probability of one frame's salience in every state: how likely it holds a note at all
    // (its level against the loudest frame's, its contrast) shared out by salience.
    // NoteSalience with the table of maxima it builds kept in `levels` for the next call.
    void NoteSalience(std::span<const double> spectrum, std::span<double, kNoteCount> salience,
                      std::vector<double>& levels) const;
    // Returns whether the frame's loudest note stands clearly out of the rest of the spectrum.
    bool Emissions(std::span<const double> salience, double margin, double loudestLevel,
                   std::span<double, kMelodyStates> logEmission);
    std::vector<std::int8_t> Track(const MelodyInputs& in, std::int32_t frameCount);
    // Moves the start of a note that follows another note without a break back to where its
    // own salience began to rise or overtook the other's: slow attacks and long releases make
    // the tracker change late. heldLevel (empty, or one per frame) receives the salience in dB
    // of the note the track holds in each frame once no start moves over it any more. energy
    // (empty, or kEnergyBlocksPerFrame block energies in dB per frame) tells how far held notes
    // waver: voices that beat against each other swing the salience of a note that holds.
    static void MoveLegatoStarts(const std::string& salienceName, std::span<std::int8_t> track,
                                 std::span<float> heldLevel = {}, std::span<const float> energy = {});

    std::array<HarmonicRange, static_cast<std::size_t>(kNoteCount* kMelodyHarmonics)> m_ranges{};
    std::size_t m_tableLevels = 1;  // levels of NoteSalience's table of maxima: the widest range fits
    std::array<double, static_cast<std::size_t>(kNoteCount)> m_noteHz{};  // each note's frequency
    // The distinct non-empty ranges (harmonics of notes an octave or a twelfth apart often cover
    // the same bins), so that each one's level is found once per frame, and per (note, harmonic)
    // the index of its range among them, or -1 when it is empty.
    std::vector<HarmonicRange> m_distinct;
    std::array<std::int16_t, static_cast<std::size_t>(kNoteCount* kMelodyHarmonics)> m_distinctOf{};
    // Log transition probability, indexed [to * kMelodyStates + from] so that the search for
    // the best predecessor of one state reads one contiguous row.
    std::vector<double> m_logTransition;
    // Per state: the likeliest step into it from another state.
    std::array<double, static_cast<std::size_t>(kMelodyStates)> m_likeliestInto{};
    std::vector<double> m_ratio;             // scratch per frame, kNoteCount values
    std::vector<double> m_sorted;            // scratch per frame, kNoteCount values
    std::vector<std::int8_t> m_loudestNote;  // per frame: the note of the most salience, or -1
    // Per frame: the loudest note where it stands clearly out, even below the voicing window
    // (the decay of a struck or plucked note), or -1.
    std::vector<std::int8_t> m_clearNote;
    void Idle() {
        if (m_idle != nullptr) m_idle->Poll();
    }

    std::size_t m_peakFrameBytes = 0;
    IdleHook* m_idle = nullptr;
    std::int32_t m_workers = 0;
};

}  // namespace ruvo
