#include "panes/NoteGridEditor.h"

#include <gtest/gtest.h>

namespace ruvo {
namespace {

TEST(NoteGridEditorTest, DragZonesOfLongNotesAndTheEndTestWinning) {
    struct Case {
        int X, Left, Right;
        bool OneFrame;
        DragMode Mode;
    } const cases[] = {
        // A note of 50 pixels: the outer tenths (Round(0.2 x 50) = 10) at either end.
        {100, 100, 150, false, DragMode::dmShift},
        {110, 100, 150, false, DragMode::dmShift},
        {111, 100, 150, false, DragMode::dmPitch},
        {139, 100, 150, false, DragMode::dmPitch},
        {140, 100, 150, false, DragMode::dmLength},
        {150, 100, 150, false, DragMode::dmLength},
        {151, 100, 150, false, DragMode::dmPitch},
        // A one-frame note 2 pixels wide: both zones cover its middle; the end wins.
        {201, 200, 202, true, DragMode::dmLength},
        {200, 200, 202, true, DragMode::dmShift},
        // A cell scrolled out of view reports an empty rectangle at the origin.
        {0, 0, 0, true, DragMode::dmLength},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseDragMode(c.X, c.Left, c.Right, c.OneFrame), c.Mode)
            << c.X << " in " << c.Left << ".." << c.Right;
    }
}

TEST(NoteGridEditorTest, RunsAndDrops) {
    const auto note = [](std::int32_t col) { return col >= 3 && col <= 8; };
    EXPECT_EQ(FindRun(5, 100, note).Start, 3);
    EXPECT_EQ(FindRun(5, 100, note).End, 8);
    EXPECT_EQ(FindRun(5, 7, note).End, 6);  // the walk right stops below the limit
    const auto all = [](std::int32_t) { return true; };
    EXPECT_EQ(FindRun(5, 10, all).Start, 0);

    NoteDrag drag;
    drag.Mode = DragMode::dmLength;
    drag.OrigRow = 4;
    drag.OrigStart = 5;
    drag.OrigEnd = 10;
    drag.CurEnd = 10;
    EXPECT_FALSE(DropEdit(drag).has_value());
    drag.CurEnd = 2;  // before the start: the note keeps its first frame, the row nothing else
    EXPECT_EQ(DropEdit(drag), NoteEdit::SetRun(6, 10, 4, 0.0));
}

}  // namespace
}  // namespace ruvo
