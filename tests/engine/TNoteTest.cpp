#include "engine/TNote.h"

#include "tests/engine/NoteStepFixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <set>

using namespace ruvo;
using namespace ruvo::testsupport;

namespace {

constexpr std::size_t kBins = 2048;
constexpr std::size_t kNotes = 72;

using TNoteTest = NoteStepTest;

// ---- the note map ----

TEST(NoteMapTest, FrequenciesAreEqualTemperedFrom55HzRoundedToHundredths) {
    const auto& t = NoteFrequencies();
    EXPECT_EQ(t[0], 55.0);
    EXPECT_EQ(t[1], 58.27);
    EXPECT_EQ(t[3], 65.41);
    EXPECT_EQ(t[12], 110.0);
    EXPECT_EQ(t[36], 440.0);
    EXPECT_EQ(t[60], 1760.0);
    EXPECT_EQ(t[69], 2959.96);
    EXPECT_EQ(t[70], 3135.96);
    EXPECT_EQ(t[71], 3322.44);
}

TEST(NoteMapTest, BinsGoToTheNoteWhoseBandHoldsThem) {
    const auto& map = BinToNote();
    for (std::size_t j = 0; j <= 10; ++j)
        EXPECT_EQ(map[j], 0) << "bin " << j << " lies below the 0/1 midpoint, 56.635 Hz";
    EXPECT_EQ(map[11], 1);
    EXPECT_EQ(map[12], 3) << "59.2 Hz and 64.6 Hz skip note 2";
    for (std::size_t j = 80; j <= 84; ++j) EXPECT_EQ(map[j], 36) << "bin " << j << " near 440 Hz";
    EXPECT_EQ(map[79], 35);
    EXPECT_EQ(map[85], 37);
    EXPECT_EQ(map[566], 69) << "3047 Hz lies just below the 69/70 midpoint";
    for (std::size_t j = 567; j < kBins; ++j) ASSERT_EQ(map[j], 70) << "bin " << j;

    std::set<int> notesWithBins;
    for (std::size_t j = 0; j < kBins; ++j) {
        notesWithBins.insert(map[j]);
        if (j > 0) {
            ASSERT_GE(map[j], map[j - 1]) << "the map rises with the bin";
        }
    }
    for (int n = 0; n < 72; ++n)
        EXPECT_EQ(notesWithBins.count(n), (n == 2 || n == 6 || n == 71) ? 0u : 1u) << "note " << n;
}

// ---- step 1: peaks ----

TEST_F(TNoteTest, PickPeaksKeepsLocalMaximaAndPlateaus) {
    Table s = MakeTable(2, kBins);
    // A peak and its lower neighbours.
    s[0][4] = 1.0;
    s[0][5] = 3.0;
    s[0][6] = 2.0;
    // A plateau of two equal bins keeps both.
    s[0][99] = 1.0;
    s[0][100] = 2.0;
    s[0][101] = 2.0;
    s[0][102] = 1.0;
    // The end bins are copied whatever their neighbours.
    s[0][0] = 0.5;
    s[0][1] = 1.0;
    s[0][2045] = 0.1;
    s[0][2046] = 0.9;
    s[0][2047] = 0.2;
    // A rising slope keeps only its top.
    s[1][300] = 1.0;
    s[1][301] = 2.0;
    s[1][302] = 3.0;
    WriteTable(head.IntenFileName, s);
    head.FrameCount = 2;
    note->Load(head);
    EXPECT_EQ(note->RunStep(1, 1), 0);

    EXPECT_EQ(note->Params().Temp1FileName, head.Temp1FileName) << "step 1 does not swap";
    const Table a = ReadTable(head.Temp1FileName, kBins);
    Table expected = MakeTable(2, kBins);
    expected[0][5] = 3.0;
    expected[0][100] = 2.0;
    expected[0][101] = 2.0;
    expected[0][0] = 0.5;
    expected[0][1] = 1.0;  // bin 0 is lower, bin 2 is 0: a peak
    expected[0][2046] = 0.9;
    expected[0][2047] = 0.2;
    expected[1][302] = 3.0;
    EXPECT_EQ(a, expected);
}

// ---- step 2: threshold ----

TEST_F(TNoteTest, ApplyThresholdDropsPeaksMoreThanTheMarginBelowTheLoudest) {
    Table p = MakeTable(3, kBins);
    for (auto& r : p) {
        r[10] = 3.0;
        r[20] = 2.5;     // exactly the margin 0.5 below: kept
        r[30] = 2.4375;  // just more than 0.5 below: dropped with margin 0.5
        r[40] = 0.25;
    }
    WriteDoubles(head.ThresholdFileName, std::vector<double>{0.5, 0.0, 2.0});
    const Table b = RunOn(2, p, 0);
    EXPECT_EQ(note->Params().Temp1FileName, head.Temp2FileName) << "step 2 swaps A and B";
    EXPECT_EQ(note->Params().Temp2FileName, head.Temp1FileName);

    const auto row = [](double v10, double v20, double v30, double v40) {
        std::vector<double> r(kBins, 0.0);
        r[10] = v10;
        r[20] = v20;
        r[30] = v30;
        r[40] = v40;
        return r;
    };
    ASSERT_EQ(b.size(), 3u);
    EXPECT_EQ(b[0], row(3.0, 2.5, 0.0, 0.0)) << "margin 0.5";
    EXPECT_EQ(b[1], row(3.0, 0.0, 0.0, 0.0)) << "margin 0: only the loudest";
    EXPECT_EQ(b[2], row(3.0, 2.5, 2.4375, 0.0)) << "margin 2";
    EXPECT_EQ(ReadDoubles(head.ThresholdFileName), (std::vector<double>{0.5, 0.0, 2.0})) << "no reset: kept";
}

TEST_F(TNoteTest, ApplyThresholdWithResetRewritesTheMarginsWithTheDefault) {
    head.ThresholdDefault = 0.5;
    WriteDoubles(head.ThresholdFileName, std::vector<double>{9.0, 9.0, 9.0, 9.0, 9.0});
    Table p = MakeTable(3, kBins);
    p[0][10] = 3.0;
    p[0][30] = 2.4375;
    // A silent frame: the loudest value starts at 0, so a small negative value stays.
    p[1][5] = -0.25;
    const Table b = RunOn(2, p, 1);
    EXPECT_EQ(ReadDoubles(head.ThresholdFileName), (std::vector<double>{0.5, 0.5, 0.5}));
    Table expected = MakeTable(3, kBins);
    expected[0][10] = 3.0;
    expected[1][5] = -0.25;
    EXPECT_EQ(b, expected);
}

// ---- steps 3 to 5: windows over three frames, one frame late ----

TEST_F(TNoteTest, ShiftPeaksDownMovesAPeakOntoItsNeighboursBin) {
    Table in = MakeTable(4, kBins);
    in[0][50] = 2.0;
    in[1][51] = 3.0;
    in[2][50] = 2.5;
    // Not moved: the next frame also has the upper bin.
    in[0][200] = 1.0;
    in[1][201] = 1.0;
    in[2][200] = 1.0;
    in[2][201] = 1.0;
    in[3][700] = 9.0;  // the last frame never reaches the output
    const Table out = RunOn(3, in);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0], std::vector<double>(kBins, 0.0)) << "computed from the empty window";
    EXPECT_EQ(out[1], in[0]);
    Table expected = MakeTable(1, kBins);
    expected[0][50] = 3.0;
    expected[0][201] = 1.0;
    EXPECT_EQ(out[2], expected[0]);
    EXPECT_EQ(out[3], in[2]);
}

