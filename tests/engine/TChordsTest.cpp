// Chords mode: chords of harmonic tones made by sox go through the real WAV stage and the note
// stage in chords mode; the note table must hold the keys that were played, each starting
// with its chord and ending near its release, and no others.

#include "engine/TChords.h"

#include "engine/Conversion.h"
#include "engine/TNote.h"
#include "engine/WavProc.h"
#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace ruvo {
namespace {

// A stretch of the recording: keys (MIDI) at a level (1: full), or silence when none.
struct Part {
    double Seconds = 0.0;
    std::map<std::int32_t, double> Keys;
    double Attack = 0.005;  // seconds of the fade in
    double Decay = 0.0;     // 0: held; else the share of its level the tone has left at its release
};

struct ChordCase {
    const char* Name;
    std::vector<Part> Parts;
};

// Harmonic tones with a strong octave partial, made and joined by sox.
std::string MakeWav(const testsupport::TempDir& dir, const std::vector<Part>& parts) {
    constexpr double kPartials[] = {1.0, 0.8, 0.35, 0.25, 0.12};
    std::string joined;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string name = dir.File("part" + std::to_string(i) + ".wav");
        std::string command = "sox -n -r 22050 -b 16 -c 1 '" + name + "' ";
        if (parts[i].Keys.empty()) {
            command += "trim 0 " + std::to_string(parts[i].Seconds);
        } else {
            std::string waves;
            std::string mix;
            int channel = 0;
            for (const auto& [key, level] : parts[i].Keys) {
                const double hz = 440.0 * std::pow(2.0, (key - 69) / 12.0);
                for (std::size_t h = 0; h < std::size(kPartials); ++h) {
                    waves += " sin " + std::to_string(hz * static_cast<double>(h + 1));
                    ++channel;
                    mix += std::string(channel == 1 ? "" : ",") + std::to_string(channel) + "v" +
                           std::to_string(0.08 * level * kPartials[h]);
                }
            }
            // A decaying tone falls linearly towards silence until it is released.
            const double length = parts[i].Seconds / (1.0 - parts[i].Decay);
            const std::string seconds = std::to_string(parts[i].Seconds);
            command += "synth " + std::to_string(length) + waves + " remix " + mix + " fade " + (parts[i].Decay > 0.0 ? "t " : "q ") +
                       std::to_string(parts[i].Attack) + " " + std::to_string(length) + (parts[i].Decay > 0.0 ? " " + std::to_string(length) : " 0") +
                       " trim 0 " + seconds + " fade q 0 " + seconds + " 0.04";
        }
        if (std::system(command.c_str()) != 0) return {};
        joined += " '" + name + "'";
    }
    const std::string out = dir.File("chords.wav");
    return std::system(("sox" + joined + " '" + out + "'").c_str()) == 0 ? out : std::string{};
}

class ChordsTest : public testing::TestWithParam<ChordCase> {};

