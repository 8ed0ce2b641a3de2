// Melody mode: single-voice signals made here go through the real WAV stage and the note
// stage in melody mode; the note table must then hold the notes that were played.

#include "engine/TMelody.h"

#include "engine/MelodyEdges.h"

#include "engine/Conversion.h"
#include "engine/TMakeMidi.h"
#include "engine/TNote.h"
#include "engine/WavProc.h"
#include "tests/testsupport/MidiReader.h"
#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/Signals.h"
#include "tests/testsupport/TempDir.h"
#include "tests/testsupport/WavWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <numbers>
#include <tuple>
#include <vector>

namespace ruvo {
namespace {

using testsupport::Table;

constexpr double kRate = 22050.0;
constexpr double kFrameSeconds = kFrameSamples / kRate;

std::size_t Samples(double seconds) { return static_cast<std::size_t>(seconds * kRate); }
std::int32_t FrameAt(double seconds) { return static_cast<std::int32_t>(seconds / kFrameSeconds); }

struct Note {
    std::int32_t Index = 0;  // note 0..71
    std::int32_t First = 0;  // first frame
    std::int32_t End = 0;    // frame after the last
};

// The notes of a table: runs of one sounding cell. Melody mode sounds at most one cell per
// frame, which is checked on the way.
std::vector<Note> NotesOf(const Table& table) {
    std::vector<Note> notes;
    std::int32_t current = -1;
    for (std::size_t f = 0; f < table.size(); ++f) {
        std::int32_t sounding = -1;
        for (std::size_t n = 0; n < table[f].size(); ++n) {
            if (table[f][n] <= 0.0) continue;
            EXPECT_EQ(sounding, -1) << "two cells sound in frame " << f;
            sounding = static_cast<std::int32_t>(n);
        }
        const auto frame = static_cast<std::int32_t>(f);
        if (sounding >= 0 && sounding == current) {
            notes.back().End = frame + 1;
        } else if (sounding >= 0) {
            notes.push_back({sounding, frame, frame + 1});
        }
        current = sounding;
    }
    return notes;
}

// A conversion in melody mode of a 16-bit mono file at 22050 per second.
class MelodyConversion {
public:
    explicit MelodyConversion(double thresholdDefault = 0.4) { m_rec.ThresholdDefault = thresholdDefault; }

    void Run(const std::vector<double>& signal, AnalysisMode mode = AnalysisMode::Melody) {
        const std::string wavName = m_dir.File("in.wav");
        testsupport::WriteWav(wavName, testsupport::WavFormat{}, testsupport::Quantize(signal, 16));
        m_rec.Mode = mode;
        const auto go = [](Tick) { return true; };
        ASSERT_EQ(RunWaveStage(*m_wav, wavName, m_rec, go), 0);
        ASSERT_EQ(RunNoteStage(*m_note, m_rec, 1, go), 0);
        EXPECT_TRUE(m_host.Errors.empty());
    }
    // The note stage again on the same files, as after an edit of a side file.
    void Rerun() {
        const auto go = [](Tick) { return true; };
        ASSERT_EQ(RunNoteStage(*m_note, m_rec, 0, go), 0);
    }

    const WavHead& Rec() const { return m_rec; }
    Table NoteTable() const { return testsupport::ReadTable(m_rec.NoteIntenFileName, kNoteCount); }
    std::vector<Note> Notes() const { return NotesOf(NoteTable()); }
    std::vector<testsupport::MidiNote> MidiNotes() {
        m_rec.MidiFileName = m_dir.File("out.mid");
        std::string unused;
        TMakeMidi().ConvMidi(kMidiToUserFile, m_rec, 0, m_rec.FrameCount, unused);
        std::vector<testsupport::MidiNote> notes;
        for (const auto& track : testsupport::ReadMidiFile(m_rec.MidiFileName).Tracks) {
            const auto some = testsupport::TrackNotes(track);
            notes.insert(notes.end(), some.begin(), some.end());
        }
        return notes;
    }

private:
    testsupport::TempDir m_dir;
    testsupport::ScopedRecordingHost m_host;
    std::unique_ptr<TWavProc> m_wav = std::make_unique<TWavProc>();
    std::unique_ptr<TNote> m_note = std::make_unique<TNote>();
    WavHead m_rec;
};

// Lead-in of silence, the sound, then silence again.
std::vector<double> Framed(const std::vector<double>& sound, double leadIn = 0.3, double tail = 0.4) {
    std::vector<double> out = testsupport::Silence(Samples(leadIn));
    testsupport::Append(out, sound);
    testsupport::Append(out, testsupport::Silence(Samples(tail)));
    return out;
}

// ---------------------------------------------------------------------------------------
// One steady tone gives one note of its own key, whatever its timbre.

struct ToneCase {
    const char* Name;
    std::vector<double> Harmonics;  // amplitude of harmonic 1, 2, ...
};

class SteadyTone : public ::testing::TestWithParam<std::tuple<ToneCase, int>> {};

TEST_P(SteadyTone, GivesOneNoteOfItsKey) {
    const auto& [tone, note] = GetParam();
    MelodyConversion conversion;
    conversion.Run(Framed(testsupport::HarmonicTone(testsupport::NoteHz(note), Samples(1.0), kRate, tone.Harmonics)));

    const auto notes = conversion.Notes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].Index, note);
    // The tone covers 0.3 s .. 1.3 s; a frame (46 ms) either way is the analysis's resolution,
    // two more allow for the attack and release of the level window.
    EXPECT_NEAR(notes[0].First, FrameAt(0.3), 2);
    EXPECT_NEAR(notes[0].End, FrameAt(1.3), 3);
}