TEST_F(TNoteTest, ShiftPeaksUpMovesAPeakOntoItsNeighboursBin) {
    Table in = MakeTable(4, kBins);
    in[0][50] = 2.0;
    in[1][49] = 3.0;
    in[2][50] = 2.5;
    const Table out = RunOn(4, in);
    ASSERT_EQ(out.size(), 4u);
    Table expected = MakeTable(1, kBins);
    expected[0][50] = 3.0;
    EXPECT_EQ(out[2], expected[0]);
    EXPECT_EQ(out[3], in[2]);
}

TEST_F(TNoteTest, DropLonePeaksRemovesPeaksOfOneFrame) {
    Table in = MakeTable(4, kBins);
    in[1][10] = 1.0;  // alone: dropped
    in[1][20] = 1.0;  // continues in the next frame: kept
    in[2][20] = 1.0;
    in[1][0] = 1.0;  // the end bins are tested too
    in[1][2047] = 1.0;
    in[3][5] = 9.0;
    const Table out = RunOn(5, in);
    ASSERT_EQ(out.size(), 4u);
    Table expected = MakeTable(4, kBins);
    expected[2][20] = 1.0;
    expected[3][20] = 1.0;  // its previous frame has it
    EXPECT_EQ(out, expected);
}

// ---- steps 6 and 7: bins to notes ----