TEST_P(ChordsTest, EveryKeyStartsAndEndsWithItsChordAndNoOtherNote) {
    if (std::system("sox --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
    testsupport::TempDir dir;
    testsupport::ScopedRecordingHost host;
    const std::string wav = MakeWav(dir, GetParam().Parts);
    ASSERT_FALSE(wav.empty());
    // The frame where each part starts, and the keys that start there; the frame where it ends.
    const auto frameOf = [](double seconds) { return static_cast<std::int32_t>(std::lrint(seconds * 22050 / 1024)); };
    std::map<std::int32_t, std::set<std::int32_t>> expected;
    std::map<std::int32_t, std::int32_t> partEnd;
    double at = 0.0;
    for (const Part& part : GetParam().Parts) {
        for (const auto& key : part.Keys) expected[frameOf(at)].insert(key.first);
        partEnd[frameOf(at)] = frameOf(at + part.Seconds);
        at += part.Seconds;
    }

    std::map<std::int32_t, testsupport::Table> tables;
    for (const std::int32_t workers : {1, 2}) {
        TWavProc proc;
        TNote note;
        note.SetWorkers(workers);
        WavHead rec;
        rec.Mode = AnalysisMode::Chords;
        const auto go = [](Tick) { return true; };
        ASSERT_EQ(RunWaveStage(proc, wav, rec, go), 0);
        ASSERT_EQ(RunNoteStage(note, rec, 1, go), 0);
        tables[workers] = testsupport::ReadTable(rec.NoteIntenFileName, kNoteCount);
    }
    EXPECT_EQ(tables[1], tables[2]) << "the table does not depend on the threads";
    EXPECT_TRUE(host.Errors.empty());

    // Every run of a row is a note; it must start within a frame of a part that plays its key.
    std::map<std::int32_t, std::set<std::int32_t>> found;
    const testsupport::Table& table = tables[1];
    for (std::size_t f = 0; f < table.size(); ++f) {
        for (std::size_t r = 0; r < static_cast<std::size_t>(kNoteCount); ++r) {
            if (table[f][r] <= 0.0 || (f > 0 && table[f - 1][r] > 0.0)) continue;
            const auto frame = static_cast<std::int32_t>(f);
            std::int32_t start = frame;
            for (const auto& [first, keys] : expected) {
                if (std::abs(first - frame) <= 1) start = first;
            }
            found[start].insert(NoteToMidiKey(static_cast<std::int32_t>(r)));
            // ... and end within two frames (the window's half) of where its part ends.
            std::size_t end = f + 1;
            while (end < table.size() && table[end][r] > 0.0) ++end;
            if (expected.count(start) != 0) {
                EXPECT_LE(std::abs(static_cast<std::int32_t>(end) - partEnd[start]), 2) << "key " << NoteToMidiKey(static_cast<std::int32_t>(r)) << " from frame " << start;
            }
        }
    }
    EXPECT_EQ(found, expected);
}

const Part kRest{0.3, {}};
const Part kTail{0.4, {}};
const std::map<std::int32_t, double> kTriad{{60, 1.0}, {64, 1.0}, {67, 1.0}};

const auto kName = [](const testing::TestParamInfo<ChordCase>& c) { return std::string(c.param.Name); };

INSTANTIATE_TEST_SUITE_P(Chords, ChordsTest,
                         testing::Values(ChordCase{"TriadWithStrongOctavePartials", {kRest, {1.2, kTriad}, kTail}},
                                         ChordCase{"SoftInnerNote", {kRest, {1.2, {{60, 1.0}, {64, 0.45}, {67, 1.0}}}, kTail}},
                                         ChordCase{"SilenceHasNoNotes", {{2.0, {}}}},
                                         ChordCase{"ChordReleasedAndStruckAgain", {kRest, {0.6, kTriad}, {0.03, {}}, {0.6, kTriad, 0.1}, kTail}},
                                         ChordCase{"ChangingChords", {kRest, {0.8, kTriad}, {0.8, {{57, 1.0}, {62, 1.0}, {65, 1.0}}}, kTail}},
                                         ChordCase{"DecayingChordLastsUntilReleased", {kRest, {1.2, kTriad, 0.005, 0.05}, kTail}},
                                         ChordCase{"SlowlySpeakingChords", {kRest, {1.6, kTriad, 1.2}, {1.6, {{57, 1.0}, {62, 1.0}, {65, 1.0}}, 1.2}, kTail}},
                                         ChordCase{"RepeatedChord", {kRest, {0.6, {{55, 1.0}, {59, 1.0}, {62, 1.0}}}, {0.6, {{55, 1.0}, {59, 1.0}, {62, 1.0}}}, kTail}},
                                         ChordCase{"SeventhChord", {kRest, {1.2, {{48, 1.0}, {52, 1.0}, {55, 1.0}, {58, 1.0}}}, kTail}}),
                         kName);

// Not reached yet: the bass's template takes the chord notes on its second and third partials
// (its activation runs above what its own fundamental holds). Holding every activation to what
// its fundamental holds finds them, but puts stray notes into single melodies.
INSTANTIATE_TEST_SUITE_P(
    DISABLED_NotYet, ChordsTest,
    testing::Values(ChordCase{"BassAnOctaveBelowAChordNote", {kRest, {1.2, {{45, 1.0}, {57, 1.0}, {61, 1.0}, {64, 1.0}}}, kTail}}),
    kName);

}  // namespace
}  // namespace ruvo
