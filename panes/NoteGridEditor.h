#pragma once
// The note grid editor: the mouse gestures on the note grid `MidiDisp2` that restore an erased
// run, add a five-frame note, delete a note, and drag a note in time, at its end or to
// another row with a preview, plus the note symbol box `OnpuDisp` showing the row under the
// pointer. The rules that need no widget (runs, the drag zones, the edit a drop makes) are
// free functions; TNoteGridEditor holds the handlers and the drag state and acts on the grid,
// its hidden scratch grid `MididispbackUp` and the document through the pane host. UI thread.

#include "panes/NoteEdits.h"

#include <QPixmap>
#include <Qt>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QPainter;

namespace ruvo {

class IPaneHost;
class TPaintBox;
class TStrColGrid;

enum class DragMode : std::int32_t {
    dmShift = 1,   // move the note in time
    dmLength = 2,  // move its end
    dmPitch = 3,   // move it to another row
};

// The drag in progress (one per main window).
struct NoteDrag {
    std::int32_t Active = 0;
    DragMode Mode = DragMode::dmShift;
    std::int32_t OrigRow = 0;
    std::int32_t CurRow = 0;  // the row of the pitch ghost
    std::int32_t OrigStart = 0;
    std::int32_t OrigEnd = 0;
    std::int32_t CurStart = 0;  // the previewed note
    std::int32_t CurEnd = 0;
    std::int32_t Length = 0;
};

// Where a grabbed note was pressed: pixel x against the left edge L of its first cell and the
// right edge Rt (first pixel after) of its last. The outer 0.3 of a one-frame note, 0.2 of a
// longer one, shift it (left) or move its end (right); the end test comes second and wins;
// anywhere else moves its pitch.
DragMode ChooseDragMode(std::int32_t x, std::int32_t left, std::int32_t right, bool oneFrame);

// The edit a drop commits, or nothing when the note would stay as it was (dropped where it
// was grabbed). An end dropped before the note's start counts as dropped on the start.
std::optional<NoteEdit> DropEdit(const NoteDrag& drag);
// Its name in the edit history: "Move note", "Lengthen note", "Shorten note", "Change pitch".
const char* DropStepName(const NoteDrag& drag);

// The run of cells around column `col` that pass `test`: walking left while it holds (to
// column 0 at most) and right from col + 1 while the column is below `limit` and it holds.
struct ColumnRun {
    std::int32_t Start = 0;
    std::int32_t End = 0;
};
ColumnRun FindRun(std::int32_t col, std::int32_t limit, const std::function<bool(std::int32_t)>& test);

class TNoteGridEditor {
public:
    // `symbols`: the note symbol of every grid row (picture r for row r).
    TNoteGridEditor(IPaneHost& host, TStrColGrid& grid, TStrColGrid& scratch, TPaintBox& onpuDisp,
                    const std::vector<QPixmap>& symbols);

    // Mouse events of the grid in viewport pixels. A press where no cell lies does nothing; a
    // drag's preview stops at the grid's edge and at the note's own start; a drop that
    // changes nothing writes nothing. A release outside the cells' area keeps the drag.
    void MidiDisp2MouseDown(Qt::MouseButton button, std::int32_t x, std::int32_t y);
    void MidiDisp2MouseMove(std::int32_t x, std::int32_t y);
    void MidiDisp2MouseUp(Qt::MouseButton button, std::int32_t x, std::int32_t y);
    // Ends a drag in progress without writing anything (another note table is shown now).
    void EndDrag();
    // The left column changed: the document's view follows and the view is rebuilt.
    void MidiDisp2TopLeftChanged();
    void OnpuDispPaint(QPainter& painter);
    // OnpuDisp shows the note symbol of `row` (the keyboard's pointer moves there too).
    void ShowNoteSymbol(std::int32_t row);

    const NoteDrag& Drag() const { return m_drag; }
    // The row whose note symbol OnpuDisp shows; -1 before the pointer first met a row.
    std::int32_t SymbolRow() const { return m_symbolRow; }

private:
    bool Inside(std::int32_t x, std::int32_t y) const;
    void RestoreRun(std::int32_t col, std::int32_t row);
    void AddNote(std::int32_t col, std::int32_t row);
    void GrabOrDelete(Qt::MouseButton button, std::int32_t col, std::int32_t row, std::int32_t x);
    // Writes an edit as the history's step `stepName`; when it fails the view is rebuilt from
    // the files as they are now.
    void Commit(const NoteEdit& edit, const char* stepName);
    void PreviewPitch(std::int32_t row);
    void PreviewLength(std::int32_t col);
    void PreviewShift(std::int32_t col);
    // Copies a grid cell's look into a scratch row, back, or paints it, redrawing at once.
    void Save(std::int32_t col, std::int32_t row, std::int32_t scratchRow);
    void Restore(std::int32_t col, std::int32_t row, std::int32_t scratchRow);
    void PaintCell(std::int32_t col, std::int32_t row, Qt::BrushStyle style, const QColor& color);
    void Redraw(std::int32_t col, std::int32_t row);

    IPaneHost& m_host;
    TStrColGrid& m_grid;
    TStrColGrid& m_scratch;
    TPaintBox& m_onpuDisp;
    const std::vector<QPixmap>& m_symbols;
    NoteDrag m_drag;
    std::int32_t m_symbolRow = -1;
};

}  // namespace ruvo
