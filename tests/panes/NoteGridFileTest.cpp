#include "panes/NoteGridFile.h"

#include "engine/FileIoError.h"
#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/TempDir.h"

#include <QColor>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ruvo {
namespace {

using testsupport::Cell;
using testsupport::FileExists;
using testsupport::MakeTable;
using testsupport::ReadSigned;
using testsupport::ReadTable;
using testsupport::ScopedRecordingHost;
using testsupport::Table;
using testsupport::TempDir;
using testsupport::WriteSigned;
using testsupport::WriteTable;

const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kTeal = qRgb(0, 128, 128);
const QRgb kGreen = qRgb(0, 128, 0);
const QRgb kOlive = qRgb(128, 128, 0);
const QRgb kMaroon = qRgb(128, 0, 0);
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kYellow = qRgb(255, 255, 0);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kGrey = qRgb(128, 128, 128);

// A document whose note table is `table`, with its scratch file, inside a TempDir.
class BuildGridFileTest : public ::testing::Test {
protected:
    WavHead MakeDoc(const Table& table) {
        WavHead doc;
        doc.FrameCount = static_cast<std::int32_t>(table.size());
        doc.NoteIntenFileName = m_dir.File("not1.tmp");
        doc.Temp1FileName = m_dir.File("tm11.tmp");
        WriteTable(doc.NoteIntenFileName, table);
        WriteTable(doc.Temp1FileName, {});
        return doc;
    }
    // Byte r of frame f of the document's grid file.
    std::int8_t GridByte(const WavHead& doc, std::size_t frame, std::size_t row) {
        return ReadSigned(doc.MidiGridFileName).at(frame * kGridRows + row);
    }
    // Byte of note k of frame f (note k lies in grid row 71 - k).
    std::int8_t NoteByte(const WavHead& doc, std::size_t frame, std::size_t note) {
        return GridByte(doc, frame, static_cast<std::size_t>(NoteToRow(static_cast<std::int32_t>(note))));
    }

    TempDir m_dir;
    ScopedRecordingHost m_host;
};

TEST_F(BuildGridFileTest, AQuietTableHasPeakOneTenthAndItsLoudestCellLevel51) {
    const std::vector<Cell> cells = {{0, 40, 0.05}, {1, 3, 0.02}};
    WavHead doc = MakeDoc(MakeTable(2, kGridRows, cells));
    ASSERT_EQ(BuildGridFile(doc, 1), 0);
    EXPECT_DOUBLE_EQ(doc.PeakNoteValue, 0.1);
    // Round((0.05 - 0.000001) / 0.00099999 + 1) = Round(50.9995) = 51: olive.
    EXPECT_EQ(NoteByte(doc, 0, 40), 51);
    EXPECT_EQ(GridLevelColor(51), kOlive);
    // Round((0.02 - 0.000001) / 0.00099999 + 1) = Round(20.9992) = 21.
    EXPECT_EQ(NoteByte(doc, 1, 3), 21);
    EXPECT_EQ(NoteByte(doc, 1, 4), 0);
}

TEST_F(BuildGridFileTest, TheLoudestCellIsYellow101AndTheFaintestTeal1) {
    const std::vector<Cell> cells = {{0, 71, 37.5}, {1, 0, 1e-9}, {2, 10, 0.3751}, {2, 11, 18.75}};
    WavHead doc = MakeDoc(MakeTable(3, kGridRows, cells));
    ASSERT_EQ(BuildGridFile(doc, 1), 0);
    EXPECT_DOUBLE_EQ(doc.PeakNoteValue, 37.5);
    EXPECT_EQ(NoteByte(doc, 0, 71), kPeakLevel);
    EXPECT_EQ(GridByte(doc, 0, 0), kPeakLevel);  // note 71 is the top row
    EXPECT_EQ(GridLevelColor(kPeakLevel), kYellow);
    EXPECT_EQ(NoteByte(doc, 1, 0), 1);
    EXPECT_EQ(GridByte(doc, 1, 71), 1);
    EXPECT_EQ(GridLevelColor(1), kTeal);
    // (0.3751 - 1e-6) / 0.37499999 + 1 = 2.0003 -> 2; half the peak: 50.99.. -> 51.
    EXPECT_EQ(NoteByte(doc, 2, 10), 2);
    EXPECT_EQ(NoteByte(doc, 2, 11), 51);
}

TEST_F(BuildGridFileTest, ErasedCellsStayNegativeAndTheTableIsClampedInPlace) {
    const std::vector<Cell> cells = {{0, 0, -1.0}, {0, 1, -500.0}, {0, 2, 500.0},
                                     {0, 3, -0.4}, {1, 5, -1.6},   {1, 6, 60.0}};
    WavHead doc = MakeDoc(MakeTable(2, kGridRows, cells));
    ASSERT_EQ(BuildGridFile(doc, 0), 0);
    EXPECT_DOUBLE_EQ(doc.PeakNoteValue, 120.0);  // 500 is clamped before it counts
    EXPECT_EQ(NoteByte(doc, 0, 0), -1);
    EXPECT_EQ(GridLevelColor(-1), kBlack);
    EXPECT_EQ(NoteByte(doc, 0, 1), -120);
    EXPECT_EQ(NoteByte(doc, 0, 2), kPeakLevel);
    EXPECT_EQ(NoteByte(doc, 0, 3), 0);   // Round(-0.4)
    EXPECT_EQ(NoteByte(doc, 1, 5), -2);  // Round(-1.6)
    // 60 of 120: (60 - 1e-6) / 1.19999999 + 1 = 50.99.. -> 51.
    EXPECT_EQ(NoteByte(doc, 1, 6), 51);

    const Table table = ReadTable(doc.NoteIntenFileName, kGridRows);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0][1], -120.0);
    EXPECT_EQ(table[0][2], 120.0);
    EXPECT_EQ(table[0][0], -1.0);
    EXPECT_EQ(table[1][6], 60.0);
}

