#include "panes/StrCGrid.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QScrollBar>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <stdexcept>

namespace ruvo {

namespace {

constexpr std::int32_t kGridLineWidth = 1;
// Columns fetched together when an access outside the painted area needs the fill.
constexpr std::int32_t kFillChunk = 32;
const QColor kGridLineColor(192, 192, 192);

std::int32_t Clamp(std::int32_t value, std::int32_t low, std::int32_t high) {
    return std::max(low, std::min(value, high));
}

std::int32_t ToInt32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

void RequireCount(std::int32_t count, const char* what) {
    if (count < 0) {
        throw std::invalid_argument(std::string("TStrColGrid: negative ") + what);
    }
}

}  // namespace

GridRangeError::GridRangeError() : std::out_of_range(kGridRangeMessage) {}

TStrColGrid::TStrColGrid(QWidget* parent) : QAbstractScrollArea(parent) {
    m_color = palette().color(QPalette::Base);
    m_fixedColor = palette().color(QPalette::Button);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    // Every pixel of the viewport is painted by paintEvent.
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    horizontalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setSingleStep(1);
    SetOptions(m_options);
    UpdateScrollBars();
}

TStrColGrid::~TStrColGrid() = default;

// ---- size and scrolling -------------------------------------------------------------------

void TStrColGrid::SetColCount(std::int32_t count) {
    RequireCount(count, "column count");
    if (count == m_colCount) {
        return;
    }
    m_colCount = count;
    m_focusCol = Clamp(m_focusCol, m_fixedCols, std::max(m_fixedCols, m_colCount - 1));
    ClampTopLeft();
}

void TStrColGrid::SetRowCount(std::int32_t count) {
    RequireCount(count, "row count");
    if (count == m_rowCount) {
        return;
    }
    m_rowCount = count;
    m_focusRow = Clamp(m_focusRow, m_fixedRows, std::max(m_fixedRows, m_rowCount - 1));
    ClampTopLeft();
}

void TStrColGrid::SetFixedCols(std::int32_t count) {
    RequireCount(count, "fixed column count");
    m_fixedCols = count;
    m_focusCol = std::max(m_focusCol, m_fixedCols);
    ClampTopLeft();
}

void TStrColGrid::SetFixedRows(std::int32_t count) {
    RequireCount(count, "fixed row count");
    m_fixedRows = count;
    m_focusRow = std::max(m_focusRow, m_fixedRows);
    ClampTopLeft();
}

void TStrColGrid::SetDefaultColWidth(std::int32_t width) {
    m_colWidth = width;
    ClampTopLeft();
}

void TStrColGrid::SetDefaultRowHeight(std::int32_t height) {
    m_rowHeight = height;
    ClampTopLeft();
}

void TStrColGrid::SetOptions(GridOptions options) {
    m_options = options;
    const bool tracking = options.testFlag(GridOption::ThumbTracking);
    horizontalScrollBar()->setTracking(tracking);
    verticalScrollBar()->setTracking(tracking);
    ClampTopLeft();
}

std::int32_t TStrColGrid::LineWidthX() const { return m_options.testFlag(GridOption::VertLine) ? kGridLineWidth : 0; }

std::int32_t TStrColGrid::LineWidthY() const { return m_options.testFlag(GridOption::HorzLine) ? kGridLineWidth : 0; }

// A negative size draws as 0; the pitch stays at least 1 so that positions stay defined.
std::int32_t TStrColGrid::ColPitch() const { return std::max(1, std::max(0, m_colWidth) + LineWidthX()); }

std::int32_t TStrColGrid::RowPitch() const { return std::max(1, std::max(0, m_rowHeight) + LineWidthY()); }

std::int32_t TStrColGrid::VisibleColCount() const {
    const std::int32_t avail = viewport()->width() - m_fixedCols * ColPitch();
    const std::int32_t fit = std::max(0, avail) / ColPitch();
    return std::max(0, std::min(fit, m_colCount - m_leftCol));
}

std::int32_t TStrColGrid::VisibleRowCount() const {
    const std::int32_t avail = viewport()->height() - m_fixedRows * RowPitch();
    const std::int32_t fit = std::max(0, avail) / RowPitch();
    return std::max(0, std::min(fit, m_rowCount - m_topRow));
}

std::int32_t TStrColGrid::MaxLeftCol() const {
    const std::int32_t avail = viewport()->width() - m_fixedCols * ColPitch();
    const std::int32_t fit = std::max(1, std::max(0, avail) / ColPitch());
    return std::max(m_fixedCols, m_colCount - fit);
}

std::int32_t TStrColGrid::MaxTopRow() const {
    const std::int32_t avail = viewport()->height() - m_fixedRows * RowPitch();
    const std::int32_t fit = std::max(1, std::max(0, avail) / RowPitch());
    return std::max(m_fixedRows, m_rowCount - fit);
}

void TStrColGrid::SetTopRow(std::int32_t row) { SetTopLeft(m_leftCol, row); }

void TStrColGrid::SetLeftCol(std::int32_t col) { SetTopLeft(col, m_topRow); }

void TStrColGrid::SetTopLeft(std::int32_t col, std::int32_t row) {
    col = Clamp(col, m_fixedCols, MaxLeftCol());
    row = Clamp(row, m_fixedRows, MaxTopRow());
    const bool changed = col != m_leftCol || row != m_topRow;
    m_leftCol = col;
    m_topRow = row;
    UpdateScrollBars();
    viewport()->update();
    if (changed) {
        emit OnTopLeftChanged();
    }
}

void TStrColGrid::ClampTopLeft() { SetTopLeft(m_leftCol, m_topRow); }

void TStrColGrid::UpdateScrollBars() {
    m_syncingScrollBars = true;
    QScrollBar* h = horizontalScrollBar();
    h->setRange(0, MaxLeftCol() - m_fixedCols);
    h->setPageStep(std::max(1, VisibleColCount()));
    h->setValue(m_leftCol - m_fixedCols);
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, MaxTopRow() - m_fixedRows);
    v->setPageStep(std::max(1, VisibleRowCount()));
    v->setValue(m_topRow - m_fixedRows);
    m_syncingScrollBars = false;
}

