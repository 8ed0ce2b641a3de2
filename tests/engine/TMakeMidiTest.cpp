#include "engine/TMakeMidi.h"

#include "engine/FileIoError.h"
#include "tests/testsupport/ByteWriter.h"
#include "tests/testsupport/ChildProcess.h"
#include "tests/testsupport/MidiReader.h"
#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>

using namespace ruvo;
using namespace ruvo::testsupport;

namespace {

constexpr std::size_t kRows = 72;

// The fixed 58-byte head; trackLength is the second track's length L.
Bytes MidiHead(std::uint32_t trackLength) {
    // clang-format off
    return Bytes{
        'M', 'T', 'h', 'd', 0x00, 0x00, 0x00, 0x06,    // header chunk, 6 bytes
        0x00, 0x01,                                    // format 1
        0x00, 0x02,                                    // two tracks
        0x00, 0x78,                                    // 120 ticks per quarter note
        'M', 'T', 'r', 'k', 0x00, 0x00, 0x00, 0x19,    // first track, 25 bytes
        0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08,  // time signature 4/4, 24 clocks, 8 32nds
        0x00, 0xFF, 0x59, 0x02, 0x00, 0x00,            // key signature: no sharps or flats, major
        0x00, 0xFF, 0x51, 0x03, 0x05, 0xAB, 0x40,      // tempo 371520 us per quarter note
        0x00, 0xFF, 0x2F, 0x00,                        // end of track
        'M', 'T', 'r', 'k',                            // second track ...
        static_cast<std::uint8_t>(trackLength >> 24), static_cast<std::uint8_t>(trackLength >> 16),
        static_cast<std::uint8_t>(trackLength >> 8), static_cast<std::uint8_t>(trackLength),  // ... L bytes
        0x00, 0xC0, 0x49,                              // program 73 (flute) on channel 1
    };
    // clang-format on
}

const Bytes kEndOfTrack{0x00, 0xFF, 0x2F, 0x00};

// Head, events, end of track; L counts the program change, the events and the end.
Bytes MidiFileWith(const Bytes& events) {
    Bytes file = MidiHead(static_cast<std::uint32_t>(3 + events.size() + 4));
    file.insert(file.end(), events.begin(), events.end());
    file.insert(file.end(), kEndOfTrack.begin(), kEndOfTrack.end());
    return file;
}

class TMakeMidiTest : public ::testing::Test {
protected:
    TMakeMidiTest() {
        head.NoteIntenFileName = dir.File("not");
        head.MidiFileName = dir.File("out.mid");
    }

    // A table of `columns` records with rows sounding (value 2.0) over [first, last] columns.
    struct Run {
        std::size_t Row;
        std::size_t First;
        std::size_t Last;
    };
    void WriteNotes(std::size_t columns, std::initializer_list<Run> runs) {
        Table t = MakeTable(columns, kRows);
        for (const Run& r : runs)
            for (std::size_t c = r.First; c <= r.Last; ++c) t.at(c).at(r.Row) = 2.0;
        WriteTable(head.NoteIntenFileName, t);
    }

    // Mode 1 over columns start..end-1; the bytes written, or nothing when no file came.
    Bytes Convert(std::int32_t start, std::int32_t end) {
        std::filesystem::remove(head.MidiFileName);
        std::string name = "unchanged";
        midi.ConvMidi(kMidiToUserFile, head, start, end, name);
        EXPECT_EQ(name, "unchanged") << "mode 1 leaves the name alone on success";
        return FileExists(head.MidiFileName) ? ReadFileBytes(head.MidiFileName) : Bytes{};
    }

