#include "panes/NoteGridPane.h"

#include "engine/Rounding.h"
#include "panes/NoteGridFile.h"
#include "panes/StrCGrid.h"

#include <QColor>

#include <cstdlib>

namespace ruvo {

namespace {

constexpr std::int32_t kStartColumns = 250;
constexpr std::int32_t kStartColWidth = 20;
constexpr std::int32_t kWidthMargin = 10;  // pixels of the grid that no column is given

}  // namespace

void SetUpNoteGrid(TStrColGrid& grid) {
    grid.SetFocusDraw(false);
    grid.SetColor(QColor(0, 0, 255));
    grid.SetFixedCols(0);
    grid.SetFixedRows(0);
    grid.SetColCount(kStartColumns);
    grid.SetRowCount(kGridRows);
    grid.SetDefaultColWidth(kStartColWidth);
    grid.SetDefaultRowHeight(kNoteGridRowHeight);
    grid.SetOptions(GridOptions(GridOption::VertLine) | GridOption::HorzLine | GridOption::ThumbTracking);
}

void SetUpScratchGrid(TStrColGrid& scratch) { scratch.setVisible(false); }

std::int32_t NoteGridColumnWidth(std::int32_t gridWidth, std::int32_t viewWidth) {
    if (viewWidth == 0) {
        viewWidth = 1;
    }
    const double pitch = static_cast<double>(gridWidth - kWidthMargin) / viewWidth;
    const std::int64_t width = RoundToInt(pitch) - 1;
    // Below one pixel a column would show only its grid line, and the grid no cell at all.
    return width < 1 ? 1 : static_cast<std::int32_t>(width);
}

void ApplyNoteGridMetrics(TStrColGrid& grid, TStrColGrid& scratch, WavHead& doc) {
    grid.SetColCount(doc.FrameCount);
    doc.ViewStart = grid.LeftCol();
    if (std::abs(doc.ViewWidth) < 1) {
        doc.ViewWidth = 1;
    }
    grid.SetDefaultColWidth(NoteGridColumnWidth(grid.width(), doc.ViewWidth));
    scratch.SetColCount(grid.ColCount());
}

void FillNoteGrid(TStrColGrid& grid, const WavHead& doc) {
    if (doc.MidiGridFileName.empty()) {
        return;
    }
    NoteGridLooks looks(doc.MidiGridFileName, doc.SelStart, doc.SelEnd);
    grid.FillCells([looks](std::int32_t first, std::int32_t count, std::int32_t rows, std::span<CellLook> out) {
        looks.Columns(first, count, rows, out);
    });
    // The columns in view are read now: a grid file that cannot be read is reported by the
    // refresh that needed it, not by a later paint.
    grid.FetchColumns(grid.LeftCol(), grid.LeftCol() + grid.VisibleColCount());
    grid.Invalidate();
}

void ApplyGridBuild(TStrColGrid& grid, TStrColGrid& scratch) {
    scratch.SetRowCount(kScratchRows);
    grid.SetTopRow(kNoteGridTopRow);
}

}  // namespace ruvo