TEST_F(BuildGridFileTest, TheGridRecordHoldsTheNotesTopRowFirst) {
    // Peak 10: step 0.0999999; 10 -> 101, 5 -> 51, 2.5 -> 26, 0.05 -> 1, -1 stays.
    const std::vector<Cell> cells = {{0, 71, 10.0}, {0, 70, 5.0}, {0, 60, 2.5}, {0, 12, 0.05}, {0, 0, -1.0}};
    WavHead doc = MakeDoc(MakeTable(1, kGridRows, cells));
    ASSERT_EQ(BuildGridFile(doc, 1), 0);
    const std::vector<std::int8_t> expected = {
        0x65, 0x33, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x1a,  // rows 0..11: notes 71 (101), 70 (51), 60 (26)
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // rows 12..23
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // rows 24..35
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // rows 36..47
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x01,  // rows 48..59: note 12 (1)
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, -0x01,  // rows 60..71: note 0 (-1)
    };
    EXPECT_EQ(ReadSigned(doc.MidiGridFileName), expected);
}

TEST_F(BuildGridFileTest, ANewDocumentShowsItsFirst100FramesAndSelectsAll) {
    WavHead doc = MakeDoc(MakeTable(250, kGridRows));
    doc.ViewStart = 17;
    doc.ViewWidth = 3;
    doc.SelStart = 5;
    doc.SelEnd = 6;
    ASSERT_EQ(BuildGridFile(doc, 1), 0);
    EXPECT_EQ(doc.ViewWidth, 100);
    EXPECT_EQ(doc.ViewStart, 0);
    EXPECT_EQ(doc.SelStart, 0);
    EXPECT_EQ(doc.SelEnd, 250);
    EXPECT_EQ(ReadSigned(doc.MidiGridFileName).size(), 250u * kGridRows);

    WavHead shortDoc = MakeDoc(MakeTable(40, kGridRows));
    ASSERT_EQ(BuildGridFile(shortDoc, 1), 0);
    EXPECT_EQ(shortDoc.ViewWidth, 40);
    EXPECT_EQ(shortDoc.SelEnd, 40);

    // A re-run keeps the view and the selection.
    shortDoc.ViewStart = 9;
    shortDoc.ViewWidth = 12;
    shortDoc.SelStart = 3;
    shortDoc.SelEnd = 30;
    ASSERT_EQ(BuildGridFile(shortDoc, 0), 0);
    EXPECT_EQ(shortDoc.ViewStart, 9);
    EXPECT_EQ(shortDoc.ViewWidth, 12);
    EXPECT_EQ(shortDoc.SelStart, 3);
    EXPECT_EQ(shortDoc.SelEnd, 30);
}

