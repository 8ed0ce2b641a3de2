#include "engine/TNote.h"

#include "engine/Rounding.h"
#include "engine/WorkerPool.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace ruvo {
namespace {

constexpr double kBinHz = 22050.0 / 4096.0;  // 5.38330078125 Hz per spectrum bin

std::array<double, kNoteCount> MakeNoteFrequencies() {
    std::array<double, kNoteCount> table{};
    for (std::int32_t n = 0; n < kNoteCount; ++n) {
        table[static_cast<std::size_t>(n)] = RoundEven(55.0 * std::pow(2.0, n / 12.0) * 100.0) / 100.0;
    }
    return table;
}

// A bin belongs to the note whose band, bounded by the midpoints between neighbouring notes,
// holds its frequency; everything from the 69/70 midpoint up goes to note 70, so note 71 never
// receives a bin.
std::array<std::int8_t, kSpectrumBins> MakeBinToNote() {
    const auto& t = NoteFrequencies();
    std::array<std::int8_t, kSpectrumBins> map{};
    for (std::size_t j = 0; j < map.size(); ++j) {
        const double f = static_cast<double>(j) * kBinHz;
        std::int32_t note = 70;
        for (std::int32_t n = 1; n <= 70; ++n) {
            if ((t[static_cast<std::size_t>(n - 1)] + t[static_cast<std::size_t>(n)]) / 2 > f) {
                note = n - 1;
                break;
            }
        }
        map[j] = static_cast<std::int8_t>(note);
    }
    return map;
}

// Step 1 on one record: a bin stays only where no neighbour is strictly louder, so a plateau
// keeps its value; bins 0 and 2047 stay.
void PickPeaksOf(std::span<const double> s, std::span<double> o) {
    o[0] = s[0];
    o[kSpectrumBins - 1] = s[kSpectrumBins - 1];
    for (std::size_t j = 1; j < kSpectrumBins - 1; ++j) o[j] = (s[j - 1] > s[j] || s[j + 1] > s[j]) ? 0.0 : s[j];
}

// Step 2 on one record, in place: peaks more than `margin` below the loudest go. The search
// starts from 0.0, so the loudest peak is never taken below 0.
void ThresholdPeaks(std::span<double> p, double margin) {
    double loudest = 0.0;
    for (const double v : p) loudest = std::max(loudest, v);
    for (double& v : p) v = v + margin < loudest ? 0.0 : v;
}

// Steps 3, 4 and 5 on the rows (prev, cur, next) of a window; `out` starts as a copy of cur.
void ShiftDownRule(std::span<const double> prev, std::span<const double> cur, std::span<const double> next,
                   std::span<double> out) {
    for (std::size_t j = 1; j < kSpectrumBins - 1; ++j) {
        if (cur[j] == 0.0 && prev[j + 1] == 0.0 && next[j + 1] == 0.0 && prev[j] > 0.0 && next[j] > 0.0 &&
            cur[j + 1] > 0.0) {
            out[j] = out[j + 1];
            out[j + 1] = 0.0;
        }
    }
}

void ShiftUpRule(std::span<const double> prev, std::span<const double> cur, std::span<const double> next,
                 std::span<double> out) {
    for (std::size_t j = 1; j < kSpectrumBins - 1; ++j) {
        if (cur[j] == 0.0 && prev[j - 1] == 0.0 && next[j - 1] == 0.0 && prev[j] > 0.0 && next[j] > 0.0 &&
            cur[j - 1] > 0.0) {
            out[j] = out[j - 1];
            out[j - 1] = 0.0;
        }
    }
}

void DropLoneRule(std::span<const double> prev, std::span<const double> cur, std::span<const double> next,
                  std::span<double> out) {
    for (std::size_t j = 0; j < kSpectrumBins; ++j) {
        if (prev[j] == 0.0 && next[j] == 0.0 && cur[j] != 0.0) out[j] = 0.0;
    }
}

// Steps 6 and 7 on one record: the loudest peak in each note's band wins; a tie keeps the
// lower bin.
// The notes' bands are runs of bins in ascending order, so each note scans its own run: the
// same comparisons in the same order as bin by bin.
constexpr auto kNotes = static_cast<std::size_t>(kNoteCount);

void NotesOfPeaks(std::span<const double> peaks, std::span<double> cells) {
    static const std::array<std::size_t, kNotes + 1> firstBin = [] {
        const auto& noteOf = BinToNote();
        std::array<std::size_t, kNotes + 1> first{};
        for (std::size_t n = 0; n <= kNotes; ++n) {
            first[n] = static_cast<std::size_t>(
                std::find_if(noteOf.begin(), noteOf.end(),
                             [n](std::int8_t note) { return static_cast<std::size_t>(note) >= n; }) -
                noteOf.begin());
        }
        return first;
    }();
    for (std::size_t n = 0; n < kNotes; ++n) {
        double cell = 0.0;
        for (std::size_t j = firstBin[n]; j < firstBin[n + 1]; ++j) cell = peaks[j] > cell ? peaks[j] : cell;
        cells[n] = cell;
    }
}

}  // namespace

