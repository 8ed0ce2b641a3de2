#include "score/Score.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace ruvo {
namespace {

// A melody written in quarters, played to a tempo map: (quarter where it holds, bpm).
struct Played {
    double Start;   // quarters from bar 1
    double Length;  // quarters
    std::int32_t Key;
};

double PlayedSeconds(const std::vector<std::pair<double, double>>& map, double quarter) {
    double seconds = 0.0;
    for (std::size_t i = 0; i < map.size(); ++i) {
        const double end = i + 1 < map.size() ? std::min(quarter, map[i + 1].first) : quarter;
        if (end > map[i].first) seconds += (end - map[i].first) * 60.0 / map[i].second;
    }
    return seconds;
}

// Onsets wander by a few milliseconds, as a player's do; lengths end a little early.
// From quarter `holdAt` on, everything comes `hold` seconds later (a breath at a tempo change);
// `late` seconds, in turn, are added to the onsets (the uneven attacks of a choir).
std::vector<TimedNote> Perform(const std::vector<Played>& melody, const std::vector<std::pair<double, double>>& map,
                               double holdAt = 0.0, double hold = 0.0, const std::vector<double>& late = {}) {
    std::vector<TimedNote> notes;
    for (std::size_t i = 0; i < melody.size(); ++i) {
        const double wobble = (i % 3 == 0 ? 0.008 : i % 3 == 1 ? -0.006 : 0.003);
        const double held = melody[i].Start >= holdAt ? hold : 0.0;
        const double attack = late.empty() ? 0.0 : late[i % late.size()];
        const double on = PlayedSeconds(map, melody[i].Start) + wobble + held + attack;
        const double off = PlayedSeconds(map, melody[i].Start + melody[i].Length) - 0.02 + held;
        notes.push_back({on, off, melody[i].Key, 1.0 + static_cast<double>(i % 4)});
    }
    return notes;
}

// Eight bars of a tune in C major: quarters, eighths, dotted rhythms, rests; each note let go
// `early` quarters before its value ends.
std::vector<Played> Tune(double from = 0.0, std::int32_t bars = 8, double early = 0.0) {
    const std::vector<std::pair<double, double>> bar{{0, 1}, {1, 0.5}, {1.5, 0.5}, {2, 1.5}, {3.5, 0.5}};
    const std::vector<std::int32_t> keys{60, 62, 64, 65, 67, 69, 71, 72, 67, 64};
    std::vector<Played> out;
    for (std::int32_t b = 0; b < bars; ++b)
        for (std::size_t k = 0; k < bar.size(); ++k)
            if (!(b % 4 == 3 && k >= 3))  // every fourth bar ends on a rest
                out.push_back({from + 4.0 * b + bar[k].first, bar[k].second - early, keys[(b * 5 + k) % keys.size()]});
    return out;
}

struct TrackCase {
    std::string Name;
    std::vector<Played> Melody;
    std::vector<std::pair<double, double>> Map;  // the tempo the melody is played to
    // Onsets and ends at the start of the analysis's frames (46.44 ms).
    bool Framed = false;
    double Hold = 0.0;  // seconds of a breath at the first tempo change
    double TempoTolerance = 0.02;  // relative
    std::vector<double> Late = {};  // seconds added to the onsets in turn
};

class BuildScoreFromPlayed : public ::testing::TestWithParam<TrackCase> {};

// With the tempo found, every note lands on its written place and value, and the tempo map
// follows the player's.
TEST_P(BuildScoreFromPlayed, NotesLandOnTheirValuesAndTheTempoFollows) {
    const TrackCase& c = GetParam();
    std::vector<TimedNote> notes = Perform(c.Melody, c.Map, c.Map.back().first, c.Hold, c.Late);
    constexpr double kFrame = 1024.0 / 22050.0;
    if (c.Framed)
        for (TimedNote& n : notes) {
            n.Onset = kFrame * std::floor(n.Onset / kFrame);
            n.Offset = kFrame * std::ceil(n.Offset / kFrame);
        }
    const Score score = BuildScore(notes, {});
    ASSERT_EQ(score.Notes.size(), c.Melody.size());
    for (std::size_t i = 0; i < c.Melody.size(); ++i) {
        EXPECT_EQ(score.Notes[i].StartTick, std::lrint(c.Melody[i].Start * kScoreTicksPerQuarter)) << "note " << i;
        EXPECT_EQ(score.Notes[i].LengthTicks, std::lrint(c.Melody[i].Length * kScoreTicksPerQuarter)) << "note " << i;
    }
    for (const auto& [quarter, bpm] : c.Map) {
        const double seconds = PlayedSeconds(c.Map, quarter + 0.5);
        // Within 2 % (half the tolerance a listener notices) where the tempo holds.
        EXPECT_NEAR(SecondsToQuarter(score, seconds + 0.5) - SecondsToQuarter(score, seconds), 0.5 * bpm / 60.0,
                    0.5 * c.TempoTolerance * bpm / 60.0)
            << "at quarter " << quarter;
    }
    EXPECT_EQ(score.Key.Fifths, 0);
}

std::vector<Played> Triplets() {
    std::vector<Played> out = Tune(0.0, 2);
    // Bar 3: a quarter, three eighth triplets, two quarters.
    for (const auto& [s, l] : std::vector<std::pair<double, double>>{
             {8.0, 1.0}, {9.0, 1.0 / 3}, {9.0 + 1.0 / 3, 1.0 / 3}, {9.0 + 2.0 / 3, 1.0 / 3}, {10.0, 1.0}, {11.0, 1.0}})
        out.push_back({s, l, 67});
    std::vector<Played> tail = Tune(12.0, 2);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

// A slow tune in syncopated values: the first notes alone fit a wrong beat as well as the
// right one.
std::vector<Played> Syncopated() {
    const std::vector<std::pair<double, double>> values{{0.75, 1.0}, {1.75, 0.5}, {2.25, 2.0}, {4.25, 1.0},
                                                        {5.25, 0.5}, {5.75, 1.0}, {6.75, 0.5}, {7.25, 1.5}};
    std::vector<Played> out;
    for (std::int32_t b = 0; b < 4; ++b)
        for (std::size_t k = 0; k < values.size(); ++k)
            out.push_back({8.0 * b + values[k].first, values[k].second, std::array{60, 62, 64, 65, 67}[(b + k) % 5]});
    return out;
}

// A fast tune in long notes: a fixed tempo prior would hear it at half speed, in quarters and
// eighths; the density of its notes says otherwise.
std::vector<Played> LongNotes() {
    const std::vector<std::pair<double, double>> bar{{0, 2}, {2, 1}, {3, 0.5}, {3.5, 0.5}, {4, 3}, {7, 1}};
    std::vector<Played> out;
    for (std::size_t b = 0; b < 6; ++b)
        for (std::size_t k = 0; k < bar.size() - (b == 5 ? 1 : 0); ++k)
            out.push_back({8.0 * static_cast<double>(b) + bar[k].first, bar[k].second,
                           std::array{60, 64, 67, 65, 62, 72}[(b + k) % 6]});
    return out;
}

// A tempo that changes by `perBar` of itself every bar, a step a beat: a ritardando or an accelerando.
std::vector<std::pair<double, double>> Drifting(double bpm, double perBar, std::int32_t bars) {
    std::vector<std::pair<double, double>> map;
    for (std::int32_t beat = 0; beat < 4 * bars; ++beat) map.push_back({beat, bpm * std::pow(1.0 + perBar, beat / 4.0)});
    return map;
}

INSTANTIATE_TEST_SUITE_P(
    Melodies, BuildScoreFromPlayed,
    ::testing::Values(TrackCase{"SteadyTempo", Tune(), {{0.0, 100.0}}},
                      TrackCase{"TempoChange", Tune(), {{0.0, 90.0}, {16.0, 118.0}}},
                      TrackCase{"BreathAtTheChange", Tune(), {{0.0, 90.0}, {16.0, 118.0}}, false, 0.05},
                      // The change after a rest, and one a quarter faster: the knot lies where the path changes.
                      TrackCase{"SlowerAfterARest", Tune(), {{0.0, 100.0}, {16.0, 85.0}}},
                      TrackCase{"FasterByAQuarter", Tune(), {{0.0, 84.0}, {12.0, 105.0}}},
                      // Onsets after the change fit a phase a sixteenth off as well: the bar line decides.
                      TrackCase{"FasterAtABarLine", Tune(), {{0.0, 96.0}, {12.0, 120.0}}},
                      TrackCase{"SlowerByATenthAfterARest", Tune(), {{0.0, 120.0}, {16.0, 108.0}}},
                      TrackCase{"PickupAfterSilence", Tune(1.5, 6), {{0.0, 132.0}}},
                      TrackCase{"EighthTriplets", Triplets(), {{0.0, 84.0}}},
                      TrackCase{"SyncopatedInFrames", Syncopated(), {{0.0, 78.8}, {19.0, 80.4}}, true},
                      TrackCase{"SlowerByFourPerCent", Tune(0.0, 12), {{0.0, 104.0}, {18.0, 100.0}}, true},
                      // Changes the path takes as drift: the first grid fits the first tempo alone.
                      TrackCase{"SlowerAfterFourBars", Tune(0.0, 12), {{0.0, 100.0}, {16.0, 96.0}}, true},
                      TrackCase{"FasterAfterThreeBars", Tune(0.0, 12), {{0.0, 110.0}, {12.0, 117.7}}, true},
                      // A step of a few per cent that the path takes as drift, after which the notes slip slowly.
                      TrackCase{"FasterByTwoPerCentMidBar", Tune(0.0, 16), {{0.0, 150.0}, {30.0, 154.0}}},
                      TrackCase{"FasterByTwoPerCentAtBarNine", Tune(0.0, 16), {{0.0, 150.0}, {32.0, 153.6}}},
                      // Uneven attacks at one tempo: notes between two sixteenths fit a grid 6 % slower as well.
                      TrackCase{"UnevenOnsetsAtOneTempo", Tune(0.0, 12), {{0.0, 148.0}}, false, 0.0, 0.02,
                                {-0.03, -0.006, -0.019, 0.027}},
                      TrackCase{"FastInLongNotes", LongNotes(), {{0.0, 210.0}}, true},
                      // Gradual changes: the grid follows the player; the map's steps stay within 4 %.
                      TrackCase{"SlowingByAPerCentABar", Tune(0.0, 12), Drifting(104.0, -0.01, 12), true, 0.0, 0.04},
                      TrackCase{"QuickeningByAPerCentABar", Tune(0.0, 12), Drifting(100.0, 0.01, 12), true, 0.0, 0.04},
                      TrackCase{"ReleasedEarly", Tune(0.0, 8, 0.125), {{0.0, 96.0}}},
                      // Uneven attacks: one tempo between the two fits the intervals nearly as well.
                      TrackCase{"UnevenOnsetsThenSlower", Tune(0.0, 12), {{0.0, 120.0}, {12.0, 105.6}}, true, 0.0, 0.02,
                                {-0.02, 0.02, -0.02, 0.02, 0.0, 0.0}},
                      // Uneven attacks at one tempo, read as a change after a slip: one grid fits the whole piece better.
                      TrackCase{"UnevenOnsetsReadAsAChange", Tune(0.0, 16), {{0.0, 121.0}}, true, 0.0, 0.02,
                                {-0.03, 0.03, 0.0, 0.04, -0.02}},
                      // Uneven attacks at one tempo, read as a step away and back a few bars later: no change.
                      TrackCase{"UnevenOnsetsReadAsAnExcursion", Tune(0.0, 16), {{0.0, 114.0}}, true, 0.0, 0.02,
                                {0.027, 0.035, -0.01, 0.016, 0.019, -0.025}}),
    [](const auto& param) { return param.param.Name; });

// A note weighs the root of its length: E major's three D#s outweigh one long D; C major's held F three brief F#s.
TEST(BuildScoreTest, KeyWeighsNotesByTheRootOfTheirLength) {
    const auto fifths = [](std::vector<std::int32_t> keys, std::int32_t held, std::int32_t brief, double briefs) {
        std::vector<TimedNote> notes{{0.0, 1.5, held, 1.0}};
        for (std::int32_t k : keys)
            notes.push_back({notes.back().Offset, notes.back().Offset + (k == brief ? briefs : 1), k});
        return BuildScore(notes, {}).Key.Fifths;
    };
    EXPECT_EQ(fifths({64, 66, 68, 69, 71, 73, 63, 63, 63}, 62, 63, 0.45), 4);
    EXPECT_EQ(fifths({60, 62, 64, 67, 69, 71, 66, 66, 66}, 65, 66, 0.1), 0);
}

TEST(BuildScoreTest, ChoicesOverrideWhatIsFound) {
    ScoreChoices choices;
    choices.Bpm = 75.0;
    choices.TimeSignature = Meter{3, 4};
    choices.DownbeatSeconds = 0.4;
    const Score score = BuildScore(Perform(Tune(), {{0.0, 100.0}}), choices);
    ASSERT_EQ(score.Tempo.size(), 1u);
    EXPECT_EQ(score.Tempo[0].Bpm, 75.0);
    EXPECT_EQ(score.TimeSignature, (Meter{3, 4}));
    EXPECT_EQ(score.DownbeatSeconds, 0.4);
    // Bars of three beats from the chosen downbeat.
    const std::vector<BeatMark> marks = BeatMarks(score, 0.0, 0.4 + 6 * 0.8 + 1e-6);
    ASSERT_EQ(marks.size(), 7u);
    for (std::size_t i = 0; i < marks.size(); ++i) {
        EXPECT_NEAR(marks[i].Seconds, 0.4 + 0.8 * static_cast<double>(i), 1e-9);
        EXPECT_EQ(marks[i].Downbeat, i % 3 == 0);
    }
}

TEST(BuildScoreTest, ChordsShareOneStartAndLength) {
    std::vector<TimedNote> notes = Perform(Tune(), {{0.0, 110.0}});
    const std::size_t melody = notes.size();
    for (std::size_t i = 0; i < melody; i += 4) notes.push_back({notes[i].Onset + 0.012, notes[i].Offset - 0.05, notes[i].Key - 4, 1.0});
    const Score score = BuildScore(notes, {});
    ASSERT_EQ(score.Notes.size(), notes.size());
    for (std::size_t i = 0; i + 1 < score.Notes.size(); ++i) {
        const ScoreNote& a = score.Notes[i];
        const ScoreNote& b = score.Notes[i + 1];
        if (a.StartTick == b.StartTick) EXPECT_EQ(a.LengthTicks, b.LengthTicks);
        else EXPECT_LE(a.StartTick + a.LengthTicks, b.StartTick);
    }
}

TEST(BuildScoreTest, CrowdedOnsetsPushNothingLate) {
    // A table of many short notes, 20 a second for 4 s, then one at 5 s: the tenth quarter at 120.
    std::vector<TimedNote> notes;
    for (int i = 0; i < 80; ++i) notes.push_back({0.05 * i, 0.05 * i + 0.04, 60 + i % 5, 1.0});
    notes.push_back({5.0, 5.5, 72, 1.0});
    const Score held = BuildScore(notes, {120.0, {}, {}});  // held at 120 bpm
    ASSERT_FALSE(held.Notes.empty());
    EXPECT_EQ(held.Notes.back().StartTick, 10 * kScoreTicksPerQuarter);
    // Quarters at 120 as a classic table holds them: a neighbour lit for a frame before each.
    notes.clear();
    for (int i = 0; i < 16; ++i) {
        notes.push_back({0.5 + 0.5 * i, 0.95 + 0.5 * i, 60 + 2 * (i % 4), 1.0});
        notes.push_back({0.4536 + 0.5 * i, 0.5 + 0.5 * i, 61 + 2 * (i % 4), 1.0});
    }
    const Score score = BuildScore(notes, {});
    EXPECT_NEAR(score.Tempo.front().Bpm, 120.0, 2.4);
    for (const ScoreNote& n : score.Notes) EXPECT_EQ(n.StartTick % kScoreTicksPerQuarter, 0) << n.StartTick;
}

TEST(BuildScoreTest, ARecordingStartedInMidBeatHasItsBeatOnTheNotes) {
    // Quarters at 120 after 1.3 s of silence: from second 0 they lie on the half beat.
    std::vector<TimedNote> notes;
    for (int i = 0; i < 16; ++i) notes.push_back({1.3 + 0.5 * i, 1.75 + 0.5 * i, 60 + i % 5, 1.0});
    const Score score = BuildScore(notes, {});
    for (const ScoreNote& n : score.Notes) EXPECT_EQ(n.StartTick % kScoreTicksPerQuarter, 0) << n.StartTick;
    EXPECT_NEAR(std::fmod(score.DownbeatSeconds, 0.5), 0.3, 0.03);
    // A tempo held at 240 without a downbeat, onsets uneven about the middle of a sixteenth
    // from second 0: the beat still on them, from their phase.
    std::vector<TimedNote> held = notes;
    for (std::size_t i = 0; i < held.size(); ++i) held[i].Onset -= i % 2 == 0 ? 0.008 : 0.032;
    for (const ScoreNote& n : BuildScore(held, {240.0, {}, {}}).Notes) EXPECT_EQ(n.StartTick % kScoreTicksPerQuarter, 0);
    // Within a second of the start, its onsets off the beat are syncopation.
    for (TimedNote& n : notes) n.Onset -= 0.5, n.Offset -= 0.5;
    for (const ScoreNote& n : BuildScore(notes, {}).Notes) EXPECT_EQ(n.StartTick % kScoreTicksPerQuarter, 240);
}

TEST(BuildScoreTest, NoNotesGiveAnEmptyScoreWithATempo) {
    const Score score = BuildScore({}, {});
    EXPECT_TRUE(score.Notes.empty());
    ASSERT_EQ(score.Tempo.size(), 1u);
    EXPECT_GE(score.Tempo[0].Bpm, kMinScoreBpm);
    EXPECT_FALSE(BeatMarks(score, 0.0, 4.0).empty());
}

TEST(BuildScoreTest, ChecksRefuseWhatCannotBeWritten) {
    EXPECT_EQ(ParseMeter("6/8"), (Meter{6, 8}));
    for (const char* text : {"", "3", "/4", "3/", "3/4x", "a/4", "-3/4"}) EXPECT_FALSE(ParseMeter(text)) << text;
    EXPECT_TRUE(CheckMeter({3, 4}).empty());
    for (const Meter m : {Meter{3, 16}, Meter{0, 4}, Meter{5, 3}}) EXPECT_FALSE(CheckMeter(m).empty());
    EXPECT_TRUE(CheckBpm(20.0).empty());
    EXPECT_TRUE(CheckBpm(400.0).empty());
    for (double bpm : {19.9, 400.5, std::nan("")}) EXPECT_FALSE(CheckBpm(bpm).empty());
    EXPECT_TRUE(CheckDownbeat(0.0, 3.0).empty());
    EXPECT_FALSE(CheckDownbeat(3.0, 3.0).empty());
    EXPECT_FALSE(CheckDownbeat(-0.1, 3.0).empty());
}

}  // namespace
}  // namespace ruvo