TEST_F(BuildGridFileTest, ARebuildReplacesTheGridFileWithANewMigFile) {
    WavHead doc = MakeDoc(MakeTable(3, kGridRows, std::vector<Cell>{{1, 1, 1.0}}));
    ASSERT_EQ(BuildGridFile(doc, 1), 0);
    const std::string first = doc.MidiGridFileName;
    EXPECT_EQ(std::filesystem::path(first).parent_path(), m_dir.Path());
    EXPECT_EQ(std::filesystem::path(first).filename().string().substr(0, 3), "mig");
    ASSERT_EQ(BuildGridFile(doc, 0), 0);
    EXPECT_NE(doc.MidiGridFileName, first);
    EXPECT_FALSE(FileExists(first));
    EXPECT_TRUE(FileExists(doc.MidiGridFileName));
    EXPECT_EQ(m_dir.FileNames().size(), 3u);  // note table, scratch file, grid file
    EXPECT_TRUE(m_host.Errors.empty());
}

TEST_F(BuildGridFileTest, WithoutANoteTableNothingHappens) {
    WavHead doc;
    doc.MidiGridFileName = "kept";
    doc.PeakNoteValue = 3.0;
    EXPECT_EQ(BuildGridFile(doc, 1), 0);
    EXPECT_EQ(doc.MidiGridFileName, "kept");
    EXPECT_EQ(doc.PeakNoteValue, 3.0);
    EXPECT_TRUE(m_dir.FileNames().empty());
}

TEST_F(BuildGridFileTest, AFailedBuildKeepsThePreviousGridFileAndLeavesNoStrayFile) {
    WavHead doc = MakeDoc(MakeTable(4, kGridRows, std::vector<Cell>{{2, 2, 2.0}}));
    ASSERT_EQ(BuildGridFile(doc, 1), 0);
    const WavHead before = doc;
    const auto filesBefore = m_dir.FileNames();

    // No scratch file name: the record file's own message, nothing replaced.
    WavHead noScratch = doc;
    noScratch.Temp1FileName.clear();
    EXPECT_EQ(BuildGridFile(noScratch, 1), -1);
    ASSERT_EQ(m_host.Errors.size(), 1u);
    EXPECT_EQ(m_host.Errors[0], "TFileBase.OpenFile in UFile is error.");
    EXPECT_EQ(noScratch.MidiGridFileName, before.MidiGridFileName);
    EXPECT_EQ(noScratch.PeakNoteValue, before.PeakNoteValue);
    EXPECT_EQ(m_dir.FileNames(), filesBefore);

    // No temporary name for the new grid file: the naming's message and then the build's own.
    m_host.Clear();
    {
        const testsupport::ScopedEnv missing("TMPDIR", m_dir.File("no-such-folder").c_str());
        WavHead unnamed = doc;
        EXPECT_EQ(BuildGridFile(unnamed, 1), -1);
        ASSERT_EQ(m_host.Messages.size(), 1U);
        EXPECT_TRUE(m_host.Messages[0].starts_with("GetFileName error.\n"));
        EXPECT_EQ(m_host.Errors, std::vector<std::string>{"TFileBase.OpenFileShort in UFile is error."});
        EXPECT_EQ(unnamed.MidiGridFileName, before.MidiGridFileName);
    }
    EXPECT_EQ(m_dir.FileNames(), filesBefore);

    // The note table is gone: an I/O error, and still the old grid file.
    WavHead lost = doc;
    lost.NoteIntenFileName = m_dir.File("missing.tmp");
    EXPECT_THROW((void)BuildGridFile(lost, 1), FileIoError);
    EXPECT_EQ(lost.MidiGridFileName, before.MidiGridFileName);
    EXPECT_TRUE(FileExists(before.MidiGridFileName));
    EXPECT_EQ(m_dir.FileNames(), filesBefore);
}

// ---- level colours --------------------------------------------------------------------------

struct LevelColourCase {
    int Level;
    QRgb Colour;
};

class GridLevelColorTest : public ::testing::TestWithParam<LevelColourCase> {};

TEST_P(GridLevelColorTest, EachLevelHasTheColourOfItsBand) {
    EXPECT_EQ(GridLevelColor(static_cast<std::int8_t>(GetParam().Level)), GetParam().Colour)
        << "level " << GetParam().Level;
}