Table SpectrumForNotes() {
    Table p = MakeTable(2, kBins);
    p[0][0] = 0.7;
    p[0][10] = 0.9;  // note 0 keeps the larger
    p[0][11] = 0.3;  // note 1
    p[0][80] = 1.0;
    p[0][84] = 2.0;   // note 36
    p[0][85] = 5.0;   // note 37
    p[0][30] = -1.0;  // below the cleared cell: ignored
    p[0][600] = 3.0;
    p[0][2047] = 4.0;  // note 70 holds every bin from 567 up
    for (double& v : p[1]) v = 5.0;
    return p;
}

std::vector<double> NotesOfSpectrum(std::size_t frame) {
    std::vector<double> n(kNotes, 0.0);
    if (frame == 0) {
        n[0] = 0.9;
        n[1] = 0.3;
        n[36] = 2.0;
        n[37] = 5.0;
        n[70] = 4.0;
        return n;
    }
    for (std::size_t i = 0; i < kNotes; ++i) n[i] = (i == 2 || i == 6 || i == 71) ? 0.0 : 5.0;
    return n;
}

TEST_F(TNoteTest, MapPeaksToNotesKeepsTheLoudestPeakOfEachBand) {
    const Table out = RunOn(6, SpectrumForNotes(), 0, kNotes);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], NotesOfSpectrum(0));
    EXPECT_EQ(out[1], NotesOfSpectrum(1)) << "notes 2, 6 and 71 have no bin";
    EXPECT_EQ(note->Params().NoteCount, 72);
    EXPECT_EQ(note->Params().Temp1FileName, head.Temp2FileName);
}

TEST_F(TNoteTest, MapSpectrumToNotesWritesTheUnfilteredIntensitiesAligned) {
    WriteTable(head.IntenFileName, SpectrumForNotes());
    head.FrameCount = 2;
    note->Load(head);
    EXPECT_EQ(note->RunStep(7, 1), 0);
    EXPECT_EQ(ReadTable(head.RawNoteFileName, kNotes), (Table{NotesOfSpectrum(0), NotesOfSpectrum(1)}));
    EXPECT_EQ(note->Params().Temp1FileName, head.Temp1FileName) << "step 7 does not swap";
    EXPECT_EQ(note->Params().NoteCount, 72);
}

// ---- schedules ----

TEST(NoteScheduleTest, EachTempoClassRunsItsSteps) {
    const auto runs = [](std::int32_t tempoClass) {
        std::set<std::int32_t> steps;
        for (std::int32_t s = -1; s <= 18; ++s)
            if (TNote::StepRuns(tempoClass, s)) steps.insert(s);
        return steps;
    };
    EXPECT_EQ(runs(kTempoFast), (std::set<std::int32_t>{1, 2, 6, 7, 8, 13, 16}));
    EXPECT_EQ(runs(kTempoMedium), (std::set<std::int32_t>{1, 2, 5, 6, 7, 8, 9, 13, 16}));
    const std::set<std::int32_t> all{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    EXPECT_EQ(runs(kTempoSlow), all);
    EXPECT_EQ(runs(0), all) << "any class other than 1 and 2 runs everything";
    EXPECT_EQ(runs(4), all);
}

TEST_F(TNoteTest, SkippedAndUnknownStepsTouchNothing) {
    head.TempoClass = kTempoFast;
    const Table in = MakeTable(3, kBins, std::vector<Cell>{{1, 7, 1.0}});
    for (std::int32_t step : {0, 3, 4, 5, 9, 10, 11, 12, 14, 15, 17}) {
        const Table out = RunOn(step, in);
        EXPECT_EQ(out, in) << "step " << step;
        EXPECT_EQ(note->Params().Temp1FileName, head.Temp1FileName) << "step " << step;
        EXPECT_FALSE(FileExists(head.Temp2FileName)) << "step " << step;
    }
}

TEST_F(TNoteTest, LoadNewCreatesTheNoteFilesAndHandsTheirNamesBack) {
    WavHead h;
    h.Temp1FileName = "table-a";
    h.Temp2FileName = "table-b";
    note->LoadNew(h);
    EXPECT_EQ(h.Temp1FileName, "table-a");
    EXPECT_EQ(h.Temp2FileName, "table-b");
    const std::pair<const std::string*, const char*> files[] = {{&h.ThresholdFileName, "thr"},
                                                                {&h.HarmonicFileName, "bai"},
                                                                {&h.NoteIntenFileName, "not"},
                                                                {&h.RawNoteFileName, "ioc"},
                                                                {&h.OctFileName, "oct"}};
    std::set<std::string> names;
    for (const auto& [name, prefix] : files) {
        const std::filesystem::path p(*name);
        EXPECT_EQ(p.parent_path(), dir.Path()) << *name;
        EXPECT_EQ(p.filename().string().substr(0, 3), prefix) << *name;
        EXPECT_TRUE(std::filesystem::exists(p)) << *name;
        names.insert(*name);
    }
    EXPECT_EQ(names.size(), 5u);
    EXPECT_EQ(note->Params().NoteIntenFileName, h.NoteIntenFileName);
    EXPECT_EQ(note->Params().RawNoteFileName, h.RawNoteFileName);
}

}  // namespace