const std::array<double, kNoteCount>& NoteFrequencies() {
    static const std::array<double, kNoteCount> table = MakeNoteFrequencies();
    return table;
}

const std::array<std::int8_t, kSpectrumBins>& BinToNote() {
    static const std::array<std::int8_t, kSpectrumBins> map = MakeBinToNote();
    return map;
}

TNote::TNote() : m_in(kSpectrumBins), m_out(kSpectrumBins), m_side(kSpectrumBins) {}

void TNote::Load(const WavHead& head) {
    m_params = head;
    m_pendingPeaks.clear();
    m_spectrumNotesDone = false;
}

void TNote::LoadNew(WavHead& head) {
    m_params = head;
    m_pendingPeaks.clear();
    m_spectrumNotesDone = false;
    GetTempName("thr", m_params.ThresholdFileName);
    GetTempName("bai", m_params.HarmonicFileName);
    GetTempName("not", m_params.NoteIntenFileName);
    GetTempName("ioc", m_params.RawNoteFileName);
    GetTempName("oct", m_params.OctFileName);
    head = m_params;
}

bool TNote::StepRuns(std::int32_t tempoClass, std::int32_t step) {
    switch (step) {
        case 3:
        case 4:
        case 10:
        case 11:
        case 12:
        case 14:
        case 15: return tempoClass != kTempoFast && tempoClass != kTempoMedium;
        case 5:
        case 9: return tempoClass != kTempoFast;
        default: return step >= kFirstStep && step <= kLastStep;
    }
}

std::int32_t TNote::RunStep(std::int32_t step, std::int32_t reset) {
    if (step < kFirstStep || step > kLastStep) return 0;
    if (m_params.Mode == AnalysisMode::Melody) {
        RunMelodyStep(step, reset);
        return 0;
    }
    if (m_params.Mode == AnalysisMode::Chords) {
        RunChordsStep(step, reset);
        return 0;
    }
    if (!StepRuns(m_params.TempoClass, step)) return 0;
    if (m_streamPeakMaps && step <= 6) {
        // The peak steps are only recorded (step 2's side file is still filled now); step 6
        // applies them on its way from the spectrum to the note map.
        if (step == 1) {
            m_pendingPeaks.assign(1, 1);
            return 0;
        }
        if (!m_pendingPeaks.empty()) {
            if (step == 2 && reset == 1) FillSideFile(m_params.ThresholdFileName, m_params.ThresholdDefault);
            if (step < 6) {
                m_pendingPeaks.push_back(step);
            } else {
                StreamPeaksToNotes();
            }
            SwapTables();
            return 0;
        }
    }
    switch (step) {
        case 1: PickPeaks(); return 0;
        case 2: ApplyThreshold(reset); break;
        case 3: ShiftPeaksDown(); break;
        case 4: ShiftPeaksUp(); break;
        case 5: DropLonePeaks(); break;
        case 6: MapPeaksToNotes(); break;
        case 7:
            if (!std::exchange(m_spectrumNotesDone, false)) MapSpectrumToNotes();
            return 0;
        case 8: EraseHarmonics(reset); break;
        case 9: FillGapsOfTwo(); break;
        case 10:
        case 15: FillGapsOfOne(); break;
        case 11: SpreadErasureBack(); break;
        case 12: SpreadErasureForward(); break;
        case 13: PassThrough(); break;
        case 14: DropLoneCells(); break;
        default: ExtendNotes(m_params.TempoClass != kTempoFast); break;
    }
    SwapTables();
    return 0;
}

// Table A always names the latest result.
void TNote::SwapTables() { std::swap(m_params.Temp1FileName, m_params.Temp2FileName); }

void TNote::FillSideFile(const std::string& name, double value) {
    if (SideFile.OpenFile(name, kModeWrite, 1) != 0) return;
    const double record[1] = {value};
    for (std::int32_t f = 0; f < m_params.FrameCount; ++f) SideFile.WriteData(record);
    SideFile.CloseFile();
}