    TempDir dir;
    ScopedRecordingHost host;
    WavHead head;
    TMakeMidi midi;
};

TEST_F(TMakeMidiTest, EmptyTableIsTheHeadAndAnEndOfTrack) {
    Table t = MakeTable(20, kRows);
    t[3][10] = -1.0;  // erased and silent cells do not sound
    t[4][11] = -0.5;
    WriteTable(head.NoteIntenFileName, t);
    const Bytes file = Convert(0, 20);
    EXPECT_EQ(file.size(), 62u);
    EXPECT_EQ(Hex(file), Hex(MidiFileWith({})));
    EXPECT_EQ(file[54], 7) << "L = 7";
    EXPECT_EQ(host.BoxCount(), 0u);

    // No columns at all: an empty stretch, or one wholly past the end of the table.
    WriteTable(head.NoteIntenFileName, MakeTable(20, kRows, std::vector<Cell>{{5, 0, 2.0}}));
    EXPECT_EQ(Hex(Convert(5, 5)), Hex(MidiFileWith({})));
    EXPECT_EQ(Hex(Convert(30, 40)), Hex(MidiFileWith({})));
}

TEST_F(TMakeMidiTest, FirstNoteStartsAtTickZeroWhateverItsColumn) {
    // Row 0 (key 33 = 0x21) sounds in columns 5..9 of 20.
    WriteNotes(20, {{0, 5, 9}});
    const Bytes file = Convert(0, 20);
    EXPECT_EQ(Hex(file), Hex(MidiFileWith({
                             0x00, 0x90, 0x21, 0x7F,  // tick 0: note on, key 33, velocity 127
                             0x4B, 0x21, 0x00,        // 5 columns later (75 ticks): velocity 0 ends it
                         })));
    EXPECT_EQ(file.size(), 69u);
    EXPECT_EQ(file[54], 14) << "L = 14";

    const MidiFile parsed = ParseMidi(file);
    EXPECT_EQ(parsed.Format, 1);
    EXPECT_EQ(parsed.Division, 120);
    ASSERT_EQ(parsed.Tracks.size(), 2u);
    EXPECT_EQ(TrackTempo(parsed.Tracks[0]), 371520);
}

TEST_F(TMakeMidiTest, KeepingLeadingSilenceStartsTheFirstNoteAtItsColumn) {
    WriteNotes(20, {{0, 5, 9}});
    // The writer's option (the converter) and the record's flag (the window) do the same.
    for (const bool fromRecord : {false, true}) {
        midi.SetKeepLeadingSilence(!fromRecord);
        head.KeepLeadingSilence = fromRecord;
        const auto notes = TrackNotes(ParseMidi(Convert(0, 20)).Tracks.at(1));
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_EQ(notes[0].Key, 33);
        EXPECT_EQ(notes[0].StartTick, 75) << "from the record: " << fromRecord;
        EXPECT_EQ(notes[0].EndTick, 150);
        // Counted from the first converted column, as the player's excerpt needs.
        EXPECT_EQ(TrackNotes(ParseMidi(Convert(3, 20)).Tracks.at(1)).at(0).StartTick, 30);
    }
}

TEST_F(TMakeMidiTest, NotesOfOneColumnShareTheDelta) {
    // Row 0 in columns 0..1, rows 2 and 4 from column 3 to the end (EndCol 5).
    WriteNotes(5, {{0, 0, 1}, {2, 3, 4}, {4, 3, 4}});
    EXPECT_EQ(Hex(Convert(0, 5)), Hex(MidiFileWith({
                                      0x00, 0x90, 0x21, 0x7F,  // column 0: key 33 on
                                      0x1E, 0x21, 0x00,        // column 2 (30 ticks): key 33 off
                                      0x0F, 0x23, 0x64,        // column 3 (15 ticks): key 35 on, velocity 100
                                      0x00, 0x25, 0x64,        // same column: key 37 on
                                      0x1E, 0x23, 0x00,        // still sounding at EndCol 5: 15 x (5 - 3)
                                      0x00, 0x25, 0x00,        // same tick
                                  })));
}

TEST_F(TMakeMidiTest, NotesStartingInTheFirstChangeColumnFollowWithDeltaZero) {
    WriteNotes(3, {{0, 0, 2}, {1, 0, 2}});
    EXPECT_EQ(Hex(Convert(0, 3)), Hex(MidiFileWith({
                                      0x00,
                                      0x90,
                                      0x21,
                                      0x7F,  // key 33 on, velocity 127
                                      0x00,
                                      0x22,
                                      0x64,  // key 34 on, velocity 100
                                      0x2D,
                                      0x21,
                                      0x00,  // off at EndCol 3: 45 ticks
                                      0x00,
                                      0x22,
                                      0x00,
                                  })));
}

TEST_F(TMakeMidiTest, NoteStartingInTheLastColumnLastsOneColumn) {
    // Row 71 is key 104 (0x68).
    WriteNotes(4, {{71, 3, 3}});
    EXPECT_EQ(Hex(Convert(0, 4)), Hex(MidiFileWith({
                                      0x00, 0x90, 0x68, 0x7F,  // key 104 on
                                      0x0F, 0x68, 0x00,        // off after one column
                                  })));
}

TEST_F(TMakeMidiTest, LongGapsUseMultiByteDeltas) {
    WriteNotes(12, {{0, 0, 9}});
    EXPECT_EQ(Hex(Convert(0, 12)), Hex(MidiFileWith({
                                       0x00, 0x90, 0x21, 0x7F,  // key 33 on
                                       0x81, 0x16, 0x21, 0x00,  // 10 columns = 150 ticks = 81 16
                                   })));
}

TEST_F(TMakeMidiTest, StartAndEndColumnsConvertAStretch) {
    // Row 0 in columns 2..12, row 5 (key 38 = 0x26) in 6..7; columns 5..8 are converted.
    WriteNotes(20, {{0, 2, 12}, {5, 6, 7}});
    EXPECT_EQ(Hex(Convert(5, 9)), Hex(MidiFileWith({
                                      0x00, 0x90, 0x21, 0x7F,  // column 5: key 33, already sounding
                                      0x0F, 0x26, 0x64,        // column 6: key 38 on
                                      0x1E, 0x26, 0x00,        // column 8: key 38 off
                                      0x0F, 0x21, 0x00,        // EndCol 9: key 33 off
                                  })));
}

TEST_F(TMakeMidiTest, ColumnsPastTheEndOfTheTableAreSilent) {
    WriteNotes(5, {{0, 0, 4}});
    EXPECT_EQ(Hex(Convert(0, 8)), Hex(MidiFileWith({
                                      0x00, 0x90, 0x21, 0x7F, 0x4B, 0x21, 0x00,  // column 5 reads as silence
                                  })));
}

struct DeltaCase {
    std::int32_t Value;
    Bytes Expected;
};

class PutDeltaTimeTest : public ::testing::TestWithParam<DeltaCase> {};

TEST_P(PutDeltaTimeTest, WritesAVariableLengthQuantity) {
    std::array<std::uint8_t, 11> buf{};
    const std::int32_t count = TMakeMidi::PutDeltaTime(GetParam().Value, buf);
    ASSERT_EQ(count, static_cast<std::int32_t>(GetParam().Expected.size()));
    EXPECT_EQ(Hex(Bytes(buf.begin(), buf.begin() + count)), Hex(GetParam().Expected));
}

INSTANTIATE_TEST_SUITE_P(Values, PutDeltaTimeTest,
                         ::testing::Values(DeltaCase{0, {0x00}}, DeltaCase{15, {0x0F}}, DeltaCase{127, {0x7F}},
                                           DeltaCase{128, {0x81, 0x00}}, DeltaCase{150, {0x81, 0x16}},
                                           DeltaCase{8192, {0xC0, 0x00}}, DeltaCase{16383, {0xFF, 0x7F}},
                                           DeltaCase{16384, {0x81, 0x80, 0x00}}, DeltaCase{2097151, {0xFF, 0xFF, 0x7F}},
                                           DeltaCase{2097152, {0x81, 0x80, 0x80, 0x00}},
                                           DeltaCase{0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}}));

