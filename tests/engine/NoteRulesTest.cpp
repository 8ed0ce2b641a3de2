#include "engine/TNote.h"

#include "tests/engine/NoteStepFixture.h"

#include <gtest/gtest.h>

#include <random>

using namespace ruvo;
using namespace ruvo::testsupport;

namespace {

constexpr std::size_t kNotes = 72;
constexpr double E = kErased;

using NoteRulesTest = NoteStepTest;

std::vector<double> Zeros() { return std::vector<double>(kNotes, 0.0); }

// ---- step 8: harmonics ----

// One case per frame: the lower and upper note of an interval and what the upper becomes.
struct HarmonicCase {
    std::size_t Lower;
    double LowerValue;
    std::size_t Upper;
    double UpperValue;
    double Expected;
    const char* Why;
};

TEST_F(NoteRulesTest, EraseHarmonicsErasesUpperNotesNotLouderByTheMargin) {
    const HarmonicCase cases[] = {
        {2, 3.0, 14, 3.4, E, "octave, 3.0 + 0.5 > 3.4"},
        {2, 3.0, 14, 3.5, 3.5, "octave, 3.5 is not less than 3.5"},
        {1, 3.0, 13, 3.2, 3.2, "note 13 is never the upper note of an octave"},
        {2, E, 14, 0.2, 0.2, "an erased lower note erases nothing"},
        {2, 0.0, 14, 0.2, 0.2, "a silent lower note erases nothing"},
        {3, 3.0, 14, 3.0, E, "interval 11"},
        {1, 3.0, 14, 3.0, E, "interval 13"},
        {1, 3.0, 20, 3.0, E, "interval 19 from note 20"},
        {2, 3.0, 19, 3.0, 3.0, "interval 17 starts at note 20"},
        {3, 3.0, 20, 3.0, E, "interval 17"},
        {2, 3.0, 20, 3.0, E, "interval 18"},
        {1, 3.0, 25, 3.0, E, "interval 24"},
        {1, 3.0, 29, 3.0, E, "interval 28"},
        {1, 3.0, 31, 3.0, E, "interval 30"},
        {1, 3.0, 35, 3.0, E, "interval 34"},
        {1, 3.0, 37, 3.0, E, "interval 36"},
        {1, 3.0, 39, 3.0, E, "interval 38"},
        {1, 3.0, 43, 3.0, E, "interval 42"},
        {0, 3.0, 42, 3.0, 3.0, "note 0 is never the lower note"},
        {1, 3.0, 6, 3.0, 3.0, "interval 5 is not tested"},
        {30, 3.0, 71, 3.0, 3.0, "interval 41 is not tested"},
    };
    Table in;
    const std::size_t count = std::size(cases);
    for (std::size_t f = 0; f < count; ++f) {
        std::vector<double> r = Zeros();
        r[cases[f].Lower] = cases[f].LowerValue;
        r[cases[f].Upper] = cases[f].UpperValue;
        in.push_back(r);
    }
    WriteDoubles(head.HarmonicFileName, std::vector<double>(count, 0.0));
    const Table out = RunOn(8, in);
    ASSERT_EQ(out.size(), count);
    for (std::size_t f = 0; f < count; ++f) {
        EXPECT_EQ(out[f][cases[f].Upper], cases[f].Expected) << cases[f].Why;
        EXPECT_EQ(out[f][cases[f].Lower], cases[f].LowerValue) << cases[f].Why << " (lower note)";
    }
}

TEST_F(NoteRulesTest, EraseHarmonicsTestsTheRecordAsReadSoErasuresDoNotCascade) {
    // 15 is erased by 3 (octave). 27 is an octave above 15 and must still be tested against 15
    // as read (3.2 + 0.5 > 3.5); against 3 alone (24 semitones, 3.0 + 0.5 > 3.5 fails) it
    // would stay.
    std::vector<double> r = Zeros();
    r[3] = 3.0;
    r[15] = 3.2;
    r[27] = 3.5;
    WriteDoubles(head.HarmonicFileName, std::vector<double>{0.0});
    const Table out = RunOn(8, Table{r});
    std::vector<double> expected = r;
    expected[15] = E;
    expected[27] = E;
    EXPECT_EQ(out, Table{expected});
}

TEST_F(NoteRulesTest, EraseHarmonicsKeepsFramesWhoseKeepValueIsExactlyOne) {
    std::vector<double> r = Zeros();
    r[2] = 3.0;
    r[14] = 3.4;
    std::vector<double> erased = r;
    erased[14] = E;
    WriteDoubles(head.HarmonicFileName, std::vector<double>{1.0, 0.999, 0.0});
    EXPECT_EQ(RunOn(8, Table{r, r, r}, 0), (Table{r, erased, erased}));

    // Reset rewrites the keep values with the default.
    head.HarmonicDefault = 1.0;
    EXPECT_EQ(RunOn(8, Table{r, r, r}, 1), (Table{r, r, r}));
    EXPECT_EQ(ReadDoubles(head.HarmonicFileName), (std::vector<double>{1.0, 1.0, 1.0}));
    head.HarmonicDefault = 0.0;
    EXPECT_EQ(RunOn(8, Table{r, r}, 1), (Table{erased, erased}));
    EXPECT_EQ(ReadDoubles(head.HarmonicFileName), (std::vector<double>{0.0, 0.0}));
}

// ---- steps 9, 10 and 15: gap filling ----

TEST_F(NoteRulesTest, FillGapsOfTwoFillsTheFirstErasedFrameTwoFramesLate) {
    // Note 10: a gap of two erased frames; note 20: a gap of three; note 1 lies outside 2..70.
    Table in = MakeTable(8, kNotes);
    SetColumn(in, 10, {2.0, E, E, 3.0, 0.0, 0.0, 0.0, 0.0});
    SetColumn(in, 20, {2.0, E, E, E, 3.0, 0.0, 0.0, 0.0});
    SetColumn(in, 1, {2.0, E, E, 3.0, 0.0, 0.0, 0.0, 0.0});
    SetColumn(in, 70, {0.0, E, E, 0.0, 0.0, 0.0, 0.0, 0.0});
    const Table out = RunOn(9, in);
    ASSERT_EQ(out.size(), 8u);
    // Output frame t holds input frame t - 2; the first two come from the empty window.
    EXPECT_EQ(Column(out, 10), (std::vector<double>{0.0, 0.0, 2.0, 2.5, E, 3.0, 0.0, 0.0}));
    EXPECT_EQ(Column(out, 20), (std::vector<double>{0.0, 0.0, 2.0, E, E, E, 3.0, 0.0}));
    EXPECT_EQ(Column(out, 1), (std::vector<double>{0.0, 0.0, 2.0, E, E, 3.0, 0.0, 0.0}));
    EXPECT_EQ(Column(out, 70), (std::vector<double>{0.0, 0.0, 0.0, 0.0, E, 0.0, 0.0, 0.0}));
}

TEST_F(NoteRulesTest, FillGapsOfOneAveragesItsNeighboursOneFrameLate) {
    Table in = MakeTable(5, kNotes);
    SetColumn(in, 10, {2.0, E, 4.0, 0.0, 0.0});
    SetColumn(in, 11, {0.0, E, 0.0, 0.0, 0.0});  // between silent cells: becomes 0
    SetColumn(in, 12, {E, E, 2.0, 0.0, 0.0});    // a negative neighbour: stays
    SetColumn(in, 0, {1.0, E, 1.0, 0.0, 0.0});   // every note, 0 to 71
    SetColumn(in, 71, {1.0, E, 3.0, 0.0, 0.0});
    for (std::int32_t step : {10, 15}) {
        const Table out = RunOn(step, in);
        ASSERT_EQ(out.size(), 5u);
        EXPECT_EQ(Column(out, 10), (std::vector<double>{0.0, 2.0, 3.0, 4.0, 0.0})) << "step " << step;
        EXPECT_EQ(Column(out, 11), (std::vector<double>{0.0, 0.0, 0.0, 0.0, 0.0})) << "step " << step;
        EXPECT_EQ(Column(out, 12), (std::vector<double>{0.0, E, E, 2.0, 0.0})) << "step " << step;
        EXPECT_EQ(Column(out, 0), (std::vector<double>{0.0, 1.0, 1.0, 1.0, 0.0})) << "step " << step;
        EXPECT_EQ(Column(out, 71), (std::vector<double>{0.0, 1.0, 2.0, 3.0, 0.0})) << "step " << step;
    }
}

// ---- steps 11 and 12: spreading erasures ----

TEST_F(NoteRulesTest, SpreadErasureBackRunsOverThePrecedingPositiveCells) {
    Table in = MakeTable(6, kNotes);
    SetColumn(in, 5, {1.0, 2.0, 3.0, E, 0.0, 0.0});
    SetColumn(in, 6, {1.0, 0.0, 2.0, E, 0.0, 0.0});
    SetColumn(in, 7, {0.0, 4.0, 4.0, 4.0, 4.0, 4.0});  // no erasure: unchanged
    const Table out = RunOn(11, in);
    ASSERT_EQ(out.size(), 6u);
    // Output frame k holds input frame k + 1; the last holds the empty start record.
    EXPECT_EQ(Column(out, 5), (std::vector<double>{E, E, E, 0.0, 0.0, 0.0}));
    EXPECT_EQ(Column(out, 6), (std::vector<double>{0.0, E, E, 0.0, 0.0, 0.0}));
    EXPECT_EQ(Column(out, 7), (std::vector<double>{4.0, 4.0, 4.0, 4.0, 4.0, 0.0}));
}

TEST_F(NoteRulesTest, SpreadErasureForwardRunsOverTheFollowingPositiveCellsAndDropsAFrame) {
    Table in = MakeTable(6, kNotes);
    SetColumn(in, 5, {9.0, 9.0, E, 2.0, 3.0, 0.0});
    SetColumn(in, 7, {0.0, E, 5.0, 5.0, 0.0, 0.0});  // erasures of the first two frames do not spread
    SetColumn(in, 8, {0.0, 0.0, 1.0, E, 0.0, 2.0});
    const Table out = RunOn(12, in);
    // N - 1 records; output frame k holds input frame k + 2, the last read past the end.
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(Column(out, 5), (std::vector<double>{E, E, E, 0.0, 0.0}));
    EXPECT_EQ(Column(out, 7), (std::vector<double>{5.0, 5.0, 0.0, 0.0, 0.0}));
    EXPECT_EQ(Column(out, 8), (std::vector<double>{1.0, E, 0.0, 2.0, 0.0}));
    EXPECT_EQ(note->Params().FrameCount, 5) << "later steps run over N - 1 frames";
    EXPECT_EQ(head.FrameCount, 6) << "the caller's record keeps its count";

    // The next step reads the shortened count.
    EXPECT_EQ(note->RunStep(13, 0), 0);
    EXPECT_EQ(ReadTable(note->Params().Temp1FileName, kNotes), out);
}

// ---- steps 13 and 14 ----

TEST_F(NoteRulesTest, PassThroughCopiesEveryRecord) {
    Table in = MakeTable(3, kNotes);
    SetColumn(in, 4, {E, 0.5, 0.0});
    SetColumn(in, 71, {1.0, E, 2.0});
    EXPECT_EQ(RunOn(13, in), in);
}

TEST_F(NoteRulesTest, DropLoneCellsClearsCellsOfOneFrameOneFrameLate) {
    Table in = MakeTable(5, kNotes);
    SetColumn(in, 3, {0.0, 2.0, 0.0, 0.0, 0.0});  // alone: cleared
    SetColumn(in, 4, {0.0, E, 0.0, 0.0, 0.0});    // erased and alone: cleared too
    SetColumn(in, 5, {0.0, 2.0, 2.0, 0.0, 0.0});  // two frames: kept
    SetColumn(in, 6, {E, 2.0, E, 0.0, 0.0});      // neighbours not silent: kept
    SetColumn(in, 0, {0.0, 1.0, 0.0, 0.0, 0.0});
    SetColumn(in, 71, {0.0, 1.0, 0.0, 0.0, 0.0});
    const Table out = RunOn(14, in);
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(Column(out, 3), (std::vector<double>{0.0, 0.0, 0.0, 0.0, 0.0}));
    EXPECT_EQ(Column(out, 4), (std::vector<double>{0.0, 0.0, 0.0, 0.0, 0.0}));
    EXPECT_EQ(Column(out, 5), (std::vector<double>{0.0, 0.0, 2.0, 2.0, 0.0}));
    EXPECT_EQ(Column(out, 6), (std::vector<double>{0.0, E, 2.0, E, 0.0}));
    EXPECT_EQ(Column(out, 0), (std::vector<double>{0.0, 0.0, 0.0, 0.0, 0.0}));
    EXPECT_EQ(Column(out, 71), (std::vector<double>{0.0, 0.0, 0.0, 0.0, 0.0}));
}

// ---- long tables: the rules across the record file's buffer loads (416 records of 72) ----

Table RandomCells(std::size_t frames, std::uint32_t seed) {
    std::mt19937 random(seed);
    Table t = MakeTable(frames, kNotes);
    for (auto& r : t)
        for (double& v : r) {
            const auto pick = random() % 10;
            v = pick < 6 ? 0.0 : pick < 9 ? 1.5 : E;
        }
    return t;
}

// Frame f of the table, zeros outside it: what the windows see before and after the file.
std::vector<double> At(const Table& t, std::ptrdiff_t f) {
    return f >= 0 && f < static_cast<std::ptrdiff_t>(t.size()) ? t[static_cast<std::size_t>(f)] : Zeros();
}

TEST_F(NoteRulesTest, RulesHoldOverTablesLongerThanOneBufferLoad) {
    const Table in = RandomCells(1000, 99);
    const auto n = static_cast<std::ptrdiff_t>(in.size());

    Table fill, lone;
    for (std::ptrdiff_t t = 0; t < n; ++t) {
        const auto prev = At(in, t - 2), cur = At(in, t - 1), next = At(in, t);
        std::vector<double> f = cur, l = cur;
        for (std::size_t i = 0; i < kNotes; ++i) {
            if (prev[i] >= 0 && next[i] >= 0 && cur[i] < 0) f[i] = (prev[i] + next[i]) / 2;
            if (prev[i] == 0 && next[i] == 0 && cur[i] != 0) l[i] = 0.0;
        }
        fill.push_back(f);
        lone.push_back(l);
    }
    EXPECT_EQ(RunOn(10, in), fill) << "step 10";
    EXPECT_EQ(RunOn(14, in), lone) << "step 14";

    // Step 11: output k is input k + 1 with erasures spread back; the last is the empty record.
    Table back(in.size(), Zeros());
    std::vector<double> later = Zeros();
    for (std::ptrdiff_t k = n - 2; k >= 0; --k) {
        std::vector<double> cur = At(in, k + 1);
        for (std::size_t i = 0; i < kNotes; ++i)
            if (later[i] < 0 && cur[i] > 0) cur[i] = E;
        back[static_cast<std::size_t>(k)] = cur;
        later = cur;
    }
    EXPECT_EQ(RunOn(11, in), back) << "step 11";

    // Step 12: output k is input k + 2 with erasures spread forward; N - 1 records.
    Table forward;
    std::vector<double> prev = Zeros();
    for (std::ptrdiff_t k = 0; k + 1 < n; ++k) {
        std::vector<double> cur = At(in, k + 2);
        for (std::size_t i = 0; i < kNotes; ++i)
            if (cur[i] > 0 && prev[i] < 0) cur[i] = E;
        forward.push_back(cur);
        prev = cur;
    }
    EXPECT_EQ(RunOn(12, in), forward) << "step 12";
}

// ---- step 16: extension ----

class ExtendNotesTest : public NoteStepTest {
protected:
    // Table: note 20 stops after frame 0, note 21 is erased after frame 0, note 0 sounds.
    // "ioc": the loudest cell of notes 1..71 is 3.0 (note 30), so notes are extended while
    // their intensity stays above 3.0 - 1.17 = 1.83; note 0's 9.0 does not count.
    Table ExtendInput(std::size_t frames) {
        Table in = MakeTable(frames, kNotes);
        in[0][20] = 2.0;
        in[0][21] = 2.0;
        in[1][21] = E;
        in[0][0] = 5.0;
        Table ioc = MakeTable(frames, kNotes);
        ioc[0][30] = 3.0;
        ioc[0][0] = 9.0;
        const double levels[] = {2.0, 2.0, 1.9, 1.83, 2.5};
        for (std::size_t f = 0; f < frames && f < std::size(levels); ++f) {
            ioc[f][20] = levels[f];
            ioc[f][21] = 2.5;
        }
        WriteTable(head.RawNoteFileName, ioc);
        return in;
    }
};

TEST_F(ExtendNotesTest, NotesContinueWhileTheirIntensityStaysNearTheLoudest) {
    const Table in = ExtendInput(6);
    RunOnly(16, in);
    const Table written = ReadTable(head.NoteIntenFileName, kNotes);
    ASSERT_EQ(written.size(), 6u);
    EXPECT_EQ(Column(written, 20), (std::vector<double>{2.0, 1.0, 1.0, 0.0, 0.0, 0.0}))
        << "1.83 is not above 1.83; a later rise does not restart the note";
    EXPECT_EQ(Column(written, 21), (std::vector<double>{2.0, E, 0.0, 0.0, 0.0, 0.0}))
        << "erased cells are not extended";
    EXPECT_EQ(Column(written, 0), (std::vector<double>(6, 0.0))) << "note 0 is always silent";
    // The step swaps A and B although it wrote "not".
    EXPECT_EQ(note->Params().Temp1FileName, head.Temp2FileName);
}

TEST_F(ExtendNotesTest, FastModeOnlyClearsNoteZero) {
    head.TempoClass = kTempoFast;
    const Table in = ExtendInput(6);
    RunOnly(16, in);
    Table expected = in;
    for (auto& r : expected) r[0] = 0.0;
    EXPECT_EQ(ReadTable(head.NoteIntenFileName, kNotes), expected);
}

TEST_F(ExtendNotesTest, LoudestIntensityIsTakenOverTheFramesLeftAfterStep12) {
    // The last "ioc" frame holds 50.0, which would stop every extension; after step 12 the
    // steps run over N - 1 frames and never see it.
    Table in = ExtendInput(6);
    Table ioc = ReadTable(head.RawNoteFileName, kNotes);
    ioc[5][40] = 50.0;
    WriteTable(head.RawNoteFileName, ioc);
    // Step 12 shifts the table two frames earlier; start the note two frames later.
    Table shifted = MakeTable(6, kNotes);
    shifted[2] = in[0];
    RunOn(12, shifted);
    EXPECT_EQ(note->RunStep(16, 0), 0);
    const Table written = ReadTable(head.NoteIntenFileName, kNotes);
    ASSERT_EQ(written.size(), 5u);
    EXPECT_EQ(Column(written, 20), (std::vector<double>{2.0, 1.0, 1.0, 0.0, 0.0}));
}

}  // namespace
