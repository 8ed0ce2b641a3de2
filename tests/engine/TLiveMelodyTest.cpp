// The live melody analysis: its notes do not depend on how the samples are cut into pieces
// nor on the thread it runs on, every note on has its note off, the notes of a melody come out in order with their pitch,
// silence and dither give none, a note longer than the window comes out in parts without a
// gap, and the work files go with the object.

#include "engine/TLiveMelody.h"

#include "engine/FileIoError.h"
#include "engine/LiveAnalysis.h"
#include "engine/UFile.h"

#include "tests/testsupport/Signals.h"
#include "tests/testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace ruvo {
namespace {

using testsupport::Append;

std::size_t Samples(double seconds) { return static_cast<std::size_t>(seconds * kNormalRate); }

// Notes of 0.4 s with 0.1 s of silence after each, after 0.3 s of silence.
std::vector<double> Detached(const std::vector<int>& notes, double seconds = 0.4) {
    std::vector<double> out = testsupport::Silence(Samples(0.3));
    const double harmonics[] = {8000.0, 4000.0, 2000.0};
    for (const int note : notes) {
        Append(out, testsupport::HarmonicTone(testsupport::NoteHz(note), Samples(seconds), kNormalRate, harmonics));
        Append(out, testsupport::Silence(Samples(0.1)));
    }
    return out;
}

struct LiveRun {
    std::vector<LiveNote> Notes;
    std::vector<LiveNoteEvent> Events;
};

LiveRun Analyse(const std::vector<double>& signal, std::size_t piece) {
    std::vector<std::int16_t> samples;
    for (const std::int32_t s : testsupport::Quantize(signal, 16)) samples.push_back(static_cast<std::int16_t>(s));
    TLiveMelody live;
    LiveRun run;
    std::vector<LiveNote> reported;
    live.SetOnEvent([&run](const LiveNoteEvent& e) { run.Events.push_back(e); });
    live.SetOnNote([&reported](const LiveNote& n) { reported.push_back(n); });
    for (std::size_t at = 0; at < samples.size(); at += piece) {
        live.Feed(std::span(samples).subspan(at, std::min(piece, samples.size() - at)));
    }
    live.Finish();
    run.Notes = live.Notes();
    EXPECT_EQ(reported, run.Notes);  // every note is reported once, in order
    EXPECT_TRUE(live.Pending().empty());
    return run;
}

// The same on the analysis thread, from pieces of 777 bytes (an odd byte waits for the next).
LiveRun AnalyseOnThread(const std::vector<double>& signal) {
    std::vector<char> bytes;
    for (const std::int32_t s : testsupport::Quantize(signal, 16)) bytes.insert(bytes.end(), {static_cast<char>(s & 0xFF), static_cast<char>(s >> 8)});
    LiveAnalysis analysis(0.4, [] {});
    for (std::size_t at = 0; at < bytes.size(); at += 777) analysis.Push(bytes.data() + at, std::min<std::size_t>(777, bytes.size() - at));
    analysis.Finish();
    analysis.Wait();
    const LiveSnapshot last = analysis.Take();
    EXPECT_TRUE(last.Finished && last.FinalCount == last.Notes.size());
    EXPECT_EQ(last.SamplesAnalysed, static_cast<std::int64_t>(signal.size()));
    return {last.Notes, last.Events};
}

struct LiveCase {
    const char* Name;
    std::vector<double> Signal;
    std::vector<int> Notes;  // the note index of every note, in order
};

class TLiveMelodyTest : public ::testing::TestWithParam<LiveCase> {
protected:
    testsupport::TempDir m_dir;
};

TEST_P(TLiveMelodyTest, NotesInOrderWhateverThePieces) {
    const LiveCase& c = GetParam();
    const LiveRun whole = Analyse(c.Signal, c.Signal.size());
    std::vector<int> notes;
    for (const LiveNote& note : whole.Notes) notes.push_back(note.Note);
    EXPECT_EQ(notes, c.Notes);
    for (std::size_t i = 1; i < whole.Notes.size(); ++i) EXPECT_GE(whole.Notes[i].First, whole.Notes[i - 1].End);
    // On and off alternate, each off for the key just turned on.
    ASSERT_EQ(whole.Events.size() % 2, 0u);
    for (std::size_t i = 0; i < whole.Events.size(); i += 2) {
        EXPECT_TRUE(whole.Events[i].On && !whole.Events[i + 1].On);
        EXPECT_EQ(whole.Events[i].Key, whole.Events[i + 1].Key);
        EXPECT_LE(whole.Events[i].Seconds, whole.Events[i + 1].Seconds);
    }
    for (const LiveRun& cut : {Analyse(c.Signal, 1), AnalyseOnThread(c.Signal)}) {
        EXPECT_EQ(cut.Notes, whole.Notes);
        EXPECT_EQ(cut.Events.size(), whole.Events.size());
    }
    EXPECT_TRUE(m_dir.FileNames().empty());
}

// A tone longer than the window comes out in parts that join without a gap.
TEST_F(TLiveMelodyTest, ToneLongerThanTheWindowComesOutWhole) {
    const double seconds = 1.5 * FramesToSeconds(kLiveWindowFrames);
    const LiveRun run = Analyse(Detached({36}, seconds), 4096);
    ASSERT_GE(run.Notes.size(), 2u);
    for (std::size_t i = 0; i < run.Notes.size(); ++i) {
        EXPECT_EQ(run.Notes[i].Note, 36);
        EXPECT_EQ(run.Notes[i].First, i > 0 ? run.Notes[i - 1].End : run.Notes[i].First);
    }
    // The tone starts at 0.3 s; one frame of tolerance at either end.
    EXPECT_NEAR(run.Notes.front().OnsetSeconds(), 0.3, FramesToSeconds(1));
    EXPECT_NEAR(run.Notes.back().OffsetSeconds(), 0.3 + seconds, FramesToSeconds(2));
}

INSTANTIATE_TEST_SUITE_P(
    Signals, TLiveMelodyTest,
    ::testing::Values(LiveCase{"Melody", Detached({24, 28, 31, 29, 36, 24}), {24, 28, 31, 29, 36, 24}},
                      LiveCase{"RepeatedNote", Detached({30, 30, 30}), {30, 30, 30}},
                      LiveCase{"Silence", testsupport::Silence(Samples(3.0)), {}},
                      LiveCase{"Dither", testsupport::Noise(Samples(3.0), 1.0, 7), {}},
                      LiveCase{"ShorterThanAFrame", Detached({30}, 0.01), {}}),
    [](const ::testing::TestParamInfo<LiveCase>& row) { return std::string(row.param.Name); });

// Without a work folder neither the analysis nor its thread can start: an error, not a crash.
TEST_F(TLiveMelodyTest, NoWorkFolderIsAnError) {
    SetWorkFolder((m_dir.Path() / "gone").string());
    EXPECT_THROW(LiveAnalysis(0.4, [] {}), FileIoError);
    SetWorkFolder({});
}

TEST(KeyNameTest, SharpsAndOctaves) {
    EXPECT_EQ(KeyName(60) + KeyName(69) + KeyName(33) + KeyName(104), "C4A4A1G#7");
}

}  // namespace
}  // namespace ruvo