void TStrColGrid::scrollContentsBy(int /*dx*/, int /*dy*/) {
    if (m_syncingScrollBars) {
        return;
    }
    SetTopLeft(m_fixedCols + horizontalScrollBar()->value(), m_fixedRows + verticalScrollBar()->value());
}

void TStrColGrid::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    ClampTopLeft();
}

// ---- geometry -------------------------------------------------------------------------------

std::int32_t TStrColGrid::ColX(std::int32_t col) const {
    if (col < m_fixedCols) {
        return ToInt32(std::int64_t{col} * ColPitch());
    }
    return ToInt32(std::int64_t{m_fixedCols} * ColPitch() + std::int64_t{col - m_leftCol} * ColPitch());
}

std::int32_t TStrColGrid::RowY(std::int32_t row) const {
    if (row < m_fixedRows) {
        return ToInt32(std::int64_t{row} * RowPitch());
    }
    return ToInt32(std::int64_t{m_fixedRows} * RowPitch() + std::int64_t{row - m_topRow} * RowPitch());
}

void TStrColGrid::MouseToCell(std::int32_t x, std::int32_t y, std::int32_t& col, std::int32_t& row) const {
    col = -1;
    row = -1;
    if (x >= 0 && x < viewport()->width()) {
        const std::int32_t fixedWidth = m_fixedCols * ColPitch();
        const std::int32_t c = x < fixedWidth ? x / ColPitch() : m_leftCol + (x - fixedWidth) / ColPitch();
        if (c < m_colCount) {
            col = c;
        }
    }
    if (y >= 0 && y < viewport()->height()) {
        const std::int32_t fixedHeight = m_fixedRows * RowPitch();
        const std::int32_t r = y < fixedHeight ? y / RowPitch() : m_topRow + (y - fixedHeight) / RowPitch();
        if (r < m_rowCount) {
            row = r;
        }
    }
}

