#include "panes/NoteGridPane.h"

#include "engine/FileIoError.h"

#include "GridTestSupport.h"
#include "panes/NoteGridFile.h"
#include "panes/StrCGrid.h"
#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <filesystem>

#include <memory>
#include <vector>

namespace ruvo {
namespace {

using testsupport::Cell;
using testsupport::ColoursIn;
using testsupport::GrabCells;
using testsupport::MakeTable;
using testsupport::ScopedRecordingHost;
using testsupport::TempDir;
using testsupport::WriteTable;

const QColor kBlue(0, 0, 255);
const QColor kYellow(255, 255, 0);
const QColor kBlack(0, 0, 0);
const QColor kTeal(0, 128, 128);

TEST(NoteGridColumnWidthTest, ViewWidthColumnsShareTheGridLessItsMargin) {
    EXPECT_EQ(NoteGridColumnWidth(475, 100), 4);  // Round(4.65) - 1
    EXPECT_EQ(NoteGridColumnWidth(475, 5), 92);   // Round(93) - 1
    EXPECT_EQ(NoteGridColumnWidth(35, 10), 1);    // Round(2.5) = 2: ties to even
    EXPECT_EQ(NoteGridColumnWidth(45, 10), 3);    // Round(3.5) = 4
    // A zoomed-out view keeps columns of one pixel instead of none or a negative width.
    EXPECT_EQ(NoteGridColumnWidth(475, 250), 1);
    EXPECT_EQ(NoteGridColumnWidth(475, 129000), 1);
    EXPECT_EQ(NoteGridColumnWidth(475, -3), 1);
}

// The main window's two grids after start-up.
struct Grids {
    Grids() {
        SetUpNoteGrid(*MidiDisp2);
        SetUpScratchGrid(*MididispbackUp);
        MidiDisp2->resize(475, 217);
        MidiDisp2->show();
    }
    std::unique_ptr<TStrColGrid> MidiDisp2 = std::make_unique<TStrColGrid>();
    std::unique_ptr<TStrColGrid> MididispbackUp = std::make_unique<TStrColGrid>();
};

TEST(NoteGridPaneTest, TheScratchGridsUnwrittenCellsLookLikeThePitchGhost) {
    Grids grids;
    EXPECT_FALSE(grids.MididispbackUp->isVisibleTo(nullptr));
    // Row 2 is never written: solid and the window colour.
    grids.MididispbackUp->SetRowCount(kScratchRows);
    EXPECT_EQ(grids.MididispbackUp->CellStyle(0, 2), Qt::SolidPattern);
    EXPECT_EQ(grids.MididispbackUp->CellColor(0, 2), grids.MididispbackUp->palette().color(QPalette::Base));
    EXPECT_TRUE(grids.MidiDisp2->horizontalScrollBar()->hasTracking());
}

TEST(NoteGridPaneTest, MetricsFollowTheDocument) {
    Grids grids;
    WavHead doc;
    doc.FrameCount = 600;
    doc.ViewWidth = 0;
    grids.MidiDisp2->SetColCount(600);
    grids.MidiDisp2->SetLeftCol(37);
    ApplyNoteGridMetrics(*grids.MidiDisp2, *grids.MididispbackUp, doc);
    EXPECT_EQ(grids.MidiDisp2->ColCount(), 600);
    EXPECT_EQ(grids.MididispbackUp->ColCount(), 600);
    EXPECT_EQ(doc.ViewStart, 37);
    EXPECT_EQ(doc.ViewWidth, 1);  // 0 becomes 1
    EXPECT_EQ(grids.MidiDisp2->DefaultColWidth(), 464);

    doc.ViewWidth = -7;  // only 0 is corrected
    ApplyNoteGridMetrics(*grids.MidiDisp2, *grids.MididispbackUp, doc);
    EXPECT_EQ(doc.ViewWidth, -7);
    doc.ViewWidth = 100;
    ApplyNoteGridMetrics(*grids.MidiDisp2, *grids.MididispbackUp, doc);
    EXPECT_EQ(grids.MidiDisp2->DefaultColWidth(), 4);
}

// A converted document of 300 frames: a rising scale of loud notes, one faint and one erased
// cell, and the selection over frames 100 .. 199.
class NoteGridDocumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<Cell> cells;
        for (std::size_t frame = 0; frame < kFrames; ++frame) {
            cells.push_back({frame, 20 + (frame / 10) % 30, 4.0 + static_cast<double>(frame % 10)});
        }
        cells.push_back({250, 60, 0.0001});  // faint: level 1, teal
        cells.push_back({120, 50, -1.0});    // erased: black
        m_doc.FrameCount = kFrames;
        m_doc.NoteIntenFileName = m_dir.File("not1.tmp");
        m_doc.Temp1FileName = m_dir.File("tm11.tmp");
        WriteTable(m_doc.NoteIntenFileName, MakeTable(kFrames, kGridRows, cells));
        ASSERT_EQ(BuildGridFile(m_doc, 1), 0);
        m_doc.SelStart = 100;
        m_doc.SelEnd = 199;
    }
    // RefreshDocumentView's part for the note grid.
    void Refresh(Grids& grids) {
        ApplyNoteGridMetrics(*grids.MidiDisp2, *grids.MididispbackUp, m_doc);
        FillNoteGrid(*grids.MidiDisp2, m_doc);
    }