const ToneCase kPure{"Pure", {12000.0}};
const ToneCase kHarmonic{"Harmonic", {8000.0, 4000.0, 2600.0, 2000.0, 1600.0, 1300.0}};
// The second and fourth harmonics are louder than the fundamental: the note must not be
// written an octave up.
const ToneCase kOctaveRich{"OctaveRich", {2500.0, 8000.0, 3000.0, 4000.0, 1200.0, 1500.0}};
// A reed's low register: the fundamental 28 dB below the strongest harmonic, yet heard.
const ToneCase kFaintFundamental{"FaintFundamental", {320.0, 2000.0, 6000.0, 8000.0, 7000.0, 5000.0, 3000.0}};

INSTANTIATE_TEST_SUITE_P(Notes, SteadyTone,
                         ::testing::Combine(::testing::Values(kPure, kHarmonic, kOctaveRich, kFaintFundamental),
                                            ::testing::Values(5, 19, 33, 45, 57)),
                         [](const auto& row) {
                             return std::string(std::get<0>(row.param).Name) + "_note" +
                                    std::to_string(std::get<1>(row.param));
                         });

// At low pitches the fundamental ranges of neighbouring notes share a bin: a tone a third of a
// semitone off its key lies in both and must still give its nearest key.
TEST(TMelodyTest, LowToneOffItsKeyGivesTheNearestKey) {
    // timbre, note, cents off the note
    for (const auto& [tone, note, cents] : std::vector<std::tuple<ToneCase, int, double>>{
             {kPure, 3, 30.0}, {kPure, 15, -30.0}, {kPure, 27, -40.0}, {kHarmonic, 8, -30.0}, {kHarmonic, 19, -40.0}}) {
        MelodyConversion conversion;
        const double hz = testsupport::NoteHz(note) * std::exp2(cents / 1200.0);
        conversion.Run(Framed(testsupport::HarmonicTone(hz, Samples(1.0), kRate, tone.Harmonics)));
        const auto notes = conversion.Notes();
        ASSERT_EQ(notes.size(), 1u) << tone.Name << " " << note;
        EXPECT_EQ(notes[0].Index, note) << tone.Name << " " << cents << " cents";
    }
}

// ---------------------------------------------------------------------------------------
// Nothing to follow: no note at all.

TEST(TMelodyTest, SilenceDitherAndNoiseGiveNoNote) {
    const std::size_t count = Samples(2.0);
    struct Case {
        const char* Name;
        std::vector<double> Signal;
    };
    const std::vector<Case> cases = {
        {"silence", testsupport::Silence(count)},
        {"dither", testsupport::Noise(count, 1.4, 7)},  // -1, 0, +1 after rounding
        {"noise", testsupport::Noise(count, 8000.0, 11)},
        {"noise after silence", Framed(testsupport::Noise(count, 8000.0, 13), 1.0, 0.0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        MelodyConversion conversion;
        conversion.Run(c.Signal);
        EXPECT_TRUE(conversion.Notes().empty());
    }
}

// ---------------------------------------------------------------------------------------
// The same pitch attacked again: two notes when the attack rises by 12 dB, one otherwise.

std::vector<double> Reattacked(int note, double dropDb) {
    // Each half decays by dropDb and then jumps back to full level, phase-continuous.
    const std::size_t half = Samples(0.6);
    const double hz = testsupport::NoteHz(note);
    std::vector<double> out(2 * half);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i % half) / static_cast<double>(half);
        const double gain = std::pow(10.0, -dropDb * t / 20.0);
        out[i] = 12000.0 * gain * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / kRate);
    }
    return Framed(out);
}

TEST(TMelodyTest, RepeatedNoteWithReattackGivesTwoNotes) {
    MelodyConversion conversion;
    conversion.Run(Reattacked(40, 20.0));

    const auto notes = conversion.Notes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].Index, 40);
    EXPECT_EQ(notes[1].Index, 40);
    // The second note starts at the attack, and one silent column lets the export see two notes.
    EXPECT_NEAR(notes[1].First, FrameAt(0.9), 1);
    EXPECT_EQ(notes[0].End + 1, notes[1].First);

    const auto midi = conversion.MidiNotes();
    ASSERT_EQ(midi.size(), 2u);
    EXPECT_EQ(midi[0].Key, NoteToMidiKey(40));
    EXPECT_EQ(midi[1].Key, NoteToMidiKey(40));
}

