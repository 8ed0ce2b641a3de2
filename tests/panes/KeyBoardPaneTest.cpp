#include "panes/KeyBoardPane.h"

#include "platform/fake/FakeMidiOut.h"

#include <QImage>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace ruvo {
namespace {

using namespace KeyBoardLogic;

TEST(KeyBoardLogicTest, RowsAreKeysColoursAndLabels) {
    struct Row {
        std::int32_t row;
        std::int32_t key;
        bool black;
        const char* label;
    };
    const Row rows[] = {
        {0, 104, true, ""},   {2, 102, true, ""},   {5, 99, true, ""},  {7, 97, true, ""},
        {10, 94, true, ""},   {1, 103, false, ""},  {8, 96, false, "C7"}, {20, 84, false, "C6"},
        {44, 60, false, "C4"}, {68, 36, false, "C2"}, {71, 33, false, ""},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(RowToKey(r.row), r.key) << r.row;
        EXPECT_EQ(IsBlackKey(r.row), r.black) << r.row;
        EXPECT_EQ(KeyLabel(r.row).toStdString(), r.label) << r.row;
    }
}

class KeyBoardTest : public ::testing::Test {
protected:
    KeyBoardTest() {
        keys.setGeometry(0, 0, 57, 201);
        keys.SetMidiOut(&midi);
        keys.show();
    }
    // Viewport y of the middle of a row, for the keyboard at its top row.
    int RowY(std::int32_t row) const { return keys.CellRect(0, row).center().y(); }

    FakeMidiOut midi;
    TKeyBoard keys;
};

TEST_F(KeyBoardTest, PressAndReleaseSendExactlyTheFluteNoteOnChannelOne) {
    keys.SetTopRow(40);
    QTest::mousePress(keys.viewport(), Qt::LeftButton, {}, QPoint(20, RowY(44)));
    QTest::mouseRelease(keys.viewport(), Qt::LeftButton, {}, QPoint(20, RowY(44)));
    const std::vector<std::string> expected = {"open", "reset", "msg 0x0049c0", "msg 0x7f3c90", "msg 0x7f3c80",
                                               "close"};
    EXPECT_EQ(midi.Calls, expected);
    EXPECT_EQ(keys.KeyNote(), 60);
    EXPECT_FALSE(keys.KeyHeld());
}

TEST_F(KeyBoardTest, FailedOpenShowsItsTextAndLeavesNoNoteSounding) {
    QSignalSpy errors(&keys, &TKeyBoard::OnMidiError);
    midi.OpenResult = kMidiNoDevice;
    QTest::mousePress(keys.viewport(), Qt::LeftButton, {}, QPoint(20, RowY(3)));
    QTest::mouseRelease(keys.viewport(), Qt::LeftButton, {}, QPoint(20, RowY(3)));
    ASSERT_EQ(errors.count(), 1);
    EXPECT_EQ(errors.at(0).at(0).toString(), QStringLiteral("No Midi Device"));
    EXPECT_EQ(midi.Calls, std::vector<std::string>{"open"});

    // A second button pressed on a held key opens nothing and shows nothing; a release ends it.
    midi.Calls.clear();
    midi.OpenResult = kMidiOpenOk;
    QTest::mousePress(keys.viewport(), Qt::LeftButton, {}, QPoint(20, RowY(3)));
    midi.OpenResult = kMidiAllocated;
    keys.KeyBoardMouseDown(20, RowY(4));
    EXPECT_EQ(errors.count(), 1);
    QTest::mouseRelease(keys.viewport(), Qt::RightButton, {}, QPoint(20, RowY(4)));
    EXPECT_EQ(midi.Calls.back(), "close");
    EXPECT_EQ(midi.Messages.back(), NoteOffMsg(101));
    EXPECT_FALSE(keys.KeyHeld());
    EXPECT_EQ(std::string(MidiOpenErrorText(kMidiNoMap)), "NoMap");
    EXPECT_EQ(std::string(MidiOpenErrorText(12)), "Midi Open Error");
}

TEST_F(KeyBoardTest, RowsFollowTheGridAndCKeysAreYellowWithLabels) {
    QSignalSpy hover(&keys, &TKeyBoard::OnRowHover);
    keys.SetDefaultRowHeight(16);
    keys.SetTopRow(40);
    QTest::mouseMove(keys.viewport(), QPoint(20, 16 + 1 + 4));  // second visible row
    ASSERT_GE(hover.count(), 1);
    EXPECT_EQ(hover.last().at(0).toInt(), 41);

    const QImage image = keys.grab().toImage();
    const QRect c4 = keys.CellRect(0, 44).translated(keys.viewport()->pos());
    EXPECT_EQ(image.pixelColor(c4.left() + 2, c4.center().y()), QColor(255, 255, 0));
    const QRect black = keys.CellRect(0, 42).translated(keys.viewport()->pos());  // key 62 is D: white
    EXPECT_EQ(image.pixelColor(black.left() + 2, black.center().y()), QColor(Qt::white));
    const QRect sharp = keys.CellRect(0, 43).translated(keys.viewport()->pos());  // key 61, C#
    EXPECT_EQ(image.pixelColor(sharp.left() + 2, sharp.center().y()), QColor(Qt::black));
    // The label: some dark pixels in the right two thirds of the yellow key.
    int dark = 0;
    for (int x = c4.left() + c4.width() / 3; x <= c4.right(); ++x) {
        for (int y = c4.top(); y <= c4.bottom(); ++y) {
            dark += image.pixelColor(x, y).lightness() < 100 ? 1 : 0;
        }
    }
    EXPECT_GT(dark, 5);
}

}  // namespace
}  // namespace ruvo