QRect TStrColGrid::CellRect(std::int32_t col, std::int32_t row) const {
    if (col < 0 || row < 0 || col >= m_colCount || row >= m_rowCount) {
        return {};
    }
    if ((col >= m_fixedCols && col < m_leftCol) || (row >= m_fixedRows && row < m_topRow)) {
        return {};
    }
    const std::int32_t x = ColX(col);
    const std::int32_t y = RowY(row);
    if (x >= viewport()->width() || y >= viewport()->height()) {
        return {};
    }
    return {x, y, std::max(0, m_colWidth), std::max(0, m_rowHeight)};
}

// ---- focus and selection ------------------------------------------------------------------

void TStrColGrid::SetFocusCell(std::int32_t col, std::int32_t row) {
    if (col == m_focusCol && row == m_focusRow) {
        return;
    }
    m_focusCol = col;
    m_focusRow = row;
    viewport()->update();
}

bool TStrColGrid::GridHasFocus() const { return hasFocus(); }

bool TStrColGrid::IsSelected(std::int32_t col, std::int32_t row) const {
    if (row != m_focusRow) {
        return false;
    }
    if (m_options.testFlag(GridOption::RowSelect)) {
        return col >= m_fixedCols;
    }
    return col == m_focusCol;
}

GridDrawState TStrColGrid::StateOf(std::int32_t col, std::int32_t row) const {
    GridDrawState state;
    state.Fixed = col < m_fixedCols || row < m_fixedRows;
    state.Selected = !state.Fixed && IsSelected(col, row);
    state.Focused = GridHasFocus() && col == m_focusCol && row == m_focusRow;
    return state;
}

void TStrColGrid::SetColor(const QColor& color) {
    m_color = color;
    viewport()->update();
}

void TStrColGrid::SetFixedColor(const QColor& color) {
    m_fixedColor = color;
    viewport()->update();
}

// ---- cell records ---------------------------------------------------------------------------

void TStrColGrid::CheckCell(std::int32_t col, std::int32_t row) const {
    if (col < 0 || row < 0 || col >= m_colCount || row >= m_rowCount) {
        throw GridRangeError();
    }
}

QRgb TStrColGrid::DefaultBackColor(std::int32_t col, std::int32_t row) const {
    return (col < m_fixedCols || row < m_fixedRows) ? m_fixedColor.rgba() : m_color.rgba();
}

bool TStrColGrid::ColumnNeedsFill(std::int32_t col) const {
    if (m_fillGeneration == 0 || col < 0 || col >= m_fillCols) {
        return false;
    }
    return static_cast<std::size_t>(col) >= m_columns.size() ||
           m_columns[static_cast<std::size_t>(col)].FillGeneration != m_fillGeneration;
}

TStrColGrid::CellRecord& TStrColGrid::CreateRecord(Column& column, std::int32_t col, std::int32_t row) {
    if (column.Cells.empty()) {
        m_usedCols.push_back(col);
    }
    if (column.Cells.size() <= static_cast<std::size_t>(row)) {
        column.Cells.resize(static_cast<std::size_t>(std::max(row + 1, m_rowCount)));
    }
    CellRecord& rec = column.Cells[static_cast<std::size_t>(row)];
    rec.BackColor = DefaultBackColor(col, row);
    rec.Marked = false;
    rec.MarkStyle = static_cast<std::uint8_t>(Qt::NoBrush);
    rec.MarkColor = m_color.rgba();
    rec.Exists = true;
    return rec;
}