namespace {

// Streaming the peak maps into step 6 gives the same tables as writing each one, in every tempo
// class, with margins that change from frame to frame; no table is ever spectrum-wide.
TEST_F(TNoteTest, StreamedPeakMapsGiveTheSameTablesWithoutSpectrumWideFiles) {
    constexpr std::size_t kFrames = 48;
    std::uint32_t seed = 14;
    const auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    // Sparse peaks that drift by a bin between frames, so that the shift and lone-peak rules act.
    Table spectrum = MakeTable(kFrames, kBins);
    for (std::size_t f = 0; f < kFrames; ++f) {
        for (std::size_t k = 0; k < 40; ++k) {
            const std::size_t bin = 20 + 50 * k + (f % 3 == 1 ? 1 : 0) + (next() % 7 == 0 ? 2 : 0);
            spectrum[f][bin] = 0.5 + static_cast<double>(next() % 3000) / 1000.0;
            if (next() % 5 == 0) spectrum[f][bin + 1] = spectrum[f][bin];  // a plateau
        }
    }
    Table margins = MakeTable(kFrames, 1);
    for (std::size_t f = 0; f < kFrames; ++f) margins[f][0] = 0.2 + static_cast<double>(next() % 1300) / 1000.0;
    Table keep = MakeTable(kFrames, 1);
    for (std::size_t f = 0; f < kFrames; f += 4) keep[f][0] = 1.0;

    for (const std::int32_t tempo : {kTempoFast, kTempoMedium, kTempoSlow}) {
        std::vector<Table> results;
        for (const bool stream : {false, true}) {
            WriteTable(head.IntenFileName, spectrum);
            WriteTable(head.ThresholdFileName, margins);
            WriteTable(head.HarmonicFileName, keep);
            WriteTable(head.Temp1FileName, {});
            WriteTable(head.Temp2FileName, {});
            head.FrameCount = static_cast<std::int32_t>(kFrames);
            head.TempoClass = tempo;
            note = std::make_unique<TNote>();
            note->SetStreamPeakMaps(stream);
            note->Load(head);
            for (std::int32_t step = kFirstStep; step <= kLastStep; ++step) ASSERT_EQ(note->RunStep(step, 0), 0);
            results.push_back(ReadTable(head.NoteIntenFileName, kNotes));
            results.push_back(ReadTable(note->Params().Temp1FileName, kNotes));
            if (stream) {
                for (const std::string& table : {head.Temp1FileName, head.Temp2FileName})
                    EXPECT_LE(FileSize(table), kFrames * kNotes * sizeof(double)) << "tempo " << tempo;
            }
        }
        EXPECT_EQ(results[0], results[2]) << "the note table, tempo " << tempo;
        EXPECT_EQ(results[1], results[3]) << "table A, tempo " << tempo;
        std::size_t sounding = 0;
        for (const auto& record : results[0])
            for (const double v : record) sounding += v > 0.0 ? 1 : 0;
        EXPECT_GT(sounding, kFrames) << "the rules had notes to work on, tempo " << tempo;
    }
}

}  // namespace
