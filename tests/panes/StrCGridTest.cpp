#include "panes/StrCGrid.h"

#include "GridTestSupport.h"

#include <QApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>

namespace ruvo {
namespace {

using testsupport::ColoursIn;
using testsupport::GrabCells;

const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);
const QColor kYellow(255, 255, 0);
const QRgb kLineRgb = qRgb(192, 192, 192);

// A shown grid of 10 x 6 cells of 20 x 12 pixels (pitch 21 x 13 with the grid lines).
std::unique_ptr<TStrColGrid> MakeGrid(int width = 300, int height = 120) {
    auto grid = std::make_unique<TStrColGrid>();
    grid->SetColor(kBlue);
    grid->SetColCount(10);
    grid->SetRowCount(6);
    grid->SetDefaultColWidth(20);
    grid->SetDefaultRowHeight(12);
    grid->resize(width, height);
    grid->show();
    return grid;
}

// ---- cell records ---------------------------------------------------------------------------

TEST(TStrColGridRecordTest, ReadingAnUnwrittenCellCreatesNoRecord) {
    TStrColGrid grid;
    grid.SetColor(kBlue);
    EXPECT_EQ(grid.CellColor(3, 4), kBlue);
    EXPECT_EQ(grid.CellStyle(3, 4), Qt::SolidPattern);
    EXPECT_FALSE(grid.CellHasRecord(3, 4));
    // Had the reads made a record, it would keep the old colour.
    grid.SetColor(kRed);
    EXPECT_EQ(grid.CellColor(3, 4), kRed);
}

TEST(TStrColGridRecordTest, EveryWriteCreatesTheRecordWithItsDefaultsFirst) {
    TStrColGrid grid;
    grid.SetColor(kBlue);
    grid.SetCellColor(0, 0, kGreen);
    grid.SetCellStyle(1, 0, Qt::DiagCrossPattern);
    grid.SetCellMarked(2, 0, true);
    grid.SetColor(kRed);

    EXPECT_EQ(grid.CellColor(0, 0), kGreen);
    EXPECT_EQ(grid.CellStyle(0, 0), Qt::NoBrush);  // clear until written
    EXPECT_EQ(grid.CellColor(1, 0), kBlue);        // the Color of the moment of creation
    EXPECT_EQ(grid.CellStyle(1, 0), Qt::DiagCrossPattern);
    EXPECT_EQ(grid.CellColor(2, 0), kBlue);
    EXPECT_EQ(grid.CellStyle(2, 0), Qt::NoBrush);
    EXPECT_TRUE(grid.CellHasRecord(2, 0));
    EXPECT_FALSE(grid.CellHasRecord(3, 0));
}

TEST(TStrColGridRecordTest, ColumnsAddedAfterCreationCanBeWrittenAtOnce) {
    TStrColGrid grid;
    grid.SetColCount(3);
    grid.SetCellColor(2, 1, kGreen);
    grid.SetColCount(300);
    grid.SetCellColor(299, 1, kYellow);
    EXPECT_EQ(grid.CellColor(299, 1), kYellow);
    EXPECT_EQ(grid.CellColor(2, 1), kGreen);
    // A shrink keeps the records of the columns it hides.
    grid.SetColCount(3);
    grid.SetColCount(300);
    EXPECT_EQ(grid.CellColor(299, 1), kYellow);
}

// ---- range check ----------------------------------------------------------------------------

TEST(TStrColGridRangeTest, EveryAccessOutsideTheGridThrowsAndChangesNothing) {
    TStrColGrid grid;
    grid.SetColCount(7);
    grid.SetRowCount(4);
    const std::vector<std::function<void(int, int)>> accesses = {
        [&](int c, int r) { grid.SetCellMarked(c, r, true); },
        [&](int c, int r) { (void)grid.CellStyle(c, r); },
        [&](int c, int r) { grid.SetCellStyle(c, r, Qt::SolidPattern); },
        [&](int c, int r) { (void)grid.CellColor(c, r); },
        [&](int c, int r) { grid.SetCellColor(c, r, kRed); },
        [&](int c, int r) { (void)grid.CellHasRecord(c, r); },
    };
    const std::vector<std::pair<int, int>> outside = {{7, 0}, {0, 4}, {-1, 0}, {0, -1}, {7, 4}, {-5, -5}};
    for (std::size_t a = 0; a < accesses.size(); ++a) {
        for (const auto& [col, row] : outside) {
            try {
                accesses[a](col, row);
                ADD_FAILURE() << "access " << a << " at " << col << "," << row << " did not throw";
            } catch (const GridRangeError& error) {
                EXPECT_STREQ(error.what(), kGridRangeMessage);
            }
        }
    }
    // The last valid cells are inside, and nothing was created by the failed writes.
    EXPECT_NO_THROW(grid.SetCellColor(6, 3, kRed));
    for (int col = 0; col < 7; ++col) {
        for (int row = 0; row < 4; ++row) {
            EXPECT_EQ(grid.CellHasRecord(col, row), col == 6 && row == 3);
        }
    }
}

TEST(TStrColGridRangeTest, TheMessageIsTheJapaneseSentence) {
    // "ｾﾙ位置がｸﾞﾘｯﾄﾞの範囲を超えました。" code point by code point: half-width katakana,
    // kanji and hiragana.
    const char16_t expected[] =
        u"\uFF7E\uFF99\u4F4D\u7F6E\u304C\uFF78\uFF9E\uFF98\uFF6F\uFF84\uFF9E"
        u"\u306E\u7BC4\u56F2\u3092\u8D85\u3048\u307E\u3057\u305F\u3002";
    EXPECT_EQ(QString::fromUtf8(GridRangeError().what()), QString::fromUtf16(expected));
}

// ---- geometry -------------------------------------------------------------------------------

TEST(TStrColGridGeometryTest, CellAtPointAndCellRectAgreeWhileScrolledAndWithFixedCells) {
    auto grid = MakeGrid(200, 90);
    grid->SetColCount(40);
    grid->SetRowCount(30);
    for (const int fixed : {0, 1}) {
        grid->SetFixedCols(fixed);
        grid->SetFixedRows(fixed);
        grid->SetLeftCol(7);
        grid->SetTopRow(11);
        int seen = 0;
        for (int col = 0; col < 40; ++col) {
            for (int row = 0; row < 30; ++row) {
                const QRect rect = grid->CellRect(col, row);
                if (rect.isEmpty()) {
                    continue;
                }
                ++seen;
                for (const QPoint p : {rect.topLeft(), rect.bottomRight(), rect.center()}) {
                    if (p.x() >= grid->viewport()->width() || p.y() >= grid->viewport()->height()) {
                        continue;  // the part of a cell cut off by the view's edge
                    }
                    int c = -2;
                    int r = -2;
                    grid->MouseToCell(p.x(), p.y(), c, r);
                    EXPECT_EQ(c, col) << "fixed " << fixed;
                    EXPECT_EQ(r, row) << "fixed " << fixed;
                }
                EXPECT_EQ(rect.size(), QSize(20, 12));
            }
        }
        EXPECT_GT(seen, 8);
        if (fixed == 1) {
            EXPECT_EQ(grid->CellRect(0, 0).topLeft(), QPoint(0, 0));     // fixed cells stay put
            EXPECT_EQ(grid->CellRect(7, 11).topLeft(), QPoint(21, 13));  // the top-left follows
        } else {
            EXPECT_EQ(grid->CellRect(7, 11).topLeft(), QPoint(0, 0));
        }
    }
}

TEST(TStrColGridGeometryTest, PointsWithoutACellHitMinusOneAndHiddenCellsHaveEmptyRects) {
    auto grid = MakeGrid(400, 200);  // more room than 10 x 6 cells need
    int col = 0;
    int row = 0;
    grid->MouseToCell(10 * 21 + 3, 5, col, row);
    EXPECT_EQ(col, -1);
    EXPECT_EQ(row, 0);
    grid->MouseToCell(5, 6 * 13 + 3, col, row);
    EXPECT_EQ(col, 0);
    EXPECT_EQ(row, -1);
    grid->MouseToCell(-1, -1, col, row);
    EXPECT_EQ(col, -1);
    EXPECT_EQ(row, -1);
    // A point on the grid line after a cell belongs to that cell.
    grid->MouseToCell(20, 12, col, row);
    EXPECT_EQ(col, 0);
    EXPECT_EQ(row, 0);

    auto narrow = MakeGrid(100, 60);
    narrow->SetLeftCol(3);
    EXPECT_EQ(narrow->CellRect(2, 0), QRect());  // scrolled out to the left
    EXPECT_EQ(narrow->CellRect(9, 0), QRect());  // beyond the right edge
    EXPECT_EQ(narrow->CellRect(2, 0).topLeft(), QPoint(0, 0));
    EXPECT_EQ(narrow->CellRect(10, 0), QRect());  // no such column
}

// ---- painting -------------------------------------------------------------------------------

TEST(TStrColGridPaintTest, MarksPaintSolidHatchedOrNotAtAllOverTheBackground) {
    auto grid = MakeGrid();
    grid->SetFocusDraw(false);  // no highlight on the focused cell (0, 0)
    grid->SetDefaultColWidth(25);
    grid->SetDefaultRowHeight(30);
    grid->SetCellMarked(0, 0, true);
    grid->SetCellStyle(0, 0, Qt::SolidPattern);
    grid->SetCellColor(0, 0, kYellow);
    grid->SetCellMarked(1, 0, true);
    grid->SetCellStyle(1, 0, Qt::DiagCrossPattern);
    grid->SetCellColor(1, 0, kYellow);
    grid->SetCellStyle(2, 0, Qt::DiagCrossPattern);  // not marked
    grid->SetCellColor(2, 0, kYellow);
    grid->SetCellMarked(3, 0, true);  // marked, clear style
    grid->SetCellColor(3, 0, kYellow);
    grid->SetColor(kRed);  // cells without a record now paint red; records keep blue

    const QImage image = GrabCells(*grid);
    const auto solid = ColoursIn(image, grid->CellRect(0, 0));
    EXPECT_EQ(solid.size(), 1u);
    EXPECT_EQ(solid.begin()->first, kYellow.rgb());

    const auto hatched = ColoursIn(image, grid->CellRect(1, 0));
    ASSERT_EQ(hatched.size(), 2u);
    EXPECT_GT(hatched.at(kYellow.rgb()), 30);  // the cross-hatch lines
    EXPECT_GT(hatched.at(kBlue.rgb()), 300);   // the background between them
    // Both diagonals: lines of both slopes cross the cell.
    const QRect r = grid->CellRect(1, 0);
    bool falling = false;
    bool rising = false;
    for (int y = r.top(); y < r.bottom(); ++y) {
        for (int x = r.left() + 1; x < r.right(); ++x) {
            if (image.pixel(x, y) != kYellow.rgb()) {
                continue;
            }
            falling = falling || image.pixel(x + 1, y + 1) == kYellow.rgb();
            rising = rising || image.pixel(x - 1, y + 1) == kYellow.rgb();
        }
    }
    EXPECT_TRUE(falling);
    EXPECT_TRUE(rising);

    for (const int col : {2, 3}) {
        const auto plain = ColoursIn(image, grid->CellRect(col, 0));
        EXPECT_EQ(plain.size(), 1u) << col;
        EXPECT_EQ(plain.begin()->first, kBlue.rgb()) << col;
    }
    const auto empty = ColoursIn(image, grid->CellRect(4, 0));
    EXPECT_EQ(empty.size(), 1u);
    EXPECT_EQ(empty.begin()->first, kRed.rgb());
    // The grid line right of a cell, and the view past the last column.
    EXPECT_EQ(image.pixel(25, 5), kLineRgb);
    const int pastLast = grid->CellRect(9, 0).right() + 2;
    ASSERT_LT(pastLast, image.width());
    EXPECT_EQ(image.pixel(pastLast, 5), kRed.rgb());
}

TEST(TStrColGridPaintTest, FixedCellsPaintTheFixedColourUnlessTheyHaveARecord) {
    auto grid = MakeGrid();
    grid->SetFixedCols(1);
    grid->SetFixedColor(kGreen);
    grid->SetCellMarked(0, 2, false);  // a record in the fixed column: background FixedColor
    grid->SetCellMarked(2, 2, false);  // a record elsewhere: background Color
    grid->SetFixedColor(kYellow);

    const QImage image = GrabCells(*grid);
    EXPECT_EQ(ColoursIn(image, grid->CellRect(0, 1)).begin()->first, kYellow.rgb());
    EXPECT_EQ(ColoursIn(image, grid->CellRect(0, 2)).begin()->first, kGreen.rgb());
    EXPECT_EQ(ColoursIn(image, grid->CellRect(2, 2)).begin()->first, kBlue.rgb());
}

TEST(TStrColGridPaintTest, WithoutFocusDrawSelectedCellsAreHighlightedOnlyWhileFocused) {
    auto grid = MakeGrid();
    grid->SetFocusDraw(false);
    grid->SetOptions(grid->Options() | GridOption::RowSelect);
    for (int col = 0; col < 10; ++col) {
        grid->SetCellMarked(col, 3, true);
        grid->SetCellStyle(col, 3, Qt::SolidPattern);
        grid->SetCellColor(col, 3, kYellow);
    }
    grid->SetFocusCell(2, 3);
    const QRgb highlight = grid->palette().color(QPalette::Highlight).rgb();
    ASSERT_NE(highlight, kYellow.rgb());

    EXPECT_EQ(ColoursIn(GrabCells(*grid), grid->CellRect(5, 3)).begin()->first, kYellow.rgb());

    QApplication::setActiveWindow(grid.get());
    grid->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid->hasFocus(); }));
    const QImage focused = GrabCells(*grid);
    EXPECT_EQ(ColoursIn(focused, grid->CellRect(5, 3)).begin()->first, highlight);
    EXPECT_EQ(ColoursIn(focused, grid->CellRect(5, 2)).begin()->first, kBlue.rgb());

    grid->SetFocusDraw(true);
    grid->clearFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !grid->hasFocus(); }));
    EXPECT_EQ(ColoursIn(GrabCells(*grid), grid->CellRect(5, 3)).begin()->first, highlight);
}