TEST(TMelodyTest, RepeatedNoteWithoutReattackStaysOneNote) {
    MelodyConversion conversion;
    conversion.Run(Reattacked(40, 6.0));

    const auto notes = conversion.Notes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].Index, 40);
}

TEST(TMelodyTest, MelodyOfDifferentNotesGivesEachNote) {
    const std::vector<int> played = {36, 40, 43, 48, 43, 38};
    MelodyConversion conversion;
    conversion.Run(Framed(testsupport::NoteSequence(played, Samples(0.35), kRate, 10000.0)));

    const auto notes = conversion.Notes();
    ASSERT_EQ(notes.size(), played.size());
    for (std::size_t i = 0; i < played.size(); ++i) EXPECT_EQ(notes[i].Index, played[i]) << "note " << i;
}

// ---------------------------------------------------------------------------------------
// One note fading out while the next swells in, without an attack (a choir's legato): the
// tracker changes only once the new note is the louder one, but the note starts where it rose.

TEST(TMelodyTest, SlowLegatoNoteStartsWhereItRises) {
    // The old note holds for 0.2 s after the new one begins and then dies away in 0.1 s; the
    // new one swells over 0.25 s. The tracker alone takes it up 4 to 5 frames after it began.
    const std::size_t hold = Samples(0.8);
    std::vector<double> sound(hold + Samples(0.6), 0.0);
    const double low = testsupport::NoteHz(40);
    const double high = testsupport::NoteHz(45);
    for (std::size_t i = 0; i < sound.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double after = i >= hold ? static_cast<double>(i - hold) / kRate : -1.0;
        const double release = after < 0.2 ? 1.0 : std::exp(-(after - 0.2) / 0.1);
        const double attack = after < 0.0 ? 0.0 : std::min(after / 0.25, 1.0);
        sound[i] = 8000.0 * release * std::sin(2.0 * std::numbers::pi * low * t) +
                   10000.0 * attack * std::sin(2.0 * std::numbers::pi * high * t);
    }
    MelodyConversion conversion;
    conversion.Run(Framed(sound));

    const auto notes = conversion.Notes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].Index, 40);
    EXPECT_EQ(notes[1].Index, 45);
    EXPECT_GE(notes[1].First, FrameAt(1.1));
    EXPECT_LE(notes[1].First, FrameAt(1.1) + 3);
    EXPECT_EQ(notes[0].End, notes[1].First);
}

// ---------------------------------------------------------------------------------------
// A glide up across semitones comes out as a staircase of neighbouring notes.

TEST(TMelodyTest, PitchGlideGivesStaircase) {
    constexpr int kFrom = 45;
    constexpr int kTo = 51;
    constexpr double kSeconds = 3.0;
    const double rate = (kTo - kFrom) / kSeconds;  // semitones per second
    const double f0 = testsupport::NoteHz(kFrom);
    std::vector<double> glide(Samples(kSeconds));
    for (std::size_t i = 0; i < glide.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        // Phase of f0 * 2^(rate * t / 12), integrated.
        const double k = rate * std::numbers::ln2 / 12.0;
        glide[i] = 10000.0 * std::sin(2.0 * std::numbers::pi * f0 * (std::exp(k * t) - 1.0) / k);
    }
    MelodyConversion conversion;
    conversion.Run(Framed(glide));

    // Every semitone in turn, each taking over when the glide crosses the quarter tone
    // between them (within two frames: the tracker's preference for staying costs a little lag).
    const auto notes = conversion.Notes();
    ASSERT_EQ(notes.size(), static_cast<std::size_t>(kTo - kFrom + 1));
    for (std::size_t i = 0; i < notes.size(); ++i) {
        EXPECT_EQ(notes[i].Index, kFrom + static_cast<int>(i));
        if (i == 0) continue;
        const double crossing = 0.3 + (static_cast<double>(i) - 0.5) / rate;
        EXPECT_NEAR(notes[i].First, crossing / kFrameSeconds, 2.0) << "note " << notes[i].Index;
        EXPECT_EQ(notes[i].First, notes[i - 1].End);
    }
}

// ---------------------------------------------------------------------------------------
// Notes on the frame grid where they sound: a note starts in the frame whose start lies
// nearest to its attack (the export's columns begin there) and ends where its own sound stops.

// Frame whose start lies nearest to a time.
std::int32_t NearestFrame(double seconds) {
    return static_cast<std::int32_t>(std::floor(seconds / kFrameSeconds + 0.5));
}

