// The bar and beat lines: which pixels of a view get a line (tempo changes, zoom, 3/4, the
// view's edges), and the lines the note grid really paints where its columns stand.
#include "panes/BeatLinePainter.h"
#include "panes/NoteGridPane.h"
#include "panes/StrCGrid.h"

#include "engine/Units.h"

#include <QImage>

#include <gtest/gtest.h>

#include <vector>

using namespace ruvo;

namespace {

// Beats given at whole frames keep the expected pixels readable; 'B' a bar, 'b' a beat.
std::vector<BeatLine> Beats(const std::vector<std::pair<double, char>>& frames) {
    std::vector<BeatLine> lines;
    for (const auto& [frame, kind] : frames) {
        lines.push_back({FramesToSeconds(1) * frame, kind == 'B'});
    }
    return lines;
}

struct BeatCase {
    const char* Name;
    std::vector<std::pair<double, char>> Frames;
    BeatView View;
    std::vector<BeatPixel> Expected;
};

class BeatLinesTest : public ::testing::TestWithParam<BeatCase> {};

TEST_P(BeatLinesTest, PixelsOfTheView) {
    const BeatCase& c = GetParam();
    EXPECT_EQ(BeatPixels(Beats(c.Frames), c.View), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Views, BeatLinesTest,
    ::testing::Values(
        // The note grid's columns of 4 pixels and their line: 5 pixels a frame, scrolled to 100.
        BeatCase{"FourFourScrolled",
                 {{90, 'b'}, {100, 'B'}, {110, 'b'}, {120, 'b'}, {130, 'b'}, {140, 'B'}, {150, 'b'}},
                 {100, 0, 5, 220},
                 {{0, true}, {50, false}, {100, false}, {150, false}, {200, true}}},
        // Slow beats 7.5 pixels apart, then faster ones 3 apart: the fast ones give way to
        // their bar, and so does the slow beat next to them.
        BeatCase{"TempoChangeZoomedOut",
                 {{0, 'B'}, {10, 'b'}, {20, 'b'}, {30, 'b'}, {34, 'B'}, {38, 'b'}, {42, 'b'}, {46, 'b'}, {50, 'B'}},
                 {0, 0, 0.75, 200},
                 {{0, true}, {8, false}, {15, false}, {26, true}, {38, true}}},
        // On the grid a line stands on the grid line before the nearest column.
        BeatCase{"SnappedToColumns",
                 {{0.2, 'B'}, {10.4, 'b'}, {20.6, 'b'}},
                 {0, -1, 5, 200, true},
                 {{0, true}, {49, false}, {104, false}}},
        BeatCase{"ThreeFour",
                 {{0, 'B'}, {8, 'b'}, {16, 'b'}, {24, 'B'}, {32, 'b'}, {40, 'b'}, {48, 'B'}},
                 {0, 0, 1, 50},
                 {{0, true}, {8, false}, {16, false}, {24, true}, {32, false}, {40, false}, {48, true}}},
        // A whole recording over a short scale: bars only, two of them on one pixel.
        BeatCase{"FarOutBarsOnly",
                 {{0, 'B'}, {8, 'b'}, {16, 'b'}, {24, 'B'}, {32, 'b'}, {40, 'b'}, {48, 'B'}, {49, 'B'}},
                 {0, 0, 0.25, 50},
                 {{0, true}, {6, true}, {12, true}}},
        // The time scale's view starts at frame 10 and spans 40 pixels; lines past either
        // edge are left out.
        BeatCase{
            "EdgesOfTheView", {{5, 'B'}, {10, 'b'}, {29, 'b'}, {35, 'B'}}, {10, 0, 2, 40}, {{0, false}, {38, false}}}),
    [](const ::testing::TestParamInfo<BeatCase>& row) { return std::string(row.param.Name); });

// The grid calls the painter after its cells: a bar at frame 102 with column 100 leftmost
// covers the grid line before column 102 (pixel 2 x (4 + 1) - 1) and that column's first
// pixel; the "Beat lines" item takes it away.
TEST_F(BeatLinesTest, NoteGridPaintsTheBarWhereItsFrameIs) {
    TStrColGrid grid;
    SetUpNoteGrid(grid);
    grid.SetColCount(400);
    grid.SetDefaultColWidth(4);
    grid.resize(300, 120);
    grid.SetLeftCol(100);
    BeatLinePainter lines;
    lines.SetSource([](double from, double to) {
        std::vector<BeatLine> found;
        if (from <= FramesToSeconds(102) && FramesToSeconds(102) <= to) {
            found.push_back({FramesToSeconds(102), true});
        }
        return found;
    });
    grid.SetOverlay([&](QPainter& painter, const QRect& area) { lines.PaintGrid(painter, grid, area); });

    const auto cyanAt = [&grid](int x) {
        const QImage image = grid.viewport()->grab().toImage();
        return image.pixelColor(x, 30) == QColor(0, 255, 255);
    };
    EXPECT_TRUE(cyanAt(9));
    EXPECT_TRUE(cyanAt(10)) << "bars are two pixels wide";
    EXPECT_FALSE(cyanAt(14));
    lines.SetShown(false);
    EXPECT_FALSE(cyanAt(9));
}

}  // namespace