// Opens A for reading through a three-record window and B for writing; `rule` turns the
// window rows (prev, cur, next) into the output record. The output lags the input by one frame.
void TNote::RunWindow3(std::int32_t recLen, WindowRule rule) {
    (void)InFile.OpenFile(m_params.Temp1FileName, kModeRead, recLen);
    (void)OutFile.OpenFile(m_params.Temp2FileName, kModeWrite, recLen);
    const std::span<double> out(m_out.data(), static_cast<std::size_t>(recLen));
    InFile.ReadWindow3(out, kWindowClear);
    for (std::int32_t f = 0; f < m_params.FrameCount; ++f) {
        m_idle.Poll();
        InFile.ReadWindow3(out, kWindowAdvance);
        const auto prev = InFile.WindowRow(-1);
        const auto cur = InFile.WindowRow(0);
        const auto next = InFile.WindowRow(1);
        std::copy(cur.begin(), cur.end(), out.begin());
        rule(prev, cur, next, out);
        OutFile.WriteData(out);
    }
    InFile.CloseFile();
    OutFile.CloseFile();
}

void TNote::PickPeaks() {
    (void)InFile.OpenFile(m_params.IntenFileName, kModeRead, kSpectrumBins);
    (void)OutFile.OpenFile(m_params.Temp1FileName, kModeWrite, kSpectrumBins);
    for (std::int32_t f = 0; f < m_params.FrameCount; ++f) {
        m_idle.Poll();
        InFile.ReadData(m_in);
        PickPeaksOf(m_in, m_out);
        OutFile.WriteData(m_out);
    }
    InFile.CloseFile();
    OutFile.CloseFile();
}

void TNote::ApplyThreshold(std::int32_t reset) {
    if (reset == 1) FillSideFile(m_params.ThresholdFileName, m_params.ThresholdDefault);
    (void)InFile.OpenFile(m_params.Temp1FileName, kModeRead, kSpectrumBins);
    (void)SideFile.OpenFile(m_params.ThresholdFileName, kModeRead, 1);
    (void)OutFile.OpenFile(m_params.Temp2FileName, kModeWrite, kSpectrumBins);
    double margin[1] = {0.0};
    for (std::int32_t f = 0; f < m_params.FrameCount; ++f) {
        m_idle.Poll();
        InFile.ReadData(m_in);
        SideFile.ReadData(margin);
        std::copy(m_in.begin(), m_in.end(), m_out.begin());
        ThresholdPeaks(m_out, margin[0]);
        OutFile.WriteData(m_out);
    }
    InFile.CloseFile();
    SideFile.CloseFile();
    OutFile.CloseFile();
}