INSTANTIATE_TEST_SUITE_P(
    Bands, GridLevelColorTest,
    ::testing::Values(LevelColourCase{-128, kGrey}, LevelColourCase{-127, kBlack}, LevelColourCase{-1, kBlack},
                      LevelColourCase{0, kBlue}, LevelColourCase{1, kTeal}, LevelColourCase{16, kTeal},
                      LevelColourCase{17, kGreen}, LevelColourCase{33, kGreen}, LevelColourCase{34, kOlive},
                      LevelColourCase{51, kOlive}, LevelColourCase{52, kMaroon}, LevelColourCase{69, kMaroon},
                      LevelColourCase{70, kRed}, LevelColourCase{86, kRed}, LevelColourCase{87, kYellow},
                      LevelColourCase{101, kYellow}, LevelColourCase{102, kGrey}, LevelColourCase{109, kGrey},
                      LevelColourCase{110, kWhite}, LevelColourCase{111, kGrey}, LevelColourCase{127, kGrey}));

TEST(NoteLevelTest, LevelsRoundHalvesToEvenAndStayWithinTheByteRange) {
    // Peak 100.000001: step exactly 1, so v maps to Round(v - 1e-6 + 1) - ties land on .5.
    const double peak = 100.000001;
    EXPECT_EQ(NoteLevel(1.500001, peak), 2);  // 2.5 -> 2
    EXPECT_EQ(NoteLevel(2.500001, peak), 4);  // 3.5 -> 4
    EXPECT_EQ(NoteLevel(-2.5, peak), -2);     // ties to even below zero too
    EXPECT_EQ(NoteLevel(-3.5, peak), -4);
    EXPECT_EQ(NoteLevel(120.0, 0.1), 120);  // far above the peak: clamped
    EXPECT_EQ(NoteLevel(-1000.0, peak), -120);
    EXPECT_EQ(NoteLevel(0.0, peak), 0);
}

// ---- looks of the note grid -----------------------------------------------------------------

TEST(NoteGridLooksTest, ColoursComeFromTheFileAndTheSelectionChoosesSolidOrHatched) {
    TempDir dir;
    const std::string name = dir.File("mig1.tmp");
    std::vector<std::int8_t> bytes(6 * kGridRows, 0);
    for (std::size_t frame = 0; frame < 6; ++frame) {
        bytes[frame * kGridRows + 0] = static_cast<std::int8_t>(frame == 2 ? kUserNoteLevel : -1);
        bytes[frame * kGridRows + 71] = static_cast<std::int8_t>(10 * frame);
    }
    WriteSigned(name, bytes);
    const NoteGridLooks looks(name, 2, 4);

    std::vector<CellLook> out(5 * kGridRows);
    looks.Columns(1, 5, kGridRows, out);  // frames 1..5; frame 6 lies past the end of the file
    auto at = [&](int frame, int row) { return out[static_cast<std::size_t>((frame - 1) * kGridRows + row)]; };
    EXPECT_EQ(at(1, 0).Color, kBlack);
    EXPECT_EQ(at(2, 0).Color, kWhite);
    EXPECT_EQ(at(3, 71).Color, kGreen);  // 30
    EXPECT_EQ(at(5, 71).Color, kOlive);  // 50
    EXPECT_EQ(at(4, 30).Color, kBlue);
    EXPECT_EQ(at(1, 5).Style, Qt::DiagCrossPattern);
    EXPECT_EQ(at(2, 5).Style, Qt::SolidPattern);  // both ends of the selection are inside
    EXPECT_EQ(at(4, 5).Style, Qt::SolidPattern);
    EXPECT_EQ(at(5, 5).Style, Qt::DiagCrossPattern);

    std::vector<CellLook> past(2 * kGridRows);
    looks.Columns(6, 2, kGridRows, past);
    for (const CellLook& look : past) {
        EXPECT_EQ(look.Color, kBlue);
    }
}

TEST(NoteGridLooksTest, AMissingFileIsAnIoError) {
    TempDir dir;
    const NoteGridLooks looks(dir.File("gone.tmp"), 0, 10);
    std::vector<CellLook> out(kGridRows);
    EXPECT_THROW(looks.Columns(0, 1, kGridRows, out), FileIoError);
}

}  // namespace
}  // namespace ruvo