// A tone of one or more segments, phase-continuous: each segment glides from its note to the
// next segment's over `glide` seconds and follows an amplitude envelope.
struct Segment {
    double Seconds;
    int Note;
    double Glide = 0.0;
};
std::vector<double> Tone(const std::vector<Segment>& segments, const std::function<double(double)>& gain) {
    std::vector<double> out;
    double phase = 0.0;
    double t = 0.0;
    for (std::size_t s = 0; s < segments.size(); ++s) {
        const double from = segments[s].Note;
        const double to = s + 1 < segments.size() ? segments[s + 1].Note : from;
        for (std::size_t i = 0; i < Samples(segments[s].Seconds); ++i, t += 1.0 / kRate) {
            const double left = segments[s].Seconds - static_cast<double>(i) / kRate;
            const double share = segments[s].Glide > 0.0 ? std::clamp(1.0 - left / segments[s].Glide, 0.0, 1.0) : 0.0;
            phase += 2.0 * std::numbers::pi * 55.0 * std::pow(2.0, (from + share * (to - from)) / 12.0) / kRate;
            out.push_back(gain(t) * (std::sin(phase) + 0.5 * std::sin(2.0 * phase) + 0.3 * std::sin(3.0 * phase)));
        }
    }
    return out;
}

// Two sounds played together; the shorter one is taken as silent after its end.
std::vector<double> Sum(std::vector<double> a, const std::vector<double>& b) {
    a.resize(std::max(a.size(), b.size()), 0.0);
    for (std::size_t i = 0; i < b.size(); ++i) a[i] += b[i];
    return a;
}

struct Heard {  // a note, in seconds from the start of the sound
    std::int32_t Index;
    double Start, End;
};

struct GridCase {
    const char* Name;
    double LeadIn;              // silence before the tone, seconds
    std::vector<double> Sound;  // the tone and what follows it
    std::vector<Heard> Expected;
};

class OnTheGrid : public ::testing::TestWithParam<GridCase> {};

TEST_P(OnTheGrid, NotesSoundWhereThePlayingDoes) {
    const GridCase& c = GetParam();
    std::vector<double> signal = testsupport::Silence(Samples(c.LeadIn));
    testsupport::Append(signal, c.Sound);
    testsupport::Append(signal, testsupport::Silence(Samples(0.4)));
    MelodyConversion conversion;
    conversion.Run(signal);

    const auto notes = conversion.Notes();
    ASSERT_EQ(notes.size(), c.Expected.size());
    for (std::size_t i = 0; i < notes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(notes[i].Index, c.Expected[i].Index);
        EXPECT_EQ(notes[i].First, NearestFrame(c.LeadIn + c.Expected[i].Start));
        EXPECT_NEAR(notes[i].End, NearestFrame(c.LeadIn + c.Expected[i].End), 1);
    }
}

