// The scales, the legend and the zoom arithmetic: the zoom sequences, the ticks of the time
// and level scales and the legend's swatches.
#include "panes/Scales.h"
#include "panes/TimeLabels.h"
#include "panes/PlayheadPosition.h"
#include "panes/WaveformPane.h"
#include "engine/WavHead.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace ruvo;

namespace {

std::vector<std::int32_t> Sequence(std::int32_t start, const std::function<std::int32_t(std::int32_t)>& step,
                                   int count) {
    std::vector<std::int32_t> values{start};
    for (int i = 0; i < count; ++i) {
        values.push_back(step(values.back()));
    }
    return values;
}

TEST(ZoomTest, SequencesOfTheFourButtons) {
    EXPECT_EQ(Sequence(100, ShorterTimeSpan, 12),
              (std::vector<std::int32_t>{100, 71, 51, 36, 26, 19, 14, 10, 7, 5, 4, 3, 3}));
    const auto longer = [](std::int32_t v) { return LongerTimeSpan(v, 1000); };
    EXPECT_EQ(Sequence(3, longer, 11), (std::vector<std::int32_t>{3, 4, 6, 8, 11, 15, 21, 29, 41, 57, 80, 112}));
    EXPECT_EQ(LongerTimeSpan(1, 1000), 1) << "a view of one frame never grows";
    EXPECT_EQ(LongerTimeSpan(200, 215), 215) << "never past the recording";
    EXPECT_EQ(LongerTimeSpan(215, 215), 215);

    EXPECT_EQ(Sequence(12, ShorterRows, 7), (std::vector<std::int32_t>{12, 9, 6, 4, 3, 2, 1, 1}));
    const auto taller = [](std::int32_t h) { return LongerRows(h, 1000); };
    EXPECT_EQ(Sequence(12, taller, 8), (std::vector<std::int32_t>{12, 18, 28, 42, 64, 96, 144, 216, 324}));
    // Each step is allowed while the grid is at least as high as the rows are now.
    EXPECT_EQ(LongerRows(216, 217), 324);
    EXPECT_EQ(LongerRows(324, 217), 324);
}

// The seconds along a 457-pixel time scale: the finest step that keeps labels 44 pixels apart,
// each at the pixel of its second (a frame is 1024 / 22050 s).
TEST(ScalesTest, TimeScaleSecondsFollowTheView) {
    const struct {
        std::int32_t Start, Width;
        std::vector<std::pair<int, std::string>> First;  // the first labels, x and text
        std::size_t Count;
    } cases[] = {
        {0, 200, {{0, "0 s"}, {49, "1 s"}, {98, "2 s"}}, 10},       // 9.29 s: 49 px a second
        {0, 20, {{0, "0 s"}, {246, "0.5 s"}}, 2},                 // 0.93 s: half seconds
        {1300, 200, {{31, "1:01"}, {80, "1:02"}}, 9},             // from 60.37 s
        {0, 2000, {{0, "0 s"}, {49, "10 s"}}, 10},                // 92.9 s: every 10 s
    };
    for (const auto& c : cases) {
        const std::vector<TimeLabel> labels = SecondLabels(c.Start, c.Width, 457);
        ASSERT_EQ(labels.size(), c.Count) << c.Start << "+" << c.Width;
        for (std::size_t i = 0; i < c.First.size(); ++i) {
            EXPECT_EQ(labels[i].X, c.First[i].first) << c.Width << " #" << i;
            EXPECT_EQ(labels[i].Text, c.First[i].second) << c.Width << " #" << i;
        }
    }
    EXPECT_TRUE(SecondLabels(0, 0, 457).empty());
}

// The playhead's frame from the seconds heard, and its waveform pixel, which a click there
// turns back into the same frame.
TEST(ScalesTest, PlayheadStandsAtTheFrameHeard) {
    EXPECT_DOUBLE_EQ(HeardFrame(10, 0.0), 10.0);
    EXPECT_NEAR(HeardFrame(10, 1024.0 / 22050.0 * 5.5), 15.5, 1e-9);
    WavHead doc;
    doc.ViewStart = 40;
    doc.ViewWidth = 100;
    doc.FrameCount = 500;
    for (const double frame : {40.0, 41.0, 77.0, 139.0}) {
        const int x = WaveformX(doc, frame, 457);
        EXPECT_EQ(WaveformFrameAt(doc, x, 457), static_cast<int>(frame)) << frame;
    }
    EXPECT_LT(WaveformX(doc, 20.0, 457), 0) << "before the view";
    EXPECT_GE(WaveformX(doc, 200.0, 457), 457) << "after it";
}

TEST(ScalesTest, TimeScaleHasATickPerFrameAndAFullOneEveryFifth) {
    const int w = 457;
    const int h = 13;
    const std::vector<QLine> lines = TimeScaleLines(w, h, 100);
    ASSERT_EQ(lines.size(), 102u) << "the base line and 101 ticks";
    EXPECT_EQ(lines[0], QLine(0, h - 1, w - 1, h - 1));
    EXPECT_EQ(lines[1], QLine(0, h - 1, 0, 0));
    EXPECT_EQ(lines[2], QLine(5, h - 1, 5, 6)) << "Round(457 / 100) = 5, up to Round(6.5) = 6";
    EXPECT_EQ(lines[6], QLine(23, h - 1, 23, 0)) << "frame 5: Round(22.85), full height";
    EXPECT_EQ(lines.back(), QLine(w - 1, h - 1, w - 1, 0)) << "the last one at W - 1";
}

TEST(ScalesTest, LevelScalesAndTheirMirror) {
    const std::vector<QLine> left = LevelScaleLines(17, 95, false);
    ASSERT_EQ(left.size(), 12u);
    EXPECT_EQ(left[0], QLine(0, 0, 0, 94));
    EXPECT_EQ(left[1], QLine(0, 0, 16, 0));
    EXPECT_EQ(left[2], QLine(0, 10, 8, 10)) << "Round(9.5) = 10, out to Round(8.5) = 8";
    EXPECT_EQ(left[6], QLine(0, 48, 16, 48)) << "Round(47.5) = 48, the middle";
    EXPECT_EQ(left[11], QLine(0, 94, 16, 94)) << "the bottom one limited to H - 1";
    const std::vector<QLine> right = LevelScaleLines(17, 95, true);
    EXPECT_EQ(right[0], QLine(16, 0, 16, 94));
    EXPECT_EQ(right[2], QLine(16, 10, 8, 10));
    EXPECT_EQ(right[11], QLine(16, 94, 0, 94));
}

TEST(ScalesTest, LegendHasNineSwatchesAndLeavesTheLastTenth) {
    const std::vector<Swatch> swatches = GradationSwatches(425, 12);
    ASSERT_EQ(swatches.size(), 9u);
    EXPECT_EQ(swatches[0].Color, QColor(0, 0, 0));
    EXPECT_EQ(swatches[1].Color, QColor(0, 0, 255));
    EXPECT_EQ(swatches[7].Color, QColor(255, 255, 0));
    EXPECT_EQ(swatches[8].Color, QColor(255, 255, 255));
    EXPECT_EQ(swatches[0].Rect, QRect(0, 0, 42, 12)) << "0 to Round(42.5) = 42";
    EXPECT_EQ(swatches[1].Rect.left(), 42) << "Round(42.5) = 42";
    EXPECT_EQ(swatches[8].Rect.right() + 1, 382) << "Round(382.5) = 382; the rest stays empty";
    for (std::size_t i = 1; i < swatches.size(); ++i) {
        EXPECT_EQ(swatches[i].Rect.left(), swatches[i - 1].Rect.right() + 1) << "no gap before swatch " << i;
    }
}

}  // namespace
