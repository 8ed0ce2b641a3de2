#pragma once
// TNote: turns the spectrum file into the note table (72 cells per frame) in sixteen
// streaming steps from one work file to the next, skipping the steps that the tempo class
// omits. Owned by value by its user; works on its own copy of the document record.

#include "engine/Idle.h"
#include "engine/UFile.h"
#include "engine/Units.h"
#include "engine/WavHead.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace ruvo {

constexpr std::int32_t kFirstStep = 1;
constexpr std::int32_t kLastStep = 16;
constexpr double kErased = -1.0;   // a cell erased by a rule
constexpr double kExtended = 1.0;  // a cell written by the extension rule

// The equal-tempered frequency of each note, rounded to 0.01 Hz.
const std::array<double, kNoteCount>& NoteFrequencies();
// Note index of each spectrum bin 0..2047 (the loudest peak within a note's band wins).
const std::array<std::int8_t, kSpectrumBins>& BinToNote();

class TNote {
public:
    TNote();

    void Load(const WavHead& head);
    // Creates the "thr", "bai", "not", "ioc" and "oct" work files and hands their names back.
    void LoadNew(WavHead& head);
    // Runs one step 1..16 unless the tempo class skips it; reset is 1 on a fresh conversion.
    std::int32_t RunStep(std::int32_t step, std::int32_t reset);
    // Whether the tempo class runs `step` (the extension rule of step 16 aside).
    static bool StepRuns(std::int32_t tempoClass, std::int32_t step);

    // On: the peak maps of steps 1 to 5 (2048 values per frame) are not stored but stream
    // through memory into step 6, which then reads the spectrum; the results are the same, and
    // the work files never hold two spectrum-wide tables at once; that pass also writes step 7's
    // note map of the spectrum, which step 7 then leaves as it is. For runs of the steps 1..16
    // in order (the conversions); off (the default), every step writes its table.
    void SetStreamPeakMaps(bool on) { m_streamPeakMaps = on; }

    // Threads of the note stage's peak pass, the calling one included; 0 (the default) takes
    // DefaultWorkerCount(). Any count writes the same bytes.
    void SetWorkers(std::int32_t workers) { m_workers = workers; }

    const WavHead& Params() const { return m_params; }
    // Called every few records of a step; returning false ends the step with StepCancelled.
    void SetIdle(IdleHook::Fn idle) { m_idle.Set(std::move(idle)); }

private:
    void SwapTables();
    void PickPeaks();
    void ApplyThreshold(std::int32_t reset);
    void ShiftPeaksDown();
    void ShiftPeaksUp();
    void DropLonePeaks();
    void MapPeaksToNotes();
    void MapSpectrumToNotes();
    void EraseHarmonics(std::int32_t reset);
    void FillGapsOfTwo();
    void FillGapsOfOne();
    void SpreadErasureBack();
    void SpreadErasureForward();
    void PassThrough();
    void DropLoneCells();
    void ExtendNotes(bool extend);
    // Per frame: whether every sample the spectrum pass read for it is digital silence.
    std::vector<bool> SilentFrames();
    // Frames by which the note table of a tempo class lags the spectrum.
    static std::int32_t TableLag(std::int32_t tempoClass);
    // Melody mode: what each step does instead of the classic rules (TNoteMelody.cpp).
    void RunMelodyStep(std::int32_t step, std::int32_t reset);
    // Chords mode: the same for TChords (TNoteChords.cpp).
    void RunChordsStep(std::int32_t step, std::int32_t reset);
    void FillSideFile(const std::string& name, double value);
    // Turns the rows (prev, cur, next) of a three-record window into the output record.
    using WindowRule = void (*)(std::span<const double> prev, std::span<const double> cur, std::span<const double> next,
                                std::span<double> out);
    void RunWindow3(std::int32_t recLen, WindowRule rule);
    void MapToNotes(const std::string& from, const std::string& to);
    // Steps 1 to 6 in one pass from the spectrum, through the steps recorded in m_pendingPeaks.
    void StreamPeaksToNotes();

    std::int32_t m_first = 0;  // loop bounds, scratch
    std::int32_t m_last = 0;
    WavHead m_params;
    TFileBase InFile;
    TFileBase OutFile;
    TFileBase SideFile;
    TFileBase NoteFile;
    std::vector<double> m_in;
    std::vector<double> m_out;
    std::vector<double> m_side;
    IdleHook m_idle;
    bool m_streamPeakMaps = false;
    std::vector<std::int32_t> m_pendingPeaks;  // steps 1..5 run but not yet applied
    std::int32_t m_workers = 0;
    bool m_spectrumNotesDone = false;          // step 6 wrote step 7's table on its way
};

}  // namespace ruvo
