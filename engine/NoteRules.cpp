// The rules on the note table: harmonic erasure, gap filling, erasure spreading, lone cells
// and the extension of fading notes.

#include "engine/TNote.h"

#include <algorithm>
#include <cmath>

namespace ruvo {
namespace {

// An upper note is a harmonic of the note `interval` below unless it is louder by this margin
// (in log-magnitude units, a factor of about 3.16).
constexpr double kHarmonicMargin = 0.5;
// A fading note goes on while its unfiltered intensity stays within this of the loudest cell.
constexpr double kExtensionWindow = 1.17;
// Digital silence: every sample of a frame within 2 LSB of zero at 16 bits (2/32768 of full
// scale; the normalised stream keeps each file's integer scale, so 8-bit files use 2/256).
constexpr double kSilenceLsb16 = 2.0;
constexpr double kSilenceLsb8 = 2.0 / 256.0;

struct HarmonicTest {
    std::int32_t firstUpper;
    std::array<std::int32_t, 3> intervals;
    std::int32_t intervalCount;
};

// Each range starts one above its largest interval, so note 0 is never taken as the lower note.
constexpr std::array<HarmonicTest, 9> kHarmonicTests = {{
    {14, {12, 13, 11}, 3},
    {20, {18, 19, 17}, 3},
    {25, {24, 0, 0}, 1},
    {29, {28, 0, 0}, 1},
    {31, {30, 0, 0}, 1},
    {35, {34, 0, 0}, 1},
    {37, {36, 0, 0}, 1},
    {39, {38, 0, 0}, 1},
    {43, {42, 0, 0}, 1},
}};

}  // namespace

void TNote::EraseHarmonics(std::int32_t reset) {
    if (reset == 1) FillSideFile(m_params.HarmonicFileName, m_params.HarmonicDefault);
    (void)InFile.OpenFile(m_params.Temp1FileName, kModeRead, kNoteCount);
    (void)SideFile.OpenFile(m_params.HarmonicFileName, kModeRead, 1);
    (void)OutFile.OpenFile(m_params.Temp2FileName, kModeWrite, kNoteCount);
    const std::span<double> in(m_in.data(), kNoteCount);
    const std::span<double> out(m_out.data(), kNoteCount);
    double keep[1] = {0.0};
    for (std::int32_t f = 0; f < m_params.FrameCount; ++f) {
        m_idle.Poll();
        InFile.ReadData(in);
        SideFile.ReadData(keep);
        std::copy(in.begin(), in.end(), out.begin());
        // Only exactly 1.0 keeps the harmonics (the user's toggle). Tests read the record as
        // read, so erasures never cascade within the frame.
        if (keep[0] != 1.0) {
            for (const HarmonicTest& test : kHarmonicTests) {
                for (std::int32_t k = 0; k < test.intervalCount; ++k) {
                    const std::int32_t interval = test.intervals[static_cast<std::size_t>(k)];
                    for (std::int32_t i = test.firstUpper; i < kNoteCount; ++i) {
                        const double lower = in[static_cast<std::size_t>(i - interval)];
                        const double upper = in[static_cast<std::size_t>(i)];
                        if (lower + kHarmonicMargin > upper && upper > 0.0 && lower > 0.0) {
                            out[static_cast<std::size_t>(i)] = kErased;
                        }
                    }
                }
            }
        }
        OutFile.WriteData(out);
    }
    InFile.CloseFile();
    SideFile.CloseFile();
    OutFile.CloseFile();
}

void TNote::FillGapsOfTwo() {
    (void)InFile.OpenFile(m_params.Temp1FileName, kModeRead, kNoteCount);
    (void)OutFile.OpenFile(m_params.Temp2FileName, kModeWrite, kNoteCount);
    const std::span<double> out(m_out.data(), kNoteCount);
    InFile.ReadWindow5(out, kWindowClear);
    for (std::int32_t f = 0; f < m_params.FrameCount; ++f) {
        m_idle.Poll();
        InFile.ReadWindow5(out, kWindowAdvance);
        const auto before = InFile.WindowRow(-1);
        const auto cur = InFile.WindowRow(0);
        const auto next = InFile.WindowRow(1);
        const auto after = InFile.WindowRow(2);
        std::copy(cur.begin(), cur.end(), out.begin());
        // Only the first of two erased frames is filled here; FillGapsOfOne fills the second.
        for (std::size_t i = 2; i <= 70; ++i) {
            if (before[i] >= 0.0 && after[i] >= 0.0 && cur[i] < 0.0 && next[i] < 0.0) {
                out[i] = (before[i] + after[i]) / 2;
            }
        }
        OutFile.WriteData(out);
    }
    InFile.CloseFile();
    OutFile.CloseFile();
}

void TNote::FillGapsOfOne() {
    RunWindow3(kNoteCount, [](std::span<const double> prev, std::span<const double> cur, std::span<const double> next,
                              std::span<double> out) {
        for (std::size_t i = 0; i < kNoteCount; ++i) {
            if (prev[i] >= 0.0 && next[i] >= 0.0 && cur[i] < 0.0) out[i] = (prev[i] + next[i]) / 2;
        }
    });
}

void TNote::SpreadErasureBack() {
    (void)InFile.OpenFile(m_params.Temp1FileName, kModeRead, kNoteCount);
    (void)OutFile.OpenFile(m_params.Temp2FileName, kModeWrite, kNoteCount);
    std::array<double, kNoteCount> later{};
    std::array<double, kNoteCount> cur{};
    std::array<double, kNoteCount> earlier{};
    InFile.ReadBack3(earlier, kWindowClear);
    (void)OutFile.GoToEndForWrite(m_params.FrameCount);
    // cur is changed in place and becomes `later` next time, so an erasure runs back over the
    // whole run of sounding cells before it.
    for (std::int32_t f = 0; f < m_params.FrameCount; ++f) {
        m_idle.Poll();
        later = cur;
        cur = earlier;
        InFile.ReadBack3(earlier, kWindowAdvance);
        InFile.ReadBack3(earlier, 1);
        for (std::size_t i = 0; i < kNoteCount; ++i) {
            if (later[i] < 0.0 && cur[i] > 0.0) cur[i] = kErased;
        }
        (void)OutFile.WriteReverse(cur);
    }
    InFile.CloseFile();
    OutFile.CloseFile();
}

// Starts two records in with cleared history and one frame fewer: output record k comes from
// input record k + 2, and the later steps run over the lowered count.
void TNote::SpreadErasureForward() {
    (void)InFile.OpenFile(m_params.Temp1FileName, kModeRead, kNoteCount);
    (void)OutFile.OpenFile(m_params.Temp2FileName, kModeWrite, kNoteCount);
    std::array<double, kNoteCount> prev{};
    std::array<double, kNoteCount> cur{};
    InFile.ReadData(cur);
    InFile.ReadData(cur);
    prev.fill(0.0);
    cur.fill(0.0);
    m_params.FrameCount = std::max(m_params.FrameCount - 1, 0);
    for (std::int32_t f = 0; f < m_params.FrameCount; ++f) {
        m_idle.Poll();
        prev = cur;
        InFile.ReadData(cur);
        for (std::size_t i = 0; i < kNoteCount; ++i) {
            if (cur[i] > 0.0 && prev[i] < 0.0) cur[i] = kErased;
        }
        OutFile.WriteData(cur);
    }
    InFile.CloseFile();
    OutFile.CloseFile();
}

void TNote::PassThrough() {
    (void)InFile.OpenFile(m_params.Temp1FileName, kModeRead, kNoteCount);
    (void)OutFile.OpenFile(m_params.Temp2FileName, kModeWrite, kNoteCount);
    const std::span<double> record(m_in.data(), kNoteCount);
    for (std::int32_t f = 0; f < m_params.FrameCount; ++f) {
        m_idle.Poll();
        InFile.ReadData(record);
        OutFile.WriteData(record);
    }
    InFile.CloseFile();
    OutFile.CloseFile();
}

void TNote::DropLoneCells() {
    RunWindow3(kNoteCount, [](std::span<const double> prev, std::span<const double> cur, std::span<const double> next,
                              std::span<double> out) {
        for (std::size_t i = 0; i < kNoteCount; ++i) {
            if (prev[i] == 0.0 && next[i] == 0.0 && cur[i] != 0.0) out[i] = 0.0;
        }
    });
}

void TNote::ExtendNotes(bool extend) {
    const std::span<double> raw(m_side.data(), kNoteCount);
    // The loudest unfiltered cell of the whole recording, note 0 aside.
    double loudest = 0.0;
    (void)SideFile.OpenFile(m_params.RawNoteFileName, kModeRead, kNoteCount);
    for (std::int32_t f = 0; f < m_params.FrameCount; ++f) {
        m_idle.Poll();
        SideFile.ReadData(raw);
        loudest = std::max(loudest, *std::max_element(raw.begin() + 1, raw.end()));
    }
    SideFile.CloseFile();

    const std::vector<bool> silent = SilentFrames();
    const std::int32_t lag = TableLag(m_params.TempoClass);
    (void)InFile.OpenFile(m_params.Temp1FileName, kModeRead, kNoteCount);
    (void)SideFile.OpenFile(m_params.RawNoteFileName, kModeRead, kNoteCount);
    (void)OutFile.OpenFile(m_params.NoteIntenFileName, kModeWrite, kNoteCount);
    std::array<double, kNoteCount> prev{};
    std::array<double, kNoteCount> cur{};
    constexpr std::array<double, kNoteCount> kNoNotes{};
    for (std::int32_t f = 0; f < m_params.FrameCount; ++f) {
        m_idle.Poll();
        prev = cur;
        InFile.ReadData(cur);
        cur[0] = 0.0;
        SideFile.ReadData(raw);
        // A note that stops while still loud in the unfiltered spectrum goes on; an erased
        // cell is not extended, and each extended cell extends the next in turn.
        if (extend) {
            for (std::size_t i = 1; i < kNoteCount; ++i) {
                if (prev[i] > 0.0 && cur[i] == 0.0 && raw[i] > loudest - kExtensionWindow) cur[i] = kExtended;
            }
        }
        // The notes that a silent frame gives are dropped from the table only: the next
        // record's extension still sees them, so no other frame changes.
        const std::int32_t source = f - lag;
        OutFile.WriteData(source >= 0 && silent[static_cast<std::size_t>(source)] ? kNoNotes : cur);
    }
    InFile.CloseFile();
    SideFile.CloseFile();
    OutFile.CloseFile();
}

std::int32_t TNote::TableLag(std::int32_t tempoClass) {
    // Frames by which each step's output lags its input: the windowed steps lag, the two
    // erasure spreads lead (step 11 by one, step 12 by two).
    constexpr std::array<std::int32_t, kLastStep + 1> kStepLag = {0, 0, 0, 1, 1, 1, 0, 0, 0, 2, 1, -1, -2, 0, 1, 1, 0};
    std::int32_t lag = 0;
    for (std::int32_t step = kFirstStep; step <= kLastStep; ++step) {
        if (StepRuns(tempoClass, step)) lag += kStepLag[static_cast<std::size_t>(step)];
    }
    return lag;
}

std::vector<bool> TNote::SilentFrames() {
    std::vector<bool> silent(static_cast<std::size_t>(std::max(m_params.FrameCount, 0)), false);
    const double level = m_params.BitsPerSample == 8 ? kSilenceLsb8 : kSilenceLsb16;
    // The frames as the spectrum pass read them: records of one frame from the normalised stream.
    const std::span<double> samples(m_in.data(), kFrameSamples);
    if (m_params.NormFileName.empty() || InFile.OpenFile(m_params.NormFileName, kModeRead, kFrameSamples) != 0) {
        return silent;
    }
    for (std::size_t f = 0; f < silent.size(); ++f) {
        m_idle.Poll();
        InFile.ReadData(samples);
        silent[f] = std::all_of(samples.begin(), samples.end(), [level](double x) { return std::abs(x) <= level; });
    }
    InFile.CloseFile();
    return silent;
}

}  // namespace ruvo