void TNote::StreamPeaksToNotes() {
    m_params.NoteCount = kNoteCount;
    const bool threshold = std::find(m_pendingPeaks.begin(), m_pendingPeaks.end(), 2) != m_pendingPeaks.end();
    // The windowed steps in the order they ran, each with the three records it holds, zeros
    // before the first: the same lag of one frame per step as through their files.
    struct Stage {
        WindowRule Rule;
        std::array<std::vector<double>, 3> Rows;  // prev, cur, next
    };
    std::vector<Stage> stages;
    for (const std::int32_t step : m_pendingPeaks) {
        const WindowRule rule = step == 3 ? ShiftDownRule : step == 4 ? ShiftUpRule : step == 5 ? DropLoneRule : nullptr;
        if (rule == nullptr) continue;
        Stage stage{rule, {}};
        for (auto& row : stage.Rows) row.assign(kSpectrumBins, 0.0);
        stages.push_back(std::move(stage));
    }
    (void)InFile.OpenFile(m_params.IntenFileName, kModeRead, kSpectrumBins);
    if (threshold) (void)SideFile.OpenFile(m_params.ThresholdFileName, kModeRead, 1);
    (void)OutFile.OpenFile(m_params.Temp2FileName, kModeWrite, kNoteCount);
    // Step 7's note map of the spectrum itself, from the records this pass reads anyway.
    (void)NoteFile.OpenFile(m_params.RawNoteFileName, kModeWrite, kNoteCount);
    const std::span<double> cells(m_side.data(), kNoteCount);
    // What each frame needs of its own record alone (the spectrum's note map, the peaks, the
    // threshold) is worked out for a batch of frames on the pool's threads; meanwhile one item
    // runs the windowed steps, which look at neighbours, over the batch before in frame order,
    // and another reads the batch after: three sets of buffers take turns.
    WorkerPool pool(m_workers > 0 ? m_workers : DefaultWorkerCount());
    constexpr std::size_t kBatch = 64;
    struct Batch {
        std::vector<double> Spectra = std::vector<double>(kBatch * kSpectrumBins);
        std::vector<double> Peaks = std::vector<double>(kBatch * kSpectrumBins);
        std::vector<double> SpectrumCells = std::vector<double>(kBatch * kNoteCount);
        std::vector<double> Margins = std::vector<double>(kBatch, 0.0);
        std::size_t Count = 0;
    };
    std::array<Batch, 3> batches;
    const auto frameCount = static_cast<std::size_t>(std::max(m_params.FrameCount, 0));
    std::size_t read = 0;  // frames read so far
    const auto readBatch = [&](Batch& batch) {
        batch.Count = std::min(kBatch, frameCount - read);
        for (std::size_t b = 0; b < batch.Count; ++b) {
            InFile.ReadData({batch.Spectra.data() + b * kSpectrumBins, kSpectrumBins});
            if (threshold) SideFile.ReadData({batch.Margins.data() + b, 1});
        }
        read += batch.Count;
    };
    const auto finishBatch = [&](const Batch& batch) {
        for (std::size_t b = 0; b < batch.Count; ++b) {
            NoteFile.WriteData({batch.SpectrumCells.data() + b * kNoteCount, kNoteCount});
            const double* const picked = batch.Peaks.data() + b * kSpectrumBins;
            std::copy(picked, picked + kSpectrumBins, m_out.begin());
            for (Stage& stage : stages) {
                std::rotate(stage.Rows.begin(), stage.Rows.begin() + 1, stage.Rows.end());
                stage.Rows[2].swap(m_out);
                std::copy(stage.Rows[1].begin(), stage.Rows[1].end(), m_out.begin());
                stage.Rule(stage.Rows[0], stage.Rows[1], stage.Rows[2], m_out);
            }
            NotesOfPeaks(m_out, cells);
            OutFile.WriteData(cells);
        }
    };
    readBatch(batches[0]);
    Batch* previous = &batches[2];
    Batch* current = &batches[0];
    Batch* next = &batches[1];
    while (previous->Count > 0 || current->Count > 0) {
        const auto job = [&](std::int32_t item, std::int32_t /*worker*/) {
            if (item == 0) {
                finishBatch(*previous);
            } else if (item == 1) {
                readBatch(*next);
            } else {
                const auto b = static_cast<std::size_t>(item - 2);
                const std::span<const double> in(current->Spectra.data() + b * kSpectrumBins, kSpectrumBins);
                const std::span<double> picked(current->Peaks.data() + b * kSpectrumBins, kSpectrumBins);
                NotesOfPeaks(in, {current->SpectrumCells.data() + b * kNoteCount, kNoteCount});
                PickPeaksOf(in, picked);
                if (threshold) ThresholdPeaks(picked, current->Margins[b]);
            }
        };
        const std::size_t finished = previous->Count;
        pool.Run(static_cast<std::int32_t>(current->Count) + 2, job);
        for (std::size_t f = 0; f < finished; ++f) m_idle.Poll();
        // The finished batch's buffers take the batch after the one just read.
        std::swap(previous, current);
        std::swap(current, next);
    }
    InFile.CloseFile();
    if (threshold) SideFile.CloseFile();
    OutFile.CloseFile();
    NoteFile.CloseFile();
    m_pendingPeaks.clear();
    m_spectrumNotesDone = true;
}

void TNote::ShiftPeaksDown() { RunWindow3(kSpectrumBins, ShiftDownRule); }

void TNote::ShiftPeaksUp() { RunWindow3(kSpectrumBins, ShiftUpRule); }

void TNote::DropLonePeaks() { RunWindow3(kSpectrumBins, DropLoneRule); }

void TNote::MapToNotes(const std::string& from, const std::string& to) {
    m_params.NoteCount = kNoteCount;
    (void)InFile.OpenFile(from, kModeRead, kSpectrumBins);
    (void)OutFile.OpenFile(to, kModeWrite, kNoteCount);
    const std::span<double> cells(m_out.data(), kNoteCount);
    for (std::int32_t f = 0; f < m_params.FrameCount; ++f) {
        m_idle.Poll();
        InFile.ReadData(m_in);
        NotesOfPeaks(m_in, cells);
        OutFile.WriteData(cells);
    }
    InFile.CloseFile();
    OutFile.CloseFile();
}

void TNote::MapPeaksToNotes() { MapToNotes(m_params.Temp1FileName, m_params.Temp2FileName); }

void TNote::MapSpectrumToNotes() { MapToNotes(m_params.IntenFileName, m_params.RawNoteFileName); }

}  // namespace ruvo