constexpr double kLevel = 6000.0;
const auto kSteady = [](double) { return kLevel; };
// The lead-ins put the attack a quarter and three quarters into frame 7 (0.325 s, 0.348 s).
const double kEarlyInFrame = 7.25 * kFrameSeconds;
const double kLateInFrame = 7.75 * kFrameSeconds;
INSTANTIATE_TEST_SUITE_P(
    Edges, OnTheGrid,
    ::testing::Values(
        GridCase{"AttackEarlyInFrame", kEarlyInFrame, Tone({{0.8, 40}}, kSteady), {{40, 0.0, 0.8}}},
        GridCase{"AttackLateInFrame", kLateInFrame, Tone({{0.8, 40}}, kSteady), {{40, 0.0, 0.8}}},
        // The level rises by 40 dB over 150 ms: the note starts where the rise does.
        GridCase{"SlowRise",
                 kEarlyInFrame,
                 Tone({{0.8, 40}},
                      [](double sec) { return kLevel * std::pow(10.0, -2.0 * std::max(0.0, 1.0 - sec / 0.15)); }),
                 {{40, 0.0, 0.8}}},
        // Two notes of one pitch, the level dipping by 30 dB for 30 ms between them.
        GridCase{"RepeatAfterShortDip",
                 kEarlyInFrame,
                 Tone({{1.0, 40}}, [](double sec) { return std::abs(sec - 0.515) < 0.015 ? kLevel * 0.03 : kLevel; }),
                 {{40, 0.0, 0.5}, {40, 0.53, 1.0}}},
        // Voices beating against each other: the level swings by 17 dB nine times a second, as
        // deep as the dip above, and the note is still one.
        GridCase{"BeatingVoices",
                 kEarlyInFrame,
                 Tone({{1.2, 40}},
                      [](double sec) { return kLevel * (1.0 + 0.75 * std::sin(18.0 * std::numbers::pi * sec)); }),
                 {{40, 0.0, 1.2}}},
        // The same beats over 2 s: an onset at every beat cuts the note into pieces of two
        // frames, none with a frame inside it to measure the waver by.
        GridCase{"BeatingVoicesLong",
                 kEarlyInFrame,
                 Tone({{2.0, 40}},
                      [](double sec) { return kLevel * (1.0 + 0.75 * std::sin(18.0 * std::numbers::pi * sec)); }),
                 {{40, 0.0, 2.0}}},
        // Detached playing: the level dips by 30 dB for 40 ms, and the next note rises from a
        // scoop on the old pitch; the tracker leaves the old pitch only when the new one is reached.
        GridCase{"DetachedChangeWithScoop",
                 kEarlyInFrame,
                 Tone({{0.62, 40, 0.08}, {0.5, 41}},
                      [](double sec) {
                          return sec < 0.5 ? kLevel : kLevel * std::clamp(0.03 + 32.0 * (sec - 0.54), 0.03, 1.0);
                      }),
                 {{40, 0.0, 0.5}, {41, 0.54, 1.12}}},
        // Low semitone steps: each note's fundamental lies on the flank of its neighbour's.
        GridCase{"LowSemitoneSteps",
                 kEarlyInFrame,
                 Tone({{0.4, 20}, {0.4, 21}, {0.4, 20}, {0.4, 21}}, kSteady),
                 {{20, 0.0, 0.4}, {21, 0.4, 0.8}, {20, 0.8, 1.2}, {21, 1.2, 1.6}}},
        // A glide of 60 ms from one note to the next but one: two notes, the change halfway.
        GridCase{"GlideBetweenNotes",
                 kEarlyInFrame,
                 Tone({{0.53, 40, 0.06}, {0.5, 42}}, kSteady),
                 {{40, 0.0, 0.5}, {42, 0.5, 1.03}}},
        // A note stops into the room: its sound falls by 15 dB at once, then by 40 dB per second.
        GridCase{
            "ReverberationAfterNote",
            kEarlyInFrame,
            Tone({{1.6, 40}},
                 [](double sec) { return sec < 0.8 ? kLevel : kLevel * 0.18 * std::pow(10.0, -2.0 * (sec - 0.8)); }),
            {{40, 0.0, 0.8}}},
        // A held note let go into a long release: its level falls by 40 dB per second from 0.8 s
        // and stays in the voicing window for 0.75 s more.
        GridCase{"LongReleaseAfterNote", kEarlyInFrame,
                 Tone({{1.6, 40}}, [](double sec) { return kLevel * std::pow(10.0, -2.0 * std::max(sec - 0.8, 0.0)); }),
                 {{40, 0.0, 0.8}}},
        // Blown legato: the old note lets go over 40 ms while the new one rises over 80 ms.
        GridCase{"LegatoCrossfade",
                 kEarlyInFrame,
                 Sum(Tone({{0.62, 40}}, [](double sec) { return kLevel * std::clamp((0.64 - sec) / 0.04, 0.0, 1.0); }),
                     Tone({{1.1, 43}}, [](double sec) { return kLevel * std::clamp((sec - 0.6) / 0.08, 0.0, 1.0); })),
                 {{40, 0.0, 0.6}, {43, 0.6, 1.1}}},
        // Sung legato: the new note swells over 200 ms while the old one sounds on for 150 ms.
        GridCase{"SlowAttackUnderRelease",
                 kEarlyInFrame,
                 Sum(Tone({{0.8, 40}}, [](double sec) { return kLevel * std::clamp((0.8 - sec) / 0.05, 0.0, 1.0); }),
                     Tone({{1.2, 43}}, [](double sec) { return kLevel * std::clamp((sec - 0.6) / 0.2, 0.0, 1.0); })),
                 {{40, 0.0, 0.6}, {43, 0.6, 1.2}}},
        // Bowed legato: the new note rises over 100 ms from a quarter into a frame while the old
        // one lets go over 20 ms; the new note's salience overtakes only in the frame after.
        GridCase{"SlowAttackAfterQuickRelease",
                 kEarlyInFrame,
                 Sum(Tone({{0.63, 40}}, [](double sec) { return kLevel * std::clamp((0.632 - sec) / 0.02, 0.0, 1.0); }),
                     Tone({{1.21, 43}}, [](double sec) { return kLevel * std::clamp((sec - 0.612) / 0.1, 0.0, 1.0); })),
                 {{40, 0.0, 0.612}, {43, 0.612, 1.21}}},
        // A note stops 80 ms before the next one while the room carries it on into that one.
        GridCase{"StopBeforeNextNote",
                 kEarlyInFrame,
                 Sum(Tone({{0.6, 40}},
                          [](double sec) {
                              return sec < 0.42 ? kLevel : kLevel * 0.18 * std::pow(10.0, -2.0 * (sec - 0.42));
                          }),
                     Tone({{1.0, 43}}, [](double sec) { return sec < 0.5 ? 0.0 : kLevel; })),
                 {{40, 0.0, 0.42}, {43, 0.5, 1.0}}},
        // A hum below the melody's range, 9 dB louder than the note, stops under it: the level
        // falls by 10 dB while the note sounds on.
        GridCase{"LouderSoundStopsUnderNote",
                 kEarlyInFrame,
                 Sum(Tone({{1.2, 40}}, kSteady), testsupport::Sine(40.0, Samples(0.6), kRate, 20000.0)),
                 {{40, 0.0, 1.2}}},
        // A quieter tone joins a fifth above: the two are harmonics 2 and 3 of a note without a fundamental.
        GridCase{"FifthJoinsTone", kEarlyInFrame, Sum(testsupport::SineAtNote(36, Samples(1.2), kRate, 16000.0),
                 Framed(testsupport::SineAtNote(43, Samples(0.7), kRate, 5000.0), 0.5, 0.0)), {{36, 0.0, 1.2}}},
        // A struck string: its level dies away by 50 dB per second until a damper stops it.
        GridCase{"DecayThenStop",
                 kEarlyInFrame,
                 Tone({{1.0, 40}}, [](double sec) { return kLevel * std::pow(10.0, -2.5 * sec); }),
                 {{40, 0.0, 1.0}}},
        // Beating voices: a third swells (from 0.75 s) while the release leads; heard from 20 dB under full level.
        GridCase{"SwellUnderBeatingRelease", 0.337, Sum(Tone({{2.0, 40}}, [](double sec) {
            const double beat = 1.0 + 0.75 * std::sin(18.0 * std::numbers::pi * sec + 4.5);
            return kLevel * beat * std::pow(1e-10, std::max(sec - 0.8, 0.0)); }), Tone({{2.0, 43}}, [](double sec) {
            const double swell = std::clamp(sec - 0.75, 0.0, 0.1) * 10.0;  // square law over 100 ms
            return kLevel * (1.0 + 0.75 * std::sin(20.34 * std::numbers::pi * sec + 5.5)) * swell * swell; })),
                 {{40, 0.0, 0.78}, {43, 0.78, 2.0}}},
        // Beating voices turn: a whole tone above is attacked at 1.0 s, 6 dB under the held
        // note's release, which the tracker keeps; 120 ms later the held note is attacked again.
        GridCase{"TurnUnderBeatingRelease", 0.337, Sum(Tone({{2.0, 40}}, [](double sec) {
            const double beat = 1.0 + 0.6 * std::sin(18.0 * std::numbers::pi * sec + 1.5);
            return kLevel * beat * (sec < 1.0 || sec >= 1.12 ? 1.0 : std::pow(10.0, -2.0 * (sec - 1.0))); }), Tone({{1.2, 42}}, [](double sec) {
            const double shape = std::clamp((sec - 1.0) / 0.005, 0.0, 1.0) * std::clamp((1.14 - sec) / 0.02, 0.0, 1.0);
            return 0.5 * kLevel * (1.0 + 0.75 * std::sin(20.34 * std::numbers::pi * sec + 5.5)) * shape; })),
                 {{40, 0.0, 1.0}, {42, 1.0, 1.12}, {40, 1.12, 2.0}}}),
    [](const auto& row) { return std::string(row.param.Name); });