// ---- scrolling ------------------------------------------------------------------------------

TEST(TStrColGridScrollTest, TopLeftChangesNotifyOnceAndStayWithinTheGrid) {
    auto grid = MakeGrid(200, 90);
    grid->SetColCount(100);
    grid->SetRowCount(50);
    QSignalSpy spy(grid.get(), &TStrColGrid::OnTopLeftChanged);

    grid->SetLeftCol(30);
    EXPECT_EQ(grid->LeftCol(), 30);
    EXPECT_EQ(spy.count(), 1);
    grid->SetLeftCol(30);
    EXPECT_EQ(spy.count(), 1);
    grid->SetTopRow(20);
    EXPECT_EQ(grid->TopRow(), 20);
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(grid->horizontalScrollBar()->value(), 30);
    EXPECT_EQ(grid->verticalScrollBar()->value(), 20);

    // At most so far that the last column and row are fully in view.
    grid->SetLeftCol(1000);
    const int visibleCols = grid->VisibleColCount();
    EXPECT_EQ(grid->LeftCol(), 100 - visibleCols);
    EXPECT_LE(grid->CellRect(99, 20).right(), grid->viewport()->width() - 1);
    grid->SetTopRow(-4);
    EXPECT_EQ(grid->TopRow(), 0);
    EXPECT_EQ(spy.count(), 4);

    // A smaller grid pulls the top-left back, with a notification.
    grid->SetColCount(20);
    EXPECT_EQ(grid->LeftCol(), 20 - visibleCols);
    EXPECT_EQ(spy.count(), 5);
}

