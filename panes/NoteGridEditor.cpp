#include "panes/NoteGridEditor.h"

#include "engine/Rounding.h"
#include "panes/PaintBox.h"
#include "panes/PaneHost.h"
#include "panes/StrCGrid.h"

#include <QColor>
#include <QPainter>

#include <algorithm>

namespace ruvo {

namespace {

constexpr std::int32_t kTempRow = 0;   // scratch row for the cell about to be covered
constexpr std::int32_t kSavedRow = 1;  // scratch row holding the looks an overlay covers
constexpr std::int32_t kGhostRow = 2;  // never written: the scratch grid's default look
constexpr std::int32_t kNewNoteFrames = 5;
constexpr double kUserNoteValue = 110.0;  // the value a lengthened note's new frames get

const QColor kBlack(0, 0, 0);
const QColor kBlue(0, 0, 255);
const QColor kWhite(255, 255, 255);

bool SameColour(const QColor& a, const QColor& b) { return a.rgb() == b.rgb(); }

// The cells one handler redraws reach the screen together when it ends, also when a range
// error ends it early.
class RedrawBatch {
public:
    explicit RedrawBatch(TStrColGrid& grid) : m_grid(grid) { m_grid.BeginCellRedraws(); }
    ~RedrawBatch() { m_grid.EndCellRedraws(); }
    RedrawBatch(const RedrawBatch&) = delete;
    RedrawBatch& operator=(const RedrawBatch&) = delete;

private:
    TStrColGrid& m_grid;
};

}  // namespace

DragMode ChooseDragMode(std::int32_t x, std::int32_t left, std::int32_t right, bool oneFrame) {
    const double edge = oneFrame ? 0.3 : 0.2;
    const double width = right - left;
    DragMode mode = DragMode::dmPitch;
    if (left <= x && x <= RoundEven(left + edge * width)) {
        mode = DragMode::dmShift;
    }
    if (RoundEven(right - edge * width) <= x && x <= right) {
        mode = DragMode::dmLength;
    }
    return mode;
}

const char* DropStepName(const NoteDrag& drag) {
    switch (drag.Mode) {
        case DragMode::dmPitch: return "Change pitch";
        case DragMode::dmLength: return drag.CurEnd > drag.OrigEnd ? "Lengthen note" : "Shorten note";
        case DragMode::dmShift: return "Move note";
    }
    return "Edit note";
}

std::optional<NoteEdit> DropEdit(const NoteDrag& drag) {
    switch (drag.Mode) {
        case DragMode::dmPitch:
            if (drag.CurRow == drag.OrigRow) {
                return std::nullopt;
            }
            return NoteEdit::SwapRows(drag.CurStart, drag.CurEnd, drag.OrigRow, drag.CurRow);
        case DragMode::dmLength: {
            // The end never passes the note's own start: a shortened note keeps its first frame.
            const std::int32_t end = std::max(drag.CurEnd, drag.OrigStart);
            if (end > drag.OrigEnd) {
                return NoteEdit::SetRun(drag.OrigEnd, end, drag.OrigRow, kUserNoteValue);
            }
            if (end < drag.OrigEnd) {
                // The column the end was dropped on stays the note's last one.
                return NoteEdit::SetRun(end + 1, drag.OrigEnd, drag.OrigRow, 0.0);
            }
            return std::nullopt;
        }
        case DragMode::dmShift:
            if (drag.CurStart == drag.OrigStart) {
                return std::nullopt;
            }
            return NoteEdit::ShiftRun(drag.OrigStart, drag.OrigEnd, drag.OrigRow, drag.CurEnd, drag.CurStart,
                                      drag.OrigRow);
    }
    return std::nullopt;
}

ColumnRun FindRun(std::int32_t col, std::int32_t limit, const std::function<bool(std::int32_t)>& test) {
    std::int32_t start = col;
    while (start >= 0 && test(start)) {
        --start;
    }
    std::int32_t end = col + 1;
    while (end < limit && test(end)) {
        ++end;
    }
    return {start + 1, end - 1};
}

TNoteGridEditor::TNoteGridEditor(IPaneHost& host, TStrColGrid& grid, TStrColGrid& scratch, TPaintBox& onpuDisp,
                                 const std::vector<QPixmap>& symbols)
    : m_host(host), m_grid(grid), m_scratch(scratch), m_onpuDisp(onpuDisp), m_symbols(symbols) {}

// The cells' area: the scroll bars are not part of it.
bool TNoteGridEditor::Inside(std::int32_t x, std::int32_t y) const {
    const QWidget* cells = m_grid.viewport();
    return x >= 0 && x < cells->width() - 1 && y >= 0 && y < cells->height() - 1;
}

void TNoteGridEditor::MidiDisp2MouseDown(Qt::MouseButton button, std::int32_t x, std::int32_t y) {
    if (m_host.Busy()) {
        return;
    }
    std::int32_t col = -1;
    std::int32_t row = -1;
    m_grid.MouseToCell(x, y, col, row);
    // A press where no cell lies (past the last column or row) is no gesture.
    if (m_drag.Active != 0 || col < 0 || row < 0) {
        return;
    }
    const QColor colour = m_grid.CellColor(col, row);
    if (button == Qt::LeftButton && SameColour(colour, kBlack)) {
        RestoreRun(col, row);
    } else if (button == Qt::LeftButton && SameColour(colour, kBlue)) {
        AddNote(col, row);
    } else if (!SameColour(colour, kBlack) && !SameColour(colour, kBlue)) {
        GrabOrDelete(button, col, row, x);
    }
}

// The restore walk stops before the last column, as it always has.
void TNoteGridEditor::RestoreRun(std::int32_t col, std::int32_t row) {
    const WavHead& doc = m_host.Doc();
    const auto black = [this, row](std::int32_t c) { return SameColour(m_grid.CellColor(c, row), kBlack); };
    std::int32_t start = col;
    while (start >= 0 && black(start)) {
        m_grid.SetCellColor(start, row, kWhite);
        --start;
    }
    std::int32_t end = col;
    for (std::int32_t c = col + 1; c < doc.FrameCount - 1 && black(c); ++c) {
        m_grid.SetCellColor(c, row, kWhite);
        end = c;
    }
    Commit(NoteEdit::SetRun(start + 1, end, row, doc.PeakNoteValue), "Restore note");
    m_host.RefreshDocumentView();
}

void TNoteGridEditor::AddNote(std::int32_t col, std::int32_t row) {
    std::int32_t last = col;
    for (std::int32_t c = col; c < col + kNewNoteFrames && c < m_grid.ColCount(); ++c) {
        m_grid.SetCellColor(c, row, kWhite);
        last = c;
    }
    Commit(NoteEdit::SetRun(col, last, row, m_host.Doc().PeakNoteValue), "Add note");
    m_host.RefreshDocumentView();
}

void TNoteGridEditor::GrabOrDelete(Qt::MouseButton button, std::int32_t col, std::int32_t row, std::int32_t x) {
    if (button != Qt::LeftButton && button != Qt::RightButton) {
        return;
    }
    const auto note = [this, row](std::int32_t c) {
        const QColor colour = m_grid.CellColor(c, row);
        return !SameColour(colour, kBlack) && !SameColour(colour, kBlue);
    };
    const ColumnRun run = FindRun(col, m_host.Doc().FrameCount, note);
    if (button == Qt::RightButton) {
        Commit(NoteEdit::SetRun(run.Start, run.End, row, 0.0), "Delete note");
        const RedrawBatch batch(m_grid);
        for (std::int32_t c = run.Start; c <= run.End; ++c) {
            PaintCell(c, row, Qt::SolidPattern, kBlue);
        }
        return;
    }
    // A cell scrolled out of view reports an empty rectangle at the origin.
    const QRect first = m_grid.CellRect(run.Start, row);
    const QRect last = m_grid.CellRect(run.End, row);
    const std::int32_t left = first.x();
    const std::int32_t right = last.x() + last.width();
    m_drag.Active = 1;
    m_drag.OrigRow = row;
    m_drag.CurRow = row;
    m_drag.OrigStart = run.Start;
    m_drag.CurStart = run.Start;
    m_drag.OrigEnd = run.End;
    m_drag.CurEnd = run.End;
    m_drag.Length = run.End - run.Start + 1;
    m_drag.Mode = ChooseDragMode(x, left, right, m_drag.Length == 1);
    for (std::int32_t c = run.Start; c <= run.End; ++c) {
        Save(c, row, kSavedRow);
    }
}

void TNoteGridEditor::Commit(const NoteEdit& edit, const char* stepName) {
    try {
        m_host.CommitNoteEdit(edit, stepName);
    } catch (...) {
        m_drag.Active = 0;
        try {
            m_host.RefreshDocumentView();
        } catch (...) {
        }
        throw;
    }
}

void TNoteGridEditor::MidiDisp2MouseMove(std::int32_t x, std::int32_t y) {
    if (!Inside(x, y) || m_host.Busy()) {
        return;
    }
    std::int32_t col = -1;
    std::int32_t row = -1;
    m_grid.MouseToCell(x, y, col, row);
    ShowNoteSymbol(row);
    if (m_drag.Active != 1) {
        return;
    }
    // Past the last column or row the preview stops at the grid's edge.
    if (col < 0) {
        col = m_grid.ColCount() - 1;
    }
    if (row < 0) {
        row = m_grid.RowCount() - 1;
    }
    const RedrawBatch batch(m_grid);
    switch (m_drag.Mode) {
        case DragMode::dmPitch: PreviewPitch(row); break;
        case DragMode::dmLength: PreviewLength(col); break;
        case DragMode::dmShift: PreviewShift(col); break;
    }
}

// The ghost (the scratch grid's default look) follows the pointer from row to row; the
// grabbed note stays drawn where it is.
void TNoteGridEditor::PreviewPitch(std::int32_t row) {
    if (row == m_drag.CurRow) {
        return;
    }
    for (std::int32_t c = m_drag.OrigStart; c <= m_drag.OrigEnd; ++c) {
        Save(c, row, kTempRow);
        PaintCell(c, row, m_scratch.CellStyle(c, kGhostRow), m_scratch.CellColor(c, kGhostRow));
        Restore(c, m_drag.CurRow, kSavedRow);
        m_scratch.SetCellStyle(c, kSavedRow, m_scratch.CellStyle(c, kTempRow));
        m_scratch.SetCellColor(c, kSavedRow, m_scratch.CellColor(c, kTempRow));
    }
    m_drag.CurRow = row;
}

// The end stops at the note's own start: a shortened note keeps at least one frame.
void TNoteGridEditor::PreviewLength(std::int32_t col) {
    col = std::max(col, m_drag.OrigStart);
    if (col == m_drag.CurEnd) {
        return;
    }
    for (std::int32_t c = m_drag.OrigStart; c <= m_drag.CurEnd; ++c) {
        Restore(c, m_drag.OrigRow, kSavedRow);
    }
    for (std::int32_t c = m_drag.OrigStart; c <= col; ++c) {
        Save(c, m_drag.OrigRow, kSavedRow);
        PaintCell(c, m_drag.OrigRow, Qt::SolidPattern, kWhite);
    }
    m_drag.CurEnd = col;
}

// A preview whose end would pass the last column stops with its end there.
void TNoteGridEditor::PreviewShift(std::int32_t col) {
    col = std::min(col, m_grid.ColCount() - 1 - (m_drag.CurEnd - m_drag.CurStart));
    if (col == m_drag.CurStart) {
        return;
    }
    for (std::int32_t c = m_drag.CurStart; c <= m_drag.CurEnd; ++c) {
        Restore(c, m_drag.OrigRow, kSavedRow);
    }
    const std::int32_t end = m_drag.CurEnd + col - m_drag.CurStart;
    for (std::int32_t c = col; c <= end; ++c) {
        Save(c, m_drag.OrigRow, kSavedRow);
        PaintCell(c, m_drag.OrigRow, Qt::SolidPattern, kWhite);
    }
    m_drag.CurEnd = end;
    m_drag.CurStart = col;
}

void TNoteGridEditor::MidiDisp2MouseUp(Qt::MouseButton /*button*/, std::int32_t x, std::int32_t y) {
    if (!Inside(x, y) || m_drag.Active != 1) {
        return;
    }
    if (const std::optional<NoteEdit> edit = DropEdit(m_drag)) {
        Commit(*edit, DropStepName(m_drag));
    }
    m_drag.Active = 0;
    m_host.RefreshDocumentView();
}

void TNoteGridEditor::EndDrag() { m_drag.Active = 0; }

void TNoteGridEditor::MidiDisp2TopLeftChanged() {
    WavHead& doc = m_host.Doc();
    if (m_grid.LeftCol() != doc.ViewStart && !m_host.Busy()) {
        doc.ViewStart = m_grid.LeftCol();
        m_host.RefreshDocumentView();
    }
}

void TNoteGridEditor::ShowNoteSymbol(std::int32_t row) {
    if (row >= 0 && static_cast<std::size_t>(row) < m_symbols.size() && row != m_symbolRow) {
        m_symbolRow = row;
        m_onpuDisp.repaint();
    }
}

void TNoteGridEditor::OnpuDispPaint(QPainter& painter) {
    if (m_symbolRow >= 0 && static_cast<std::size_t>(m_symbolRow) < m_symbols.size()) {
        painter.drawPixmap(0, 0, m_symbols[static_cast<std::size_t>(m_symbolRow)]);
    }
}

void TNoteGridEditor::Save(std::int32_t col, std::int32_t row, std::int32_t scratchRow) {
    const Qt::BrushStyle style = m_grid.CellStyle(col, row);
    const QColor colour = m_grid.CellColor(col, row);
    m_scratch.SetCellStyle(col, scratchRow, style);
    m_scratch.SetCellColor(col, scratchRow, colour);
}

void TNoteGridEditor::Restore(std::int32_t col, std::int32_t row, std::int32_t scratchRow) {
    PaintCell(col, row, m_scratch.CellStyle(col, scratchRow), m_scratch.CellColor(col, scratchRow));
}

void TNoteGridEditor::PaintCell(std::int32_t col, std::int32_t row, Qt::BrushStyle style, const QColor& color) {
    m_grid.SetCellStyle(col, row, style);
    m_grid.SetCellColor(col, row, color);
    Redraw(col, row);
}

void TNoteGridEditor::Redraw(std::int32_t col, std::int32_t row) {
    m_grid.RedrawCell(col, row, m_grid.CellRect(col, row), GridDrawState{});
}

}  // namespace ruvo
