#include "score/MusicXmlWriter.h"
#include "score/Score.h"
#include "score/ScoreMidiWriter.h"
#include "tests/testsupport/MidiReader.h"
#include "tests/testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace ruvo {
namespace {

using testsupport::Bytes;

// Three bars of 4/4 in B flat: a note needing an accidental, an eighth then a rest from the
// off-beat to beat 4, a note tied over the bar line, a rest across the next bar line, a new
// tempo with bar 3, eighth triplets and a half note on beat 3; a double-dotted eighth, a dotted 16th in bar 2.
Score HandMade() {
    Score s;
    s.Tempo = {{0.0, 0.0, 100.0}, {4.8, 8.0, 120.0}};
    s.Key = {-2, false};
    s.Title = "A & B";
    s.Notes = {{0, 480, 70, 90},    {480, 240, 66, 80},  {1440, 1440, 65, 100},
               {2880, 420, 70, 80}, {3360, 180, 65, 80}, {4320, 160, 72, 70},
               {4480, 160, 74, 70}, {4640, 160, 75, 70}, {4800, 960, 77, 127}};
    return s;
}

// The notes (chord members left out) of each measure as (position in the bar, duration, rest,
// dotted), read from the document.
struct Item {
    long Position;
    long Duration;
    bool Rest;
    bool Dot;
};
std::vector<std::vector<Item>> Measures(const std::string& xml) {
    std::vector<std::vector<Item>> out;
    std::istringstream in(xml);
    std::string line;
    long position = 0;
    while (std::getline(in, line)) {
        if (line.find("<measure ") != std::string::npos) {
            out.emplace_back();
            position = 0;
        }
        if (line.find("<note>") == std::string::npos || line.find("<chord/>") != std::string::npos) continue;
        const std::size_t d = line.find("<duration>") + 10;
        const long duration = std::stol(line.substr(d, line.find('<', d) - d));
        out.back().push_back({position, duration, line.find("<rest") != std::string::npos,
                              line.find("<dot/>") != std::string::npos});
        position += duration;
    }
    return out;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class MeasuresAcrossMeters : public ::testing::TestWithParam<Meter> {};

// Whatever the meter, every measure is exactly full, and no rest covers a beat boundary except
// as a whole, undotted value on its own multiple (dotted whole beats only in compound time).
TEST_P(MeasuresAcrossMeters, AreFullAndRestsKeepTheBeat) {
    Score s = HandMade();
    s.TimeSignature = GetParam();
    const bool compound = s.TimeSignature.BeatType == 8 && s.TimeSignature.Beats % 3 == 0;
    const long bar = 1920L * s.TimeSignature.Beats / s.TimeSignature.BeatType;
    const long beat = compound ? 720 : 1920 / s.TimeSignature.BeatType;
    const std::vector<std::vector<Item>> measures = Measures(MusicXmlWriter().Text(s));
    ASSERT_GE(measures.size(), 3u);
    for (std::size_t m = 0; m < measures.size(); ++m) {
        long total = 0;
        for (const Item& it : measures[m]) {
            total += it.Duration;
            if (!it.Rest || it.Position % beat + it.Duration <= beat) continue;
            EXPECT_EQ(it.Position % beat, 0) << "measure " << m + 1 << " at " << it.Position;
            EXPECT_EQ(it.Duration % beat, 0) << "measure " << m + 1 << " at " << it.Position;
            EXPECT_TRUE(!it.Dot || compound || it.Duration == bar) << "measure " << m + 1 << " at " << it.Position;
        }
        EXPECT_EQ(total, bar) << "measure " << m + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(Meters, MeasuresAcrossMeters, ::testing::Values(Meter{4, 4}, Meter{3, 4}, Meter{6, 8}, Meter{2, 2}),
                         [](const auto& param) {
                             return std::to_string(param.param.Beats) + "_" + std::to_string(param.param.BeatType);
                         });

TEST(MusicXmlWriterTest, TiesTempoMarksTripletsAndSignatures) {
    const std::string xml = MusicXmlWriter().Text(HandMade());
    const std::vector<std::vector<Item>> measures = Measures(xml);
    ASSERT_EQ(measures.size(), 3u);
    // The note from beat 4 into bar 2 is one tie; the rest across bar 2's line is two rests.
    EXPECT_EQ(Count(xml, "<tie type=\"start\"/>"), 1u);
    EXPECT_EQ(Count(xml, "<tie type=\"stop\"/>"), 1u);
    EXPECT_TRUE(measures[1].back().Rest);
    EXPECT_TRUE(measures[2].front().Rest);
    // A metronome mark and its sound at each tempo, the second in bar 3.
    EXPECT_EQ(Count(xml, "<metronome"), 2u);
    EXPECT_LT(xml.find("<measure number=\"3\">"), xml.find("<sound tempo=\"120\"/>"));
    EXPECT_NE(xml.find("<sound tempo=\"100\"/>"), std::string::npos);
    EXPECT_EQ(Count(xml, "<actual-notes>3</actual-notes>"), 3u);
    EXPECT_EQ(Count(xml, "<tuplet type=\"start\""), 1u);
    EXPECT_EQ(Count(xml, "<type>eighth</type><dot/><dot/>") + Count(xml, "<type>16th</type><dot/>"), 2u);
    EXPECT_EQ(Count(xml, "<rest/><duration>60</duration><voice>1</voice><type>32nd</type>"), 2u);
    EXPECT_EQ(Count(xml, "<tuplet type=\"stop\""), 1u);
    EXPECT_NE(xml.find("<fifths>-2</fifths>"), std::string::npos);
    // G flat, falling to F, needs its accidental in B flat major; B flat and F do not.
    EXPECT_EQ(Count(xml, "<accidental>"), 1u);
    EXPECT_NE(xml.find("<score-instrument id=\"P1-I1\">"), std::string::npos);
    EXPECT_NE(xml.find("<midi-instrument id=\"P1-I1\">"), std::string::npos);
    EXPECT_NE(xml.find("<work-title>A &amp; B</work-title>"), std::string::npos);
}

TEST(MusicXmlWriterTest, SpellsByTheKeyAndNamesNothingXmlForbids) {
    // The key, a note, the note after it (0: the same again) and how the first is named.
    const std::tuple<KeySignature, std::int32_t, std::int32_t, const char*> rows[] = {
        {{-2, true}, 66, 0, "<step>F</step><alter>1</alter>"},                // G minor's leading note
        {{-3, true}, 61, 0, "<step>D</step><alter>-1</alter>"},               // C minor's lowered second
        {{-6, false}, 71, 0, "<step>C</step><alter>-1</alter><octave>5"},     // G flat major's fourth
        {{7, false}, 60, 0, "<step>B</step><alter>1</alter><octave>3"},       // C sharp major's seventh
        {{0, false}, 70, 71, "<step>A</step><alter>1</alter>"},               // rising to B
        {{-2, true}, 66, 65, "<step>G</step><alter>-1</alter>"},              // falling to F
        {{-2, true}, 70, 69, "<step>B</step><alter>-1</alter>"},              // in the scale
    };
    for (const auto& [key, note, next, name] : rows) {
        Score s;
        s.Key = key;
        s.Notes = {{0, 480, note, 80}, {480, 480, next != 0 ? next : note, 80}};
        EXPECT_NE(MusicXmlWriter().Text(s).find(name), std::string::npos) << note << " to " << next;
    }
    // G sharp tied into bar 2 and played again there: the second is written with its sharp.
    Score tied;
    tied.Notes = {{1440, 960, 68, 80}, {2400, 480, 68, 80}};
    tied.Title = "caf\xE9\x01";  // a file name in Latin-1 with a control character
    const std::string xml = MusicXmlWriter().Text(tied);
    EXPECT_EQ(Count(xml, "<accidental>sharp</accidental>"), 2u);
    EXPECT_NE(xml.find("<work-title>caf\xEF\xBF\xBD\xEF\xBF\xBD</work-title>"), std::string::npos);
}

TEST(MusicXmlWriterTest, NotesBeforeTheDownbeatMakeAPickup) {
    Score s = HandMade();
    s.Notes.insert(s.Notes.begin(), {-360, 360, 69, 80});  // from the second sixteenth of beat 4
    const std::string xml = MusicXmlWriter().Text(s);
    const std::vector<std::vector<Item>> measures = Measures(xml);
    ASSERT_EQ(measures.size(), 4u);
    EXPECT_NE(xml.find("<measure number=\"0\" implicit=\"yes\">"), std::string::npos);
    EXPECT_EQ(measures[0].size(), 2u);  // a sixteenth rest, then the note
    EXPECT_EQ(measures[0][0].Duration + measures[0][1].Duration, 480);
    EXPECT_EQ(Measures(MusicXmlWriter().Text(HandMade()))[0].size(), measures[1].size());
}

TEST(MusicXmlWriterTest, NoNotesGiveABarOfRest) {
    Score s;
    s.Tempo = {{0.0, 0.0, 90.0}};
    const std::string xml = MusicXmlWriter().Text(s);
    EXPECT_EQ(Count(xml, "<measure "), 1u);
    EXPECT_EQ(Count(xml, "<rest measure=\"yes\"/>"), 1u);
}

TEST(ScoreMidiWriterTest, ConductorTrackAndNotesOnTheGrid) {
    const Score s = HandMade();
    const std::string bytes = ScoreMidiWriter().Bytes(s);
    const testsupport::MidiFile file = testsupport::ParseMidi(Bytes(bytes.begin(), bytes.end()));
    EXPECT_EQ(file.Format, 1);
    EXPECT_EQ(file.Division, kScoreTicksPerQuarter);
    ASSERT_EQ(file.Tracks.size(), 2u);
    EXPECT_EQ(testsupport::TrackTempo(file.Tracks[0]), 600000);  // 100 quarters a minute
    const auto has = [](const Bytes& track, const Bytes& event) {
        return std::search(track.begin(), track.end(), event.begin(), event.end()) != track.end();
    };
    EXPECT_TRUE(has(file.Tracks[0], {0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08}));  // 4/4, a click a quarter
    EXPECT_TRUE(has(file.Tracks[0], {0xFF, 0x59, 0x02, 0xFE, 0x00}));              // two flats, major
    EXPECT_TRUE(has(file.Tracks[0], {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}));        // 120 a minute
    const std::vector<testsupport::MidiNote> notes = testsupport::TrackNotes(file.Tracks[1]);
    ASSERT_EQ(notes.size(), s.Notes.size());
    for (std::size_t i = 0; i < notes.size(); ++i) {
        EXPECT_EQ(notes[i].StartTick, s.Notes[i].StartTick);
        EXPECT_EQ(notes[i].EndTick, s.Notes[i].StartTick + s.Notes[i].LengthTicks);
        EXPECT_EQ(notes[i].Key, s.Notes[i].Key);
        EXPECT_EQ(notes[i].Velocity, s.Notes[i].Velocity);
    }
}

TEST(ScoreWritersTest, FilesAreWholeOrAbsent) {
    testsupport::TempDir dir;
    std::string error;
    EXPECT_EQ(WriteMusicXml(HandMade(), dir.Path() / "missing" / "x.musicxml", error), -1);
    EXPECT_NE(error.find("missing"), std::string::npos);
    const std::filesystem::path target = dir.Path() / "x.mid";
    std::ofstream(target) << "old";
    ASSERT_EQ(WriteScoreMidi(HandMade(), target, error), 0);
    EXPECT_EQ(dir.FileNames(), std::vector<std::string>{"x.mid"});
    std::ifstream in(target, std::ios::binary);
    std::string read(4, '\0');
    in.read(read.data(), 4);
    EXPECT_EQ(read, "MThd");
    EXPECT_EQ(WriteMusicXml(HandMade(), dir.Path(), error), -1);
}

}  // namespace
}  // namespace ruvo