void TStrColGrid::FillColumns(std::int32_t first, std::int32_t last) {
    first = std::max(first, 0);
    last = std::min(last, m_fillCols - 1);
    while (first <= last && !ColumnNeedsFill(first)) {
        ++first;
    }
    while (last >= first && !ColumnNeedsFill(last)) {
        --last;
    }
    if (first > last) {
        return;
    }
    const std::int32_t count = last - first + 1;
    m_fillLooks.assign(static_cast<std::size_t>(count) * static_cast<std::size_t>(m_fillRows), CellLook{});
    m_fill(first, count, m_fillRows, m_fillLooks);  // may throw; nothing has changed yet

    if (m_columns.size() < static_cast<std::size_t>(last + 1)) {
        m_columns.resize(static_cast<std::size_t>(last + 1));
    }
    for (std::int32_t col = first; col <= last; ++col) {
        if (!ColumnNeedsFill(col)) {
            continue;
        }
        Column& column = m_columns[static_cast<std::size_t>(col)];
        if (column.Cells.empty()) {
            m_usedCols.push_back(col);
        }
        if (column.Cells.size() < static_cast<std::size_t>(m_fillRows)) {
            column.Cells.resize(static_cast<std::size_t>(m_fillRows));
        }
        const CellLook* looks =
            m_fillLooks.data() + static_cast<std::size_t>(col - first) * static_cast<std::size_t>(m_fillRows);
        for (std::int32_t row = 0; row < m_fillRows; ++row) {
            CellRecord& rec = column.Cells[static_cast<std::size_t>(row)];
            if (!rec.Exists) {
                // A record made by the fill gets the background it would have had at the fill.
                const bool fixed = col < m_fillFixedCols || row < m_fillFixedRows;
                rec.BackColor = fixed ? m_fillFixedColor : m_fillColor;
                rec.Exists = true;
            }
            rec.Marked = true;
            rec.MarkStyle = static_cast<std::uint8_t>(looks[row].Style);
            rec.MarkColor = looks[row].Color;
        }
        column.FillGeneration = m_fillGeneration;
    }
}

TStrColGrid::CellRecord* TStrColGrid::FindCell(std::int32_t col, std::int32_t row, bool create) {
    if (m_columns.size() < static_cast<std::size_t>(m_colCount)) {
        m_columns.resize(static_cast<std::size_t>(m_colCount));
    }
    if (ColumnNeedsFill(col)) {
        const std::int32_t chunkStart = col - col % kFillChunk;
        FillColumns(chunkStart, chunkStart + kFillChunk - 1);
    }
    Column& column = m_columns[static_cast<std::size_t>(col)];
    if (static_cast<std::size_t>(row) < column.Cells.size() && column.Cells[static_cast<std::size_t>(row)].Exists) {
        return &column.Cells[static_cast<std::size_t>(row)];
    }
    if (!create) {
        return nullptr;
    }
    return &CreateRecord(column, col, row);
}

const TStrColGrid::CellRecord* TStrColGrid::PeekCell(std::int32_t col, std::int32_t row) const {
    if (col < 0 || row < 0 || static_cast<std::size_t>(col) >= m_columns.size()) {
        return nullptr;
    }
    const Column& column = m_columns[static_cast<std::size_t>(col)];
    if (static_cast<std::size_t>(row) >= column.Cells.size() || !column.Cells[static_cast<std::size_t>(row)].Exists) {
        return nullptr;
    }
    return &column.Cells[static_cast<std::size_t>(row)];
}

void TStrColGrid::SetCellMarked(std::int32_t col, std::int32_t row, bool marked) {
    CheckCell(col, row);
    FindCell(col, row, true)->Marked = marked;
}

Qt::BrushStyle TStrColGrid::CellStyle(std::int32_t col, std::int32_t row) {
    CheckCell(col, row);
    const CellRecord* rec = FindCell(col, row, false);
    // Without a record: the style of the brush the painting leaves behind, which is solid.
    return rec != nullptr ? static_cast<Qt::BrushStyle>(rec->MarkStyle) : Qt::SolidPattern;
}

void TStrColGrid::SetCellStyle(std::int32_t col, std::int32_t row, Qt::BrushStyle style) {
    CheckCell(col, row);
    FindCell(col, row, true)->MarkStyle = static_cast<std::uint8_t>(style);
}

QColor TStrColGrid::CellColor(std::int32_t col, std::int32_t row) {
    CheckCell(col, row);
    const CellRecord* rec = FindCell(col, row, false);
    return rec != nullptr ? QColor::fromRgba(rec->MarkColor) : m_color;
}

