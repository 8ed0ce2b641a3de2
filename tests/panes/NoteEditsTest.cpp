#include "panes/NoteEdits.h"

#include "engine/FileIoError.h"
#include "panes/NoteGridFile.h"
#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ruvo {
namespace {

using testsupport::FileExists;
using testsupport::ReadDoubles;
using testsupport::ReadSigned;
using testsupport::ReadTable;
using testsupport::ScopedRecordingHost;
using testsupport::Table;
using testsupport::TempDir;
using testsupport::WriteDoubles;
using testsupport::WriteSigned;
using testsupport::WriteTable;

constexpr std::size_t kFrames = 30;
using Grid = std::vector<std::int8_t>;

// A document of 30 frames whose every note-table value and grid byte differs from the others,
// so that any value moved to the wrong place or lost shows.
class NoteEditsTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_doc.FrameCount = static_cast<std::int32_t>(kFrames);
        m_doc.NoteIntenFileName = m_dir.File("not1.tmp");
        m_doc.MidiGridFileName = m_dir.File("mig1.tmp");
        m_table.assign(kFrames, std::vector<double>(kGridRows));
        m_grid.assign(kFrames * kGridRows, 0);
        for (std::size_t f = 0; f < kFrames; ++f) {
            for (std::size_t k = 0; k < kGridRows; ++k) {
                m_table[f][k] = 1.0 + static_cast<double>(f) + static_cast<double>(k) / 100.0;
                m_grid[f * kGridRows + k] = static_cast<std::int8_t>((f * 7 + k) % 120);
            }
        }
        WriteTable(m_doc.NoteIntenFileName, m_table);
        WriteSigned(m_doc.MidiGridFileName, m_grid);
    }
    // The model's cell of grid row r: note 71 - r of the table, byte r of the grid record.
    double& Note(std::size_t frame, std::int32_t row) {
        return m_table[frame][static_cast<std::size_t>(RowToNote(row))];
    }
    std::int8_t& Byte(std::size_t frame, std::int32_t row) {
        return m_grid[frame * kGridRows + static_cast<std::size_t>(row)];
    }
    // Both files hold exactly the model (bit for bit: the values are compared with ==).
    void ExpectFilesAsModel() {
        EXPECT_EQ(ReadTable(m_doc.NoteIntenFileName, kGridRows), m_table);
        EXPECT_EQ(ReadSigned(m_doc.MidiGridFileName), m_grid);
        EXPECT_EQ(m_dir.FileNames(), (std::vector<std::string>{"mig1.tmp", "not1.tmp"}));
    }

    TempDir m_dir;
    WavHead m_doc;
    Table m_table;
    Grid m_grid;
};

struct SetRunCase {
    double Value;
    double Stored;
    std::int8_t Level;
};

class SetNoteRunValues : public NoteEditsTest, public ::testing::WithParamInterface<SetRunCase> {};

TEST_P(SetNoteRunValues, StoresClampedValueAndItsLevelInTheRunOnly) {
    const SetRunCase c = GetParam();
    SetNoteRun(m_doc, 4, 9, 30, c.Value);
    for (std::size_t f = 4; f <= 9; ++f) {
        Note(f, 30) = c.Stored;
        Byte(f, 30) = c.Level;
    }
    ExpectFilesAsModel();
}

INSTANTIATE_TEST_SUITE_P(Values, SetNoteRunValues,
                         ::testing::Values(SetRunCase{110.0, 110.0, 110}, SetRunCase{0.0, 0.0, 0},
                                           SetRunCase{500.0, 120.0, 110}, SetRunCase{-1.0, -1.0, -1},
                                           SetRunCase{-300.0, -120.0, -120}, SetRunCase{-2.5, -2.5, -2},
                                           SetRunCase{0.25, 0.25, 110}));

TEST_F(NoteEditsTest, SwapExchangesTwoRowsOverTheColumnsAndSameRowChangesNothing) {
    SwapNoteRows(m_doc, 3, 3, 17, 17);
    ExpectFilesAsModel();

    SwapNoteRows(m_doc, 5, 12, 10, 40);
    for (std::size_t f = 5; f <= 12; ++f) {
        std::swap(Note(f, 10), Note(f, 40));
        std::swap(Byte(f, 10), Byte(f, 40));
    }
    ExpectFilesAsModel();
}