    static constexpr std::size_t kFrames = 300;
    TempDir m_dir;
    ScopedRecordingHost m_host;
    WavHead m_doc;
};

TEST_F(NoteGridDocumentTest, EveryCellShowsItsLevelColourAndTheSelection) {
    Grids grids;
    ApplyGridBuild(*grids.MidiDisp2, *grids.MididispbackUp);
    Refresh(grids);
    TStrColGrid& grid = *grids.MidiDisp2;
    EXPECT_EQ(grids.MididispbackUp->RowCount(), 3);
    EXPECT_EQ(grid.TopRow(), 25);
    EXPECT_EQ(grid.ColCount(), 300);

    for (std::int32_t frame = 0; frame < static_cast<std::int32_t>(kFrames); ++frame) {
        const std::int32_t loudRow = NoteToRow(20 + (frame / 10) % 30);
        const bool selected = frame >= 100 && frame <= 199;
        for (std::int32_t row = 0; row < kGridRows; ++row) {
            QColor expected = kBlue;
            if (row == loudRow) {
                expected = QColor::fromRgb(GridLevelColor(NoteLevel(4.0 + frame % 10, 13.0)));
            } else if (frame == 250 && row == NoteToRow(60)) {
                expected = kTeal;
            } else if (frame == 120 && row == NoteToRow(50)) {
                expected = kBlack;
            }
            ASSERT_EQ(grid.CellColor(frame, row), expected) << frame << "," << row;
            ASSERT_EQ(grid.CellStyle(frame, row), selected ? Qt::SolidPattern : Qt::DiagCrossPattern);
        }
    }
    // The loudest cells (13.0) are yellow.
    EXPECT_EQ(grid.CellColor(9, NoteToRow(20)), kYellow);
}

TEST_F(NoteGridDocumentTest, ScrollingShowsHatchedAndSolidCellsAndKeepsTheViewStart) {
    Grids grids;
    ApplyGridBuild(*grids.MidiDisp2, *grids.MididispbackUp);
    TStrColGrid& grid = *grids.MidiDisp2;
    // What the main window does on a top-left change: follow the grid and refresh.
    QObject::connect(&grid, &TStrColGrid::OnTopLeftChanged, &grid, [&] {
        if (grid.LeftCol() != m_doc.ViewStart) {
            m_doc.ViewStart = grid.LeftCol();
            Refresh(grids);
        }
    });
    m_doc.ViewWidth = 40;  // columns of 11 pixels: wide enough to see the hatching
    grid.SetLeftCol(80);
    EXPECT_EQ(m_doc.ViewStart, 80);
    EXPECT_EQ(grid.DefaultColWidth(), 11);

    // Frame 95 (outside the selection) of the row of notes 20 + 9: hatch over blue.
    const std::int32_t row = NoteToRow(29);
    grid.SetTopRow(row - 2);
    const QImage scrolled = GrabCells(grid);
    // For a look at the grid; left in the build folder.
    scrolled.save(QDir(QCoreApplication::applicationDirPath()).filePath("note-grid.png"));
    const QColor outsideColour = grid.CellColor(95, row);
    const auto outside = ColoursIn(scrolled, grid.CellRect(95, row));
    EXPECT_EQ(outside.size(), 2u);
    EXPECT_EQ(outside.count(outsideColour.rgb()), 1u);
    EXPECT_EQ(outside.count(kBlue.rgb()), 1u);
    // Frame 100 of the next note row is inside the selection: solid.
    const std::int32_t insideRow = NoteToRow(30);
    const auto inside = ColoursIn(scrolled, grid.CellRect(100, insideRow));
    EXPECT_EQ(inside.size(), 1u);
    EXPECT_EQ(inside.begin()->first, grid.CellColor(100, insideRow).rgb());
}

TEST_F(NoteGridDocumentTest, WithoutAGridFileTheCellsStayAsTheyAre) {
    Grids grids;
    WavHead empty;
    grids.MidiDisp2->SetCellColor(3, 3, kYellow);
    FillNoteGrid(*grids.MidiDisp2, empty);
    EXPECT_EQ(grids.MidiDisp2->CellColor(3, 3), kYellow);
    EXPECT_FALSE(grids.MidiDisp2->CellHasRecord(4, 3));
}

// A grid file that cannot be read is reported by the refresh that needed it, not by a paint.
TEST_F(NoteGridDocumentTest, AnUnreadableGridFileFailsTheRefresh) {
    Grids grids;
    Refresh(grids);
    std::filesystem::remove(m_doc.MidiGridFileName);
    EXPECT_THROW(Refresh(grids), FileIoError);
}

}  // namespace
}  // namespace ruvo