void TStrColGrid::SetCellColor(std::int32_t col, std::int32_t row, const QColor& color) {
    CheckCell(col, row);
    FindCell(col, row, true)->MarkColor = color.rgba();
}

bool TStrColGrid::CellHasRecord(std::int32_t col, std::int32_t row) const {
    CheckCell(col, row);
    if (ColumnNeedsFill(col) && row < m_fillRows) {
        return true;
    }
    return PeekCell(col, row) != nullptr;
}

// Columns whose records the new fill would recreate exactly (every record inside the fill's
// rows, each with the background a new record gets) are released, so that memory follows the
// columns touched since the last fill rather than every column ever shown.
void TStrColGrid::ReleaseFilledColumns() {
    std::vector<std::int32_t> kept;
    for (const std::int32_t col : m_usedCols) {
        Column& column = m_columns[static_cast<std::size_t>(col)];
        bool releasable = col < m_colCount;
        for (std::size_t row = 0; releasable && row < column.Cells.size(); ++row) {
            const CellRecord& rec = column.Cells[row];
            if (!rec.Exists) {
                continue;
            }
            releasable = static_cast<std::int32_t>(row) < m_rowCount &&
                         rec.BackColor == DefaultBackColor(col, static_cast<std::int32_t>(row));
        }
        if (releasable) {
            std::vector<CellRecord>().swap(column.Cells);
            column.FillGeneration = 0;
        } else {
            kept.push_back(col);
        }
    }
    m_usedCols = std::move(kept);
}

void TStrColGrid::FillCells(ColumnFill fill) {
    if (!fill) {
        throw std::invalid_argument("TStrColGrid::FillCells: no fill");
    }
    ReleaseFilledColumns();
    m_fill = std::move(fill);
    m_fillCols = m_colCount;
    m_fillRows = m_rowCount;
    m_fillColor = m_color.rgba();
    m_fillFixedColor = m_fixedColor.rgba();
    m_fillFixedCols = m_fixedCols;
    m_fillFixedRows = m_fixedRows;
    ++m_fillGeneration;
    if (m_fillGeneration == 0) {
        // After 2^32 fills every column's generation could match by accident: start anew.
        for (Column& column : m_columns) {
            column.FillGeneration = 0;
        }
        m_fillGeneration = 1;
    }
}

void TStrColGrid::Invalidate() { viewport()->update(); }

// ---- painting -------------------------------------------------------------------------------

void TStrColGrid::RedrawCell(std::int32_t col, std::int32_t row, const QRect& rect, GridDrawState state) {
    if (rect.isEmpty()) {
        return;
    }
    m_pendingRedraws.push_back(PendingRedraw{col, row, rect, state});
    if (m_redrawBatches == 0) {
        EndCellRedraws();
    }
}

void TStrColGrid::BeginCellRedraws() { ++m_redrawBatches; }

void TStrColGrid::EndCellRedraws() {
    if (m_redrawBatches > 0) {
        --m_redrawBatches;
    }
    if (m_redrawBatches > 0 || m_pendingRedraws.empty()) {
        return;
    }
    QRegion region;
    for (const PendingRedraw& cell : m_pendingRedraws) {
        region += cell.Rect;
    }
    viewport()->repaint(region);
    m_pendingRedraws.clear();
}

