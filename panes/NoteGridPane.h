#pragma once
// The note grid of the main window (`MidiDisp2`, 72 rows, row r = note 71 - r) and its hidden
// three-row scratch grid (`MididispbackUp`): their set-up, metrics and fill from the
// document. The main window owns both grids and the document; these helpers only act on them.

#include "engine/WavHead.h"

#include <cstdint>

namespace ruvo {

class TStrColGrid;

constexpr std::int32_t kNoteGridRowHeight = 12;  // rows at start (the vertical zoom changes it)
constexpr std::int32_t kNoteGridTopRow = 25;     // top row after a grid build
constexpr std::int32_t kScratchRows = 3;         // rows of the scratch grid after a grid build

// MidiDisp2 as the main window makes it: blue, 250 columns, 72 rows, no fixed cells,
// columns 20 and rows 12 pixels, grid lines, thumb tracking, FocusDraw off.
void SetUpNoteGrid(TStrColGrid& grid);
// MididispbackUp: hidden; otherwise the grid's defaults (its Color is the window colour).
void SetUpScratchGrid(TStrColGrid& scratch);

// Column width that shows viewWidth columns in a grid gridWidth pixels wide:
// Round((gridWidth - 10) / viewWidth) - 1, and at least 1 so that a zoomed-out view still
// shows its cells. viewWidth must be at least 1.
std::int32_t NoteGridColumnWidth(std::int32_t gridWidth, std::int32_t viewWidth);

// The note-grid part of the refresh's grid metrics: ColCount := FrameCount; ViewStart := the
// grid's left column; a ViewWidth of 0 becomes 1; the column width for ViewWidth; the
// scratch grid's ColCount follows. (The keyboard's row height and top row are the caller's.)
void ApplyNoteGridMetrics(TStrColGrid& grid, TStrColGrid& scratch, WavHead& doc);

// Fills every cell of the note grid from doc's grid file and selection and repaints it;
// nothing without a grid file. The cells in view are read now (a read failure throws
// FileIoError); the others as they come into view or are accessed, which gives the same
// cells as reading all of them now.
void FillNoteGrid(TStrColGrid& grid, const WavHead& doc);

// What the grid build does to the grids: the scratch grid gets 3 rows and the note grid
// scrolls so that row 25 is its top row.
void ApplyGridBuild(TStrColGrid& grid, TStrColGrid& scratch);

}  // namespace ruvo