TEST(TStrColGridScrollTest, TheScrollBarMovesTheGridWhileItsThumbIsDragged) {
    auto grid = MakeGrid(200, 90);
    grid->SetColCount(500);
    grid->SetOptions(grid->Options() | GridOption::ThumbTracking);
    QSignalSpy spy(grid.get(), &TStrColGrid::OnTopLeftChanged);
    QScrollBar* bar = grid->horizontalScrollBar();

    bar->setSliderDown(true);
    bar->setSliderPosition(40);
    EXPECT_EQ(grid->LeftCol(), 40);
    bar->setSliderPosition(41);
    EXPECT_EQ(grid->LeftCol(), 41);
    bar->setSliderDown(false);
    EXPECT_EQ(spy.count(), 2);

    // Without thumb tracking the grid follows only when the thumb is released.
    grid->SetOptions(grid->Options() & ~GridOptions(GridOption::ThumbTracking));
    bar->setSliderDown(true);
    bar->setSliderPosition(100);
    EXPECT_EQ(grid->LeftCol(), 41);
    bar->setSliderDown(false);
    EXPECT_EQ(grid->LeftCol(), 100);
    EXPECT_EQ(spy.count(), 3);

    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(grid->LeftCol(), 101);
    EXPECT_EQ(spy.count(), 4);
}