// Each shift against a model that copies the run, clears it and pastes it at its new place,
// so an overlap (the run moved within its own columns) must keep every value in order.
TEST_F(NoteEditsTest, ShiftMovesTheRunWithItsValues) {
    struct Shift {
        std::int32_t OldStart, OldEnd, OldRow, NewStart, NewRow;
    };
    for (const Shift& shift : {Shift{10, 14, 20, 12, 20}, Shift{20, 25, 50, 3, 3}}) {
        const std::int32_t length = shift.OldEnd - shift.OldStart + 1;
        std::vector<double> values;
        std::vector<std::int8_t> bytes;
        for (std::int32_t i = 0; i < length; ++i) {
            const auto f = static_cast<std::size_t>(shift.OldStart + i);
            values.push_back(Note(f, shift.OldRow));
            bytes.push_back(Byte(f, shift.OldRow));
            Note(f, shift.OldRow) = 0.0;
            Byte(f, shift.OldRow) = 0;
        }
        for (std::int32_t i = 0; i < length; ++i) {
            const auto f = static_cast<std::size_t>(shift.NewStart + i);
            Note(f, shift.NewRow) = values[static_cast<std::size_t>(i)];
            Byte(f, shift.NewRow) = bytes[static_cast<std::size_t>(i)];
        }
        ShiftNoteRun(m_doc, shift.OldStart, shift.OldEnd, shift.NewRow, shift.NewStart + length - 1, shift.NewStart,
                     shift.OldRow);
        ExpectFilesAsModel();
    }
}

TEST_F(NoteEditsTest, NothingWithoutNoteTableAndNoGridHalfWithoutGridFile) {
    WavHead noTable = m_doc;
    noTable.NoteIntenFileName.clear();
    SetNoteRun(noTable, 0, 5, 1, 110.0);
    ExpectFilesAsModel();

    WavHead noGrid = m_doc;
    noGrid.MidiGridFileName.clear();
    SetNoteRun(noGrid, 0, 5, 1, 110.0);
    for (std::size_t f = 0; f <= 5; ++f) {
        Note(f, 1) = 110.0;
    }
    ExpectFilesAsModel();
}

TEST_F(NoteEditsTest, EditDescriptionsNameTheCellsTheyChange) {
    EXPECT_EQ(NoteEdit::SetRun(4, 9, 30, 1.0).Spans(), (std::vector<NoteSpan>{{30, 4, 9}}));
    EXPECT_EQ(NoteEdit::SwapRows(5, 12, 10, 40).Spans(), (std::vector<NoteSpan>{{10, 5, 12}, {40, 5, 12}}));
    // The shift's arguments come in the order old start, old end, new row, new end, new start, old row.
    EXPECT_EQ(NoteEdit::ShiftRun(20, 25, 3, 8, 3, 50).Spans(), (std::vector<NoteSpan>{{50, 20, 25}, {3, 3, 8}}));
}

// A write that cannot complete (the file-size limit stands for a full disk) and a new version
// that cannot be made: the files keep their previous contents and nothing is left beside them.
TEST_F(NoteEditsTest, FailedRewriteLeavesPreviousFilesWhole) {
    {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit small = old;
        small.rlim_cur = 4096;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        EXPECT_THROW(SetNoteRun(m_doc, 0, 29, 5, 110.0), FileIoError);
        EXPECT_THROW(ShiftNoteRun(m_doc, 0, 4, 6, 9, 5, 5), FileIoError);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
    }
    ExpectFilesAsModel();

    // The grid half fails after the note table half: the table has its new values, the grid
    // file its old ones.
    // (A folder that holds a file where the new version would go.)
    const std::string blocker = m_doc.MidiGridFileName + ".new";
    std::filesystem::create_directory(blocker);
    WriteDoubles(blocker + "/x", std::vector<double>{1.0});
    EXPECT_THROW(SetNoteRun(m_doc, 2, 3, 7, 0.0), FileIoError);
    std::filesystem::remove_all(blocker);
    Note(2, 7) = 0.0;
    Note(3, 7) = 0.0;
    ExpectFilesAsModel();
}

TEST(SideFileRunTest, ReplacesExactlyTheSelectedRecords) {
    TempDir dir;
    const std::string name = dir.File("thr1.tmp");
    const std::vector<double> values = {0.4, 0.5, 0.6, 0.7, 0.8, 0.9};
    WriteDoubles(name, values);
    SetSideFileRun(name, 6, 2, 3, 1.0);
    EXPECT_EQ(ReadDoubles(name), (std::vector<double>{0.4, 0.5, 1.0, 1.0, 0.8, 0.9}));
    SetSideFileRun(name, 6, 4, 1, 7.0);  // a reversed selection replaces nothing
    EXPECT_EQ(ReadDoubles(name), (std::vector<double>{0.4, 0.5, 1.0, 1.0, 0.8, 0.9}));
    EXPECT_EQ(dir.FileNames(), std::vector<std::string>{"thr1.tmp"});
}

}  // namespace
}  // namespace ruvo
