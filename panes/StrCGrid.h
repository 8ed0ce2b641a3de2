#pragma once
// TStrColGrid: an owner-drawn grid that paints every cell from a small per-cell record (a
// background colour and an optional mark drawn over it with its own brush style and colour)
// instead of from text. A widget of the UI thread, owned by its Qt parent; the cell records
// live as long as the grid. It knows nothing about notes.

#include "panes/CellLook.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QFlags>
#include <QRect>

#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <vector>

class QPainter;

namespace ruvo {

// "The cell position lies outside the grid": the text every out-of-range cell access carries.
inline constexpr char kGridRangeMessage[] = "ｾﾙ位置がｸﾞﾘｯﾄﾞの範囲を超えました。";

// Thrown by every cell property access whose column or row lies outside the grid.
class GridRangeError : public std::out_of_range {
public:
    GridRangeError();
};

// How DrawCell is asked to paint a cell.
struct GridDrawState {
    bool Selected = false;
    bool Focused = false;
    bool Fixed = false;
};

enum class GridOption : std::uint32_t {
    VertLine = 1u << 0,           // a grid line between columns
    HorzLine = 1u << 1,           // a grid line between rows
    ThumbTracking = 1u << 2,      // scroll while the scroll-bar thumb is dragged
    DrawFocusSelected = 1u << 3,  // the focused cell is highlighted like the other selected ones
    RowSelect = 1u << 4,          // the whole row of the focused cell is selected
};
Q_DECLARE_FLAGS(GridOptions, GridOption)

class TStrColGrid : public QAbstractScrollArea {
    Q_OBJECT

public:
    // Gives the looks of `colCount` columns from `firstCol`, `rowCount` looks per column, column
    // after column. May throw (a file error, for example); the access that needed it fails.
    using ColumnFill = std::function<void(std::int32_t firstCol, std::int32_t colCount, std::int32_t rowCount,
                                          std::span<CellLook> looks)>;

    explicit TStrColGrid(QWidget* parent = nullptr);
    ~TStrColGrid() override;

    // Size of the grid in cells; fixed columns and rows stay in place while the rest scrolls.
    std::int32_t ColCount() const { return m_colCount; }
    void SetColCount(std::int32_t count);
    std::int32_t RowCount() const { return m_rowCount; }
    void SetRowCount(std::int32_t count);
    std::int32_t FixedCols() const { return m_fixedCols; }
    void SetFixedCols(std::int32_t count);
    std::int32_t FixedRows() const { return m_fixedRows; }
    void SetFixedRows(std::int32_t count);

    // Cell size in pixels, without the grid line (1 pixel) that follows each cell.
    std::int32_t DefaultColWidth() const { return m_colWidth; }
    void SetDefaultColWidth(std::int32_t width);
    std::int32_t DefaultRowHeight() const { return m_rowHeight; }
    void SetDefaultRowHeight(std::int32_t height);

    GridOptions Options() const { return m_options; }
    void SetOptions(GridOptions options);

    // First scrolling row and column shown; kept between the fixed count and the last
    // position at which the final row or column is fully visible. A change emits
    // OnTopLeftChanged, whether it came from a scroll bar, the keyboard or a setter.
    std::int32_t TopRow() const { return m_topRow; }
    void SetTopRow(std::int32_t row);
    std::int32_t LeftCol() const { return m_leftCol; }
    void SetLeftCol(std::int32_t col);
    // Scrolling columns and rows from the top-left that fit completely into the view.
    std::int32_t VisibleColCount() const;
    std::int32_t VisibleRowCount() const;

    // The focused (current) cell; the selection is that cell, or its row with RowSelect.
    std::int32_t FocusCol() const { return m_focusCol; }
    std::int32_t FocusRow() const { return m_focusRow; }
    void SetFocusCell(std::int32_t col, std::int32_t row);

    QColor Color() const { return m_color; }  // background of the cells
    void SetColor(const QColor& color);
    QColor FixedColor() const { return m_fixedColor; }
    void SetFixedColor(const QColor& color);
    // When true, selected cells are highlighted even while the grid lacks the keyboard focus.
    // Setting it does not repaint.
    bool FocusDraw() const { return m_focusDraw; }
    void SetFocusDraw(bool on) { m_focusDraw = on; }

    // The cell under a point of the viewport (client pixels); -1 for a column or row
    // where no cell lies (past the last one, or outside the view).
    void MouseToCell(std::int32_t x, std::int32_t y, std::int32_t& col, std::int32_t& row) const;
    // The rectangle of a cell in viewport pixels, without its grid line, not clipped to the
    // view; an empty rectangle at the origin when the cell is not in view. Its right edge in
    // the toolkit's sense (the first pixel after the cell) is x() + width().
    QRect CellRect(std::int32_t col, std::int32_t row) const;

    // Cell records. Every access first checks the position (GridRangeError). A read never
    // creates a record; a write creates it (background from fixed-ness, not marked, clear
    // style, mark colour = Color()) and then sets the field. Writes do not repaint.
    void SetCellMarked(std::int32_t col, std::int32_t row, bool marked);
    // The record's mark style, or the canvas brush's style (solid) without a record.
    Qt::BrushStyle CellStyle(std::int32_t col, std::int32_t row);
    void SetCellStyle(std::int32_t col, std::int32_t row, Qt::BrushStyle style);
    // The record's mark colour, or Color() without a record.
    QColor CellColor(std::int32_t col, std::int32_t row);
    void SetCellColor(std::int32_t col, std::int32_t row, const QColor& color);
    bool CellHasRecord(std::int32_t col, std::int32_t row) const;