TEST(TStrColGridScrollTest, ArrowKeysMoveTheFocusedCellAndScrollItIntoView) {
    auto grid = MakeGrid(200, 90);
    grid->SetColCount(100);
    QSignalSpy spy(grid.get(), &TStrColGrid::OnTopLeftChanged);
    const int visible = grid->VisibleColCount();
    for (int i = 0; i < visible; ++i) {
        QTest::keyClick(grid.get(), Qt::Key_Right);
    }
    EXPECT_EQ(grid->FocusCol(), visible);
    EXPECT_EQ(grid->LeftCol(), 1);
    EXPECT_EQ(spy.count(), 1);
    QTest::keyClick(grid.get(), Qt::Key_Home);
    EXPECT_EQ(grid->FocusCol(), 0);
    EXPECT_EQ(grid->LeftCol(), 0);
}

// ---- mouse ----------------------------------------------------------------------------------

TEST(TStrColGridMouseTest, ButtonsArriveInViewportPixelsAndPickTheFocusedCell) {
    auto grid = MakeGrid();
    QSignalSpy down(grid.get(), &TStrColGrid::OnMouseDown);
    QSignalSpy up(grid.get(), &TStrColGrid::OnMouseUp);
    QTest::mouseClick(grid->viewport(), Qt::RightButton, Qt::ShiftModifier, QPoint(47, 30));
    ASSERT_EQ(down.count(), 1);
    ASSERT_EQ(up.count(), 1);
    EXPECT_EQ(down[0][0].value<Qt::MouseButton>(), Qt::RightButton);
    EXPECT_EQ(down[0][1].value<Qt::KeyboardModifiers>(), Qt::ShiftModifier);
    EXPECT_EQ(down[0][2].toInt(), 47);
    EXPECT_EQ(down[0][3].toInt(), 30);
    EXPECT_EQ(up[0][2].toInt(), 47);
    EXPECT_EQ(grid->FocusCol(), 2);
    EXPECT_EQ(grid->FocusRow(), 2);
    // A double click as the window system delivers it: two presses, no third.
    const QPoint inWindow = grid->viewport()->mapTo(grid->window(), QPoint(5, 5));
    QTest::mouseDClick(grid->windowHandle(), Qt::LeftButton, Qt::NoModifier, inWindow);
    EXPECT_EQ(down.count(), 3);
    EXPECT_EQ(up.count(), 3);
    EXPECT_EQ(down[2][2].toInt(), 5);
}