// ---------------------------------------------------------------------------------------
// The threshold margin scales the level window: 30 dB below the loudest frame at 0.4.

std::vector<double> LoudThenQuiet(double quietDb) {
    std::vector<double> sound = testsupport::SineAtNote(36, Samples(0.8), kRate, 16000.0);
    testsupport::Append(sound, testsupport::Silence(Samples(0.3)));
    const double quiet = 16000.0 * std::pow(10.0, -quietDb / 20.0);
    testsupport::Append(sound, testsupport::SineAtNote(43, Samples(0.8), kRate, quiet));
    return Framed(sound);
}

struct MarginCase {
    double QuietDb;
    double Margin;
    bool QuietKept;
};

class ThresholdMargin : public ::testing::TestWithParam<MarginCase> {};

TEST_P(ThresholdMargin, ScalesTheVoicingWindow) {
    const MarginCase c = GetParam();
    MelodyConversion conversion(c.Margin);
    conversion.Run(LoudThenQuiet(c.QuietDb));

    const auto notes = conversion.Notes();
    ASSERT_EQ(notes.size(), c.QuietKept ? 2u : 1u);
    EXPECT_EQ(notes[0].Index, 36);
    if (c.QuietKept) {
        EXPECT_EQ(notes[1].Index, 43);
    }
}

INSTANTIATE_TEST_SUITE_P(Window, ThresholdMargin,
                         ::testing::Values(MarginCase{20.0, 0.4, true},    // 20 dB inside 30 dB
                                           MarginCase{20.0, 0.2, false},   // outside 15 dB
                                           MarginCase{40.0, 0.4, false},   // outside 30 dB
                                           MarginCase{40.0, 0.6, true}));  // inside 45 dB

TEST(TMelodyTest, ThresholdEditOverSomeFramesKeepsTheirQuietNote) {
    MelodyConversion conversion;
    conversion.Run(LoudThenQuiet(40.0));
    ASSERT_EQ(conversion.Notes().size(), 1u);

    // Widen the window over the quiet note only, as the threshold strip does, and re-run.
    std::vector<double> margins = testsupport::ReadDoubles(conversion.Rec().ThresholdFileName);
    ASSERT_EQ(margins.size(), static_cast<std::size_t>(conversion.Rec().FrameCount));
    for (std::size_t f = static_cast<std::size_t>(FrameAt(1.3)); f < margins.size(); ++f) margins[f] = 0.6;
    testsupport::WriteDoubles(conversion.Rec().ThresholdFileName, margins);
    conversion.Rerun();

    const auto notes = conversion.Notes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1].Index, 43);
}