void TStrColGrid::DrawCell(QPainter& painter, std::int32_t col, std::int32_t row, const QRect& rect,
                           GridDrawState state) {
    if (!m_painting && ColumnNeedsFill(col)) {
        // As in PaintRange: drawn without a failed fill, reported by the next access.
        try {
            FillColumns(col, col);
        } catch (const std::exception&) {
        }
    }
    const CellRecord* rec = (col < m_colCount && row < m_rowCount) ? PeekCell(col, row) : nullptr;
    const QPen savedPen = painter.pen();
    const QBrush savedBrush = painter.brush();

    const bool exactlyFixed = state.Fixed && !state.Selected && !state.Focused;
    const bool highlight = (GridHasFocus() || m_focusDraw) && state.Selected &&
                           (m_options.testFlag(GridOption::DrawFocusSelected) || !state.Focused ||
                            m_options.testFlag(GridOption::RowSelect));
    if (rec == nullptr && exactlyFixed) {
        painter.fillRect(rect, m_fixedColor);
    } else if (highlight) {
        painter.fillRect(rect, palette().color(QPalette::Highlight));
    } else if (rec != nullptr) {
        painter.fillRect(rect, QColor::fromRgba(rec->BackColor));
        const auto style = static_cast<Qt::BrushStyle>(rec->MarkStyle);
        if (rec->Marked && style != Qt::NoBrush) {
            // Hatched brushes paint only their lines (transparent background mode), so the
            // background stays visible between them.
            painter.setBackgroundMode(Qt::TransparentMode);
            painter.fillRect(rect, QBrush(QColor::fromRgba(rec->MarkColor), style));
        }
    } else {
        painter.fillRect(rect, m_color);
    }

    painter.setPen(savedPen);
    painter.setBrush(savedBrush);
    if (GridHasFocus() && state.Focused && rect.width() > 1 && rect.height() > 1) {
        painter.setPen(QPen(palette().color(QPalette::WindowText), 0, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect.adjusted(0, 0, -1, -1));
        painter.setPen(savedPen);
        painter.setBrush(savedBrush);
    }
}

void TStrColGrid::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    PaintRange(painter, event->rect());
    // Cells redrawn at once get the state they were given, in the order they were given.
    for (const PendingRedraw& cell : m_pendingRedraws) {
        if (cell.Rect.intersects(event->rect())) {
            DrawCell(painter, cell.Col, cell.Row, cell.Rect, cell.State);
        }
    }
    if (m_overlay) {
        m_overlay(painter, event->rect());
    }
}

void TStrColGrid::PaintRange(QPainter& painter, const QRect& area) {
    const std::int32_t colPitch = ColPitch();
    const std::int32_t rowPitch = RowPitch();
    const std::int32_t right = area.right();
    const std::int32_t bottom = area.bottom();

    // The columns and rows that meet the area, fixed ones first.
    std::vector<std::int32_t> cols;
    for (std::int32_t c = 0; c < std::min(m_fixedCols, m_colCount); ++c) {
        const std::int32_t x = ColX(c);
        if (x > right) {
            break;
        }
        if (x + colPitch > area.left()) {
            cols.push_back(c);
        }
    }
    const std::int32_t scrollX = m_fixedCols * colPitch;
    std::int32_t c = m_leftCol + std::max(0, area.left() - scrollX) / colPitch;
    for (; c < m_colCount && ColX(c) <= right; ++c) {
        cols.push_back(c);
    }
    std::vector<std::int32_t> rows;
    for (std::int32_t r = 0; r < std::min(m_fixedRows, m_rowCount); ++r) {
        const std::int32_t y = RowY(r);
        if (y > bottom) {
            break;
        }
        if (y + rowPitch > area.top()) {
            rows.push_back(r);
        }
    }
    const std::int32_t scrollY = m_fixedRows * rowPitch;
    std::int32_t r = m_topRow + std::max(0, area.top() - scrollY) / rowPitch;
    for (; r < m_rowCount && RowY(r) <= bottom; ++r) {
        rows.push_back(r);
    }

    // Grid lines under the cells; the part of the view past the last column or row in Color.
    const std::int32_t endX =
        m_colCount > m_leftCol ? ColX(m_colCount - 1) + colPitch : std::min(m_colCount, m_fixedCols) * colPitch;
    const std::int32_t endY =
        m_rowCount > m_topRow ? RowY(m_rowCount - 1) + rowPitch : std::min(m_rowCount, m_fixedRows) * rowPitch;
    const QRect cellsArea = area.intersected(QRect(0, 0, std::max(0, endX), std::max(0, endY)));
    painter.fillRect(area, m_color);
    if (!cellsArea.isEmpty()) {
        painter.fillRect(cellsArea, kGridLineColor);
    }
    if (cols.empty() || rows.empty()) {
        return;
    }

    // One fill request for the fixed columns in view and one for the scrolling ones, never
    // for the hidden columns between them. Painting cannot report a failed fill: the cells
    // are drawn without it and the next access to the column tries again and reports.
    const auto firstScrolling =
        std::find_if(cols.begin(), cols.end(), [this](std::int32_t col) { return col >= m_fixedCols; });
    try {
        if (firstScrolling != cols.begin()) {
            FillColumns(cols.front(), *(firstScrolling - 1));
        }
        if (firstScrolling != cols.end()) {
            FillColumns(*firstScrolling, cols.back());
        }
    } catch (const std::exception&) {
    }
    const std::int32_t width = std::max(0, m_colWidth);
    const std::int32_t height = std::max(0, m_rowHeight);
    if (width == 0 || height == 0) {
        return;
    }
    m_painting = true;
    for (const std::int32_t col : cols) {
        const std::int32_t x = ColX(col);
        for (const std::int32_t row : rows) {
            DrawCell(painter, col, row, QRect(x, RowY(row), width, height), StateOf(col, row));
        }
    }
    m_painting = false;
}