// ---- fill -----------------------------------------------------------------------------------

// A fill whose look is a function of the cell, counting the columns it is asked for.
struct CountingFill {
    std::shared_ptr<int> Columns = std::make_shared<int>(0);
    QRgb Base = 0;
    TStrColGrid::ColumnFill Fill() const {
        return [columns = Columns, base = Base](std::int32_t first, std::int32_t count, std::int32_t rows,
                                                std::span<CellLook> looks) {
            *columns += count;
            for (std::int32_t c = 0; c < count; ++c) {
                for (std::int32_t r = 0; r < rows; ++r) {
                    CellLook& look = looks[static_cast<std::size_t>(c * rows + r)];
                    look.Color = base + static_cast<QRgb>((first + c) * 100 + r);
                    look.Style = (first + c) % 2 == 0 ? Qt::SolidPattern : Qt::DiagCrossPattern;
                }
            }
        };
    }
};

TEST(TStrColGridFillTest, EveryCellReadsAsFilledButOnlyWhatIsShownIsFetched) {
    auto grid = MakeGrid();
    grid->SetColCount(129000);
    grid->SetRowCount(72);
    grid->SetDefaultColWidth(4);
    grid->SetCellColor(70000, 5, kRed);  // overwritten by the fill
    CountingFill fill;
    grid->FillCells(fill.Fill());
    (void)GrabCells(*grid);
    EXPECT_LT(*fill.Columns, 200);  // the columns in view, not 129 000

    for (const int col : {0, 1, 64999, 70000, 128999}) {
        for (const int row : {0, 5, 71}) {
            EXPECT_TRUE(grid->CellHasRecord(col, row));
            EXPECT_EQ(grid->CellColor(col, row).rgba(), static_cast<QRgb>(col * 100 + row)) << col;
            EXPECT_EQ(grid->CellStyle(col, row), col % 2 == 0 ? Qt::SolidPattern : Qt::DiagCrossPattern);
        }
    }
    EXPECT_LT(*fill.Columns, 400);

    // With a fixed column in view, the hidden columns between it and the view are not fetched.
    CountingFill fixedFill;
    grid->SetFixedCols(1);
    grid->SetLeftCol(100000);
    grid->FillCells(fixedFill.Fill());
    (void)GrabCells(*grid);
    EXPECT_LT(*fixedFill.Columns, 200);
    grid->SetFixedCols(0);

    // Writes after the fill win; a new fill replaces them and the old fill everywhere.
    grid->SetCellColor(64999, 0, kRed);
    EXPECT_EQ(grid->CellColor(64999, 0), kRed);
    CountingFill second;
    second.Base = 7;
    grid->FillCells(second.Fill());
    EXPECT_EQ(grid->CellColor(64999, 0).rgba(), static_cast<QRgb>(64999 * 100 + 7));
    EXPECT_EQ(grid->CellColor(1, 5).rgba(), static_cast<QRgb>(100 + 5 + 7));
}