// ---------------------------------------------------------------------------------------
// What the panes read besides the table is there as in the classic analysis.

TEST(TMelodyTest, SideFilesAndRawIntensitiesMatchTheClassicRun) {
    const auto signal = Framed(testsupport::SineAtNote(40, Samples(0.8), kRate, 10000.0));
    MelodyConversion melody;
    melody.Run(signal);
    MelodyConversion classic;
    classic.Run(signal, AnalysisMode::Classic);

    const auto frames = static_cast<std::size_t>(melody.Rec().FrameCount);
    EXPECT_EQ(testsupport::ReadDoubles(melody.Rec().ThresholdFileName), std::vector<double>(frames, 0.4));
    EXPECT_EQ(testsupport::ReadDoubles(melody.Rec().HarmonicFileName), std::vector<double>(frames, 0.0));
    EXPECT_EQ(testsupport::ReadTable(melody.Rec().RawNoteFileName, kNoteCount),
              testsupport::ReadTable(classic.Rec().RawNoteFileName, kNoteCount));
    // A sounding cell carries the note's unfiltered intensity.
    const Table table = melody.NoteTable();
    const Table raw = testsupport::ReadTable(melody.Rec().RawNoteFileName, kNoteCount);
    ASSERT_EQ(table.size(), frames);
    const std::size_t middle = static_cast<std::size_t>(FrameAt(0.7));
    EXPECT_GT(table[middle][40], 1.0);
    EXPECT_EQ(table[middle][40], raw[middle][40]);
}

// ---------------------------------------------------------------------------------------
// The building blocks.

TEST(TMelodyTest, HarmonicRangesHoldTheirHarmonic) {
    const TMelody melody;
    constexpr double kBinHz = 22050.0 / 4096.0;
    int nonEmpty = 0;
    for (std::int32_t n = 0; n < kNoteCount; ++n) {
        for (std::int32_t h = 1; h <= kMelodyHarmonics; ++h) {
            const HarmonicRange& range = melody.Range(n, h);
            const double bin = h * testsupport::NoteHz(n) / kBinHz;
            if (range.Empty()) {
                // Only harmonics above the top bin are left out.
                EXPECT_GT(bin, kSpectrumBins - 1.5) << n << "/" << h;
                continue;
            }
            ++nonEmpty;
            EXPECT_GE(range.Lo, 1);
            EXPECT_LE(range.Hi, kSpectrumBins - 1);
            if (bin < kSpectrumBins - 1) {
                EXPECT_LE(range.Lo, bin + 0.5) << n << "/" << h;
                EXPECT_GE(range.Hi, bin - 0.5) << n << "/" << h;
            }
        }
    }
    EXPECT_EQ(nonEmpty, 636);
}

struct SegmentCase {
    const char* Name;
    std::vector<std::int8_t> Track;
    std::vector<std::uint8_t> Onsets;
    std::vector<std::int8_t> Expected;
    bool VoicesBeat = false;
};

class Segmentation : public ::testing::TestWithParam<SegmentCase> {};

TEST_P(Segmentation, CutsTheTrackIntoNotes) {
    SegmentCase c = GetParam();
    c.Onsets.resize(c.Track.size(), 0);
    TMelody::Segment(c.Track, c.Onsets, c.VoicesBeat);
    EXPECT_EQ(c.Track, c.Expected);
}

constexpr std::int8_t U = -1;  // unvoiced
INSTANTIATE_TEST_SUITE_P(
    Cases, Segmentation,
    ::testing::Values(SegmentCase{"OneFrameDropoutBridged", {5, 5, U, 5, 5}, {}, {5, 5, 5, 5, 5}},
                      SegmentCase{"TwoFrameDropoutKept", {5, 5, U, U, 5, 5}, {}, {5, 5, U, U, 5, 5}},
                      SegmentCase{"DropoutBeforeAttackKept", {5, 5, U, 5, 5}, {0, 0, 0, 1, 0}, {5, 5, U, 5, 5}},
                      SegmentCase{"DropoutBetweenPitchesKept", {5, 5, U, 6, 6}, {}, {5, 5, U, 6, 6}},
                      SegmentCase{"AttackSplitsNote", {5, 5, 5, 5, 5}, {0, 0, 0, 1, 0}, {5, 5, U, 5, 5}},
                      SegmentCase{"AttackAtStartChangesNothing", {U, 5, 5, 5}, {0, 1, 0, 0}, {U, 5, 5, 5}},
                      SegmentCase{"ShortNotesSilenced", {5, 6, 6, 7, U, 8}, {}, {U, 6, 6, U, U, U}},
                      SegmentCase{"AttackLeavingOneFrameSilencesIt", {5, 5, 5, 5}, {0, 0, 0, 1}, {5, 5, 5, U}},
                      SegmentCase{"NewPitchAtAttackNeedsNoGap", {5, 5, 6, 6}, {0, 0, 1, 0}, {5, 5, 6, 6}},
                      SegmentCase{"BeatingNextAttack", {5, 5, 5, 5, 5, 6, 6}, {0, 0, 1}, {5, 5, 5, 5, 5, 6, 6}, true},
                      SegmentCase{"EmptyTrack", {}, {}, {}}),
    [](const auto& row) { return std::string(row.param.Name); });