    // Gives every cell of the grid (ColCount() x RowCount() now) a record that is marked and
    // has the look `fill` reports for it, as if each cell were written at once. The looks are
    // fetched when a column is first painted or accessed, so `fill` must keep answering as
    // it would have now for every column not yet touched; a later call replaces it. Does not
    // repaint.
    void FillCells(ColumnFill fill);
    // Fetches the pending fill of columns first .. last now, so that a failing fill is
    // reported here (throws what the fill throws) rather than by a later access.
    void FetchColumns(std::int32_t first, std::int32_t last) { FillColumns(first, last); }
    // Repaints the whole grid (after writes or a fill).
    void Invalidate();

    // Paints one cell now with the given rectangle and state (nothing for an empty rectangle).
    // Between BeginCellRedraws and EndCellRedraws the cells are collected and painted
    // together at the end, in one repaint of the window: the same picture at the cost of one.
    void RedrawCell(std::int32_t col, std::int32_t row, const QRect& rect, GridDrawState state);
    void BeginCellRedraws();
    void EndCellRedraws();
    // The drawing of one cell: fixed colour, highlight, the record (background, then the mark
    // over it; a hatched mark leaves the background between its lines), or the plain colour.
    void DrawCell(QPainter& painter, std::int32_t col, std::int32_t row, const QRect& rect, GridDrawState state);
    // Drawn over the cells at the end of every repaint of the viewport, clipped to `area`.
    using Overlay = std::function<void(QPainter& painter, const QRect& area)>;
    void SetOverlay(Overlay overlay) { m_overlay = std::move(overlay); }

signals:
    void OnTopLeftChanged();
    // Mouse events in viewport pixels; a double click is two presses.
    void OnMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, std::int32_t x, std::int32_t y);
    void OnMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, std::int32_t x, std::int32_t y);
    void OnMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, std::int32_t x, std::int32_t y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    struct CellRecord {
        QRgb BackColor = 0;
        QRgb MarkColor = 0;
        std::uint8_t MarkStyle = 0;  // a Qt::BrushStyle
        bool Marked = false;
        bool Exists = false;
    };
    struct Column {
        std::vector<CellRecord> Cells;  // indexed by row, sized on the first write
        std::uint32_t FillGeneration = 0;
    };

    void CheckCell(std::int32_t col, std::int32_t row) const;
    // The record of a cell after any pending fill; nullptr when there is none and !create.
    CellRecord* FindCell(std::int32_t col, std::int32_t row, bool create);
    const CellRecord* PeekCell(std::int32_t col, std::int32_t row) const;
    bool ColumnNeedsFill(std::int32_t col) const;
    // Applies the pending fill to the columns of [first, last] that still need it.
    void FillColumns(std::int32_t first, std::int32_t last);
    CellRecord& CreateRecord(Column& column, std::int32_t col, std::int32_t row);
    QRgb DefaultBackColor(std::int32_t col, std::int32_t row) const;
    void ReleaseFilledColumns();

    std::int32_t LineWidthX() const;
    std::int32_t LineWidthY() const;
    std::int32_t ColPitch() const;
    std::int32_t RowPitch() const;
    std::int32_t MaxLeftCol() const;
    std::int32_t MaxTopRow() const;
    void SetTopLeft(std::int32_t col, std::int32_t row);
    void UpdateScrollBars();
    void ClampTopLeft();
    // Start of a column or row in viewport pixels (fixed ones first, then from the top-left).
    std::int32_t ColX(std::int32_t col) const;
    std::int32_t RowY(std::int32_t row) const;
    GridDrawState StateOf(std::int32_t col, std::int32_t row) const;
    bool IsSelected(std::int32_t col, std::int32_t row) const;
    bool GridHasFocus() const;
    void PaintRange(QPainter& painter, const QRect& area);
    void MoveFocusBy(std::int32_t dCol, std::int32_t dRow);

    std::int32_t m_colCount = 5;
    std::int32_t m_rowCount = 5;
    std::int32_t m_fixedCols = 0;
    std::int32_t m_fixedRows = 0;
    std::int32_t m_colWidth = 64;
    std::int32_t m_rowHeight = 24;
    GridOptions m_options = GridOptions(GridOption::VertLine) | GridOption::HorzLine;
    std::int32_t m_topRow = 0;
    std::int32_t m_leftCol = 0;
    std::int32_t m_focusCol = 0;
    std::int32_t m_focusRow = 0;
    QColor m_color;
    QColor m_fixedColor;
    bool m_focusDraw = true;
    bool m_syncingScrollBars = false;
    bool m_painting = false;  // PaintRange has already fetched the fill for its cells

    std::vector<Column> m_columns;         // grows to ColCount on demand, never shrinks
    std::vector<std::int32_t> m_usedCols;  // columns holding records, for the next fill
    ColumnFill m_fill;
    std::int32_t m_fillCols = 0;         // the fill covers columns [0, m_fillCols)
    std::int32_t m_fillRows = 0;         // and rows [0, m_fillRows)
    std::uint32_t m_fillGeneration = 0;  // 0: no fill yet
    QRgb m_fillColor = 0;                // Color() at the fill, for the records it makes
    QRgb m_fillFixedColor = 0;
    std::int32_t m_fillFixedCols = 0;
    std::int32_t m_fillFixedRows = 0;
    std::vector<CellLook> m_fillLooks;  // scratch for one batch of columns

    struct PendingRedraw {
        std::int32_t Col = -1;
        std::int32_t Row = -1;
        QRect Rect;
        GridDrawState State;
    };
    std::vector<PendingRedraw> m_pendingRedraws;  // painted by the next paintEvent
    std::int32_t m_redrawBatches = 0;             // open BeginCellRedraws calls
    Overlay m_overlay;
};

}  // namespace ruvo

Q_DECLARE_OPERATORS_FOR_FLAGS(ruvo::GridOptions)