TEST(TStrColGridFillTest, ARecordMadeBeforeTheFillKeepsItsBackground) {
    auto grid = MakeGrid();
    grid->SetDefaultColWidth(30);
    grid->SetDefaultRowHeight(30);
    grid->SetColor(kRed);
    grid->SetCellMarked(1, 0, false);  // background red
    grid->SetColor(kBlue);
    grid->FillCells([](std::int32_t, std::int32_t count, std::int32_t rows, std::span<CellLook> looks) {
        for (std::int32_t i = 0; i < count * rows; ++i) {
            looks[static_cast<std::size_t>(i)] = CellLook{kYellow.rgb(), Qt::DiagCrossPattern};
        }
    });
    const QImage image = GrabCells(*grid);
    const auto kept = ColoursIn(image, grid->CellRect(1, 0));
    EXPECT_TRUE(kept.count(kRed.rgb()) == 1 && kept.count(kYellow.rgb()) == 1 && kept.size() == 2);
    const auto fresh = ColoursIn(image, grid->CellRect(2, 0));
    EXPECT_TRUE(fresh.count(kBlue.rgb()) == 1 && fresh.count(kYellow.rgb()) == 1 && fresh.size() == 2);
}

TEST(TStrColGridFillTest, AFailingFillIsReportedByTheAccessAndNotByThePainting) {
    auto grid = MakeGrid();
    bool fail = true;
    grid->FillCells([&fail](std::int32_t, std::int32_t count, std::int32_t rows, std::span<CellLook> looks) {
        if (fail) {
            throw std::runtime_error("grid file gone");
        }
        for (std::int32_t i = 0; i < count * rows; ++i) {
            looks[static_cast<std::size_t>(i)] = CellLook{kYellow.rgb(), Qt::SolidPattern};
        }
    });
    EXPECT_NO_THROW((void)GrabCells(*grid));
    EXPECT_THROW((void)grid->CellColor(3, 3), std::runtime_error);
    fail = false;
    EXPECT_EQ(grid->CellColor(3, 3), kYellow);
}

}  // namespace
}  // namespace ruvo