TEST(TMelodyTest, OnsetsMarkEnergyJumpsOnly) {
    testsupport::TempDir dir;
    const std::string samples = dir.File("nor");
    const std::string flags = dir.File("onsets");
    const auto onsetFrames = [&](const std::vector<double>& x) {
        const auto frames = static_cast<std::int32_t>(x.size() / kFrameSamples);
        testsupport::WriteDoubles(samples, x);
        TMelody().WriteOnsets(samples, static_cast<std::int64_t>(x.size()), frames, flags);
        // Per frame: the flag, then the energies of the frame's blocks.
        const Table marks = testsupport::ReadTable(flags, 1 + kEnergyBlocksPerFrame);
        EXPECT_EQ(marks.size(), static_cast<std::size_t>(frames));
        std::vector<std::size_t> found;
        for (std::size_t f = 0; f < marks.size(); ++f) {
            if (marks[f][0] != 0.0) found.push_back(f);
        }
        return found;
    };

    // Alternating +-amplitude from `first` on: every block holds the same energy.
    const auto steady = [](std::vector<double>& x, std::size_t first, double amplitude) {
        for (std::size_t i = first; i < x.size(); ++i) x[i] = (i % 2) != 0 ? amplitude : -amplitude;
    };

    // A step from silence at block 40 (sample 10240): the middle of that block, sample 10368,
    // lies nearest to the start of frame 10. The jump stays in sight of the look-back for four
    // blocks; it is still one attack.
    std::vector<double> step = testsupport::Silence(30 * 1024);
    steady(step, 10240, 8000.0);
    EXPECT_EQ(onsetFrames(step), std::vector<std::size_t>{10});

    // A slow swell rises by less than 12 dB over any four blocks.
    std::vector<double> swell = testsupport::SineAtNote(36, 40 * 1024, kRate, 1.0);
    for (std::size_t i = 0; i < swell.size(); ++i) {
        swell[i] *= 8000.0 * std::pow(10.0, -3.0 * (1.0 - static_cast<double>(i) / static_cast<double>(swell.size())));
    }
    EXPECT_TRUE(onsetFrames(swell).empty());

    // A second attack 18 dB above the first, eight blocks later, is another onset; one of
    // 9 dB is not.
    std::vector<double> twice = testsupport::Silence(30 * 1024);
    steady(twice, 10240, 1000.0);
    steady(twice, 10240 + 8 * 256, 8000.0);
    EXPECT_EQ(onsetFrames(twice), (std::vector<std::size_t>{10, 12}));
    steady(twice, 10240 + 8 * 256, 2800.0);
    EXPECT_EQ(onsetFrames(twice), std::vector<std::size_t>{10});

    // An attack in the last frame: block 60 of 64 marks frame 15 of 16.
    std::vector<double> late = testsupport::Silence(16 * 1024);
    steady(late, 60 * 256, 8000.0);
    EXPECT_EQ(onsetFrames(late), std::vector<std::size_t>{15});
}

// A 6000 s recording has 129 200 frames: the tracker holds one byte per state and frame for
// its path and two per frame for the track and the onsets, 76 bytes per frame, which keeps it
// near 10 MB; everything else it holds is fixed in size.
TEST(TMelodyTest, FrameMemoryStaysWithinBoundForLongestRecording) {
    testsupport::TempDir dir;
    constexpr std::size_t kFrames = 6000;
    std::vector<double> salience(kFrames * kNoteCount, 0.0);
    for (std::size_t f = 1000; f < 5000; ++f) salience[f * kNoteCount + 30] = 1000.0 + static_cast<double>(f % 7);
    testsupport::WriteDoubles(dir.File("sal"), salience);
    testsupport::WriteDoubles(dir.File("thr"), std::vector<double>(kFrames, 0.4));
    testsupport::WriteDoubles(dir.File("ons"), std::vector<double>(kFrames, 0.0));
    testsupport::WriteDoubles(dir.File("ioc"), std::vector<double>(kFrames * kNoteCount, 2.0));

    TMelody melody;
    melody.WriteTable({dir.File("sal"), dir.File("thr"), dir.File("ons"), dir.File("ioc")},
                      static_cast<std::int32_t>(kFrames), dir.File("not"));

    EXPECT_LE(melody.PeakFrameBytes(), 76 * kFrames);
    EXPECT_LE(melody.PeakFrameBytes() / kFrames * 129200, 10u * 1024 * 1024);
    const auto notes = NotesOf(testsupport::ReadTable(dir.File("not"), kNoteCount));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].Index, 30);
    EXPECT_EQ(notes[0].First, 1000);
    EXPECT_EQ(notes[0].End, 5000);
}

}  // namespace
}  // namespace ruvo