// ---- input ----------------------------------------------------------------------------------

void TStrColGrid::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (focusPolicy() & Qt::ClickFocus) {
        setFocus(Qt::MouseFocusReason);
    }
    std::int32_t col = -1;
    std::int32_t row = -1;
    MouseToCell(pos.x(), pos.y(), col, row);
    if (col >= m_fixedCols && row >= m_fixedRows) {
        SetFocusCell(col, row);
    }
    emit OnMouseDown(event->button(), event->modifiers(), pos.x(), pos.y());
}

// The second press of a double click arrives as the double-click event instead of a press.
void TStrColGrid::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void TStrColGrid::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    emit OnMouseMove(event->buttons(), event->modifiers(), pos.x(), pos.y());
}

void TStrColGrid::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    emit OnMouseUp(event->button(), event->modifiers(), pos.x(), pos.y());
}

void TStrColGrid::MoveFocusBy(std::int32_t dCol, std::int32_t dRow) {
    if (m_colCount <= m_fixedCols || m_rowCount <= m_fixedRows) {
        return;
    }
    const std::int32_t col = Clamp(m_focusCol + dCol, m_fixedCols, m_colCount - 1);
    const std::int32_t row = Clamp(m_focusRow + dRow, m_fixedRows, m_rowCount - 1);
    SetFocusCell(col, row);
    // Scroll so that the focused cell is fully in view.
    std::int32_t left = m_leftCol;
    std::int32_t top = m_topRow;
    const std::int32_t visibleCols = std::max(1, VisibleColCount());
    const std::int32_t visibleRows = std::max(1, VisibleRowCount());
    if (col < left) {
        left = col;
    } else if (col >= left + visibleCols) {
        left = col - visibleCols + 1;
    }
    if (row < top) {
        top = row;
    } else if (row >= top + visibleRows) {
        top = row - visibleRows + 1;
    }
    SetTopLeft(left, top);
}

void TStrColGrid::keyPressEvent(QKeyEvent* event) {
    const std::int32_t pageRows = std::max(1, VisibleRowCount());
    switch (event->key()) {
        case Qt::Key_Left: MoveFocusBy(-1, 0); break;
        case Qt::Key_Right: MoveFocusBy(1, 0); break;
        case Qt::Key_Up: MoveFocusBy(0, -1); break;
        case Qt::Key_Down: MoveFocusBy(0, 1); break;
        case Qt::Key_PageUp: MoveFocusBy(0, -pageRows); break;
        case Qt::Key_PageDown: MoveFocusBy(0, pageRows); break;
        case Qt::Key_Home: MoveFocusBy(-m_colCount, 0); break;
        case Qt::Key_End: MoveFocusBy(m_colCount, 0); break;
        default: QAbstractScrollArea::keyPressEvent(event); return;
    }
    event->accept();
}

void TStrColGrid::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TStrColGrid::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

}  // namespace ruvo