// Every row switches on and off in alternate columns: column 0 makes 4 + 71 x 3 = 217 event
// bytes, every later column 72 x 3 = 216, so k columns make 216k + 1.
Table AllRowsAlternating(std::size_t columns) {
    Table t = MakeTable(columns, kRows);
    for (std::size_t c = 0; c < columns; c += 2)
        for (double& v : t[c]) v = 1.0;
    return t;
}

TEST_F(TMakeMidiTest, TrackGrowsBeyondTheFormerWorkArray) {
    // 1200 s of frames with every row changing in every column: 216 x 25840 + 1 event bytes,
    // seventy times the 79500 that once made the writer fail. The file must hold every note.
    constexpr std::int32_t kColumns = 25840;
    WriteTable(head.NoteIntenFileName, AllRowsAlternating(kColumns + 1));
    const Bytes file = Convert(0, kColumns);
    ASSERT_EQ(file.size(), 58u + 216u * kColumns + 1u + 4u);
    const auto notes = TrackNotes(ParseMidi(file).Tracks.at(1));
    EXPECT_EQ(notes.size(), 72u * (kColumns / 2));
    EXPECT_EQ(midi.NotesWritten(), static_cast<std::int64_t>(notes.size()));
    EXPECT_EQ(host.BoxCount(), 0u);
}

TEST_F(TMakeMidiTest, EmptyNamesAreReportedAndWriteNothing) {
    WriteNotes(4, {{0, 0, 1}});
    const std::string kMessage = "File name is NULL in TMakeMidi.ConvMidi";

    WavHead noTable = head;
    noTable.NoteIntenFileName.clear();
    std::string name = "unchanged";
    midi.ConvMidi(kMidiToUserFile, noTable, 0, 4, name);
    EXPECT_EQ(name, "");
    EXPECT_EQ(host.Errors, std::vector<std::string>{kMessage});
    EXPECT_FALSE(FileExists(head.MidiFileName));

    host.Clear();
    WavHead noOutput = head;
    noOutput.MidiFileName.clear();
    name = "unchanged";
    midi.ConvMidi(kMidiToUserFile, noOutput, 0, 4, name);
    EXPECT_EQ(name, "");
    EXPECT_EQ(host.Errors, std::vector<std::string>{kMessage});
    EXPECT_EQ(dir.FileNames(), std::vector<std::string>{"not"}) << "no file besides the table";
}

TEST_F(TMakeMidiTest, Mode2WritesANewTemporaryFileEachTime) {
    WriteNotes(20, {{0, 5, 9}});
    std::string first, second;
    midi.ConvMidi(kMidiToTempFile, head, 0, 20, first);
    midi.ConvMidi(kMidiToTempFile, head, 0, 20, second);
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second);
    for (const std::string& name : {first, second}) {
        const std::filesystem::path p(name);
        EXPECT_EQ(p.parent_path(), dir.Path());
        EXPECT_EQ(p.filename().string().substr(0, 3), "mit");
        EXPECT_EQ(Hex(ReadFileBytes(name)), Hex(MidiFileWith({0x00, 0x90, 0x21, 0x7F, 0x4B, 0x21, 0x00})));
    }
    EXPECT_FALSE(FileExists(head.MidiFileName)) << "mode 2 ignores the user's file name";
    EXPECT_EQ(host.BoxCount(), 0u);
}

TEST_F(TMakeMidiTest, Mode2WithoutATemporaryNameWritesNothing) {
    WriteNotes(20, {{0, 5, 9}});
    const ScopedEnv missing("TMPDIR", dir.File("does-not-exist").c_str());
    std::string name = "unchanged";
    midi.ConvMidi(kMidiToTempFile, head, 0, 20, name);
    EXPECT_EQ(name, "");
    ASSERT_EQ(host.Messages.size(), 1U);
    EXPECT_TRUE(host.Messages[0].starts_with("GetFileName error.\n"));
    EXPECT_EQ(host.Errors, std::vector<std::string>{"File name is NULL in TMakeMidi.ConvMidi"});
    EXPECT_EQ(dir.FileNames(), std::vector<std::string>{"not"});
}

TEST_F(TMakeMidiTest, FullDiskRaisesFileIoError) {
    WriteNotes(20, {{0, 5, 9}});
    const int status = RunWithFileSizeLimit(32, [&]() {
        std::string name;
        try {
            midi.ConvMidi(kMidiToUserFile, head, 0, 20, name);
        } catch (const FileIoError&) {
            return 0;
        }
        return 1;
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
