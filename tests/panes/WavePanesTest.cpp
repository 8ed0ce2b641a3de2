// The waveform and the overview strip: the samples each pixel column covers, the scales, the
// selection and view spans, clicks, and documents of one frame or none.

#include "panes/SelectionPane.h"
#include "panes/ViewSpan.h"
#include "panes/WaveformPane.h"
#include "panes/WaveSummaryTask.h"

#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/TempDir.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

namespace ruvo {
namespace {

using testsupport::TempDir;
using testsupport::WriteDoubles;

constexpr std::int32_t kSamples = 1024;

// A document whose normalised sample file holds `samples`.
WavHead SampleDoc(const TempDir& dir, const std::vector<double>& samples, std::int32_t bits = 16) {
    WavHead doc;
    doc.NormFileName = dir.File("nor1.tmp");
    WriteDoubles(doc.NormFileName, samples);
    doc.FrameCount = static_cast<std::int32_t>(samples.size() / kSamples);
    doc.BitsPerSample = bits;
    doc.ViewStart = 0;
    doc.ViewWidth = std::min(doc.FrameCount, 100);
    doc.SelStart = 0;
    doc.SelEnd = doc.FrameCount;
    return doc;
}

// Sample i has the value i (rounded to an integer when read), so a column's minimum and
// maximum are the first and last sample it covers.
std::vector<double> Ramp(std::int32_t frames) {
    std::vector<double> samples(static_cast<std::size_t>(frames) * kSamples);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<double>(i) + 0.25;
    }
    return samples;
}

TEST(WaveformTest, ColumnsCoverTheSamplesBeforeTheirRightEdge) {
    TempDir dir;
    WavHead doc = SampleDoc(dir, Ramp(130));
    for (const std::int32_t viewStart : {0, 7, 30}) {
        doc.ViewStart = viewStart;
        const std::vector<WaveColumn> columns = WaveColumns(doc, 457);
        ASSERT_EQ(columns.size(), 457u);
        EXPECT_FALSE(columns[0].Drawn);
        for (std::int32_t x = 1; x < 457; ++x) {
            // Column x covers samples floor((x - 1) * 102400 / 457) .. floor(x * 102400 / 457) - 1,
            // about 224 of them, counted from the first visible frame.
            const std::int64_t first = std::int64_t{viewStart} * 1024 + std::int64_t{x - 1} * 102400 / 457;
            const std::int64_t last = std::int64_t{viewStart} * 1024 + std::int64_t{x} * 102400 / 457 - 1;
            ASSERT_TRUE(columns[static_cast<std::size_t>(x)].Drawn);
            ASSERT_EQ(columns[static_cast<std::size_t>(x)].Min, first) << x;
            ASSERT_EQ(columns[static_cast<std::size_t>(x)].Max, last) << x;
        }
    }
}

// Many frames per column: the frames' summary and the columns' edges give exactly the columns
// that reading every sample gives, wherever the columns' edges fall.
TEST(WaveformTest, SummaryGivesTheSameColumnsAsEverySample) {
    TempDir dir;
    std::vector<double> samples(300 * kSamples);
    std::uint32_t seed = 12345;
    for (double& sample : samples) {
        seed = seed * 1664525u + 1013904223u;
        sample = static_cast<double>(seed >> 16) - 32768.0 + 0.5;  // halves: rounding to even matters
    }
    WavHead doc = SampleDoc(dir, samples);
    const WaveSummary summary = WaveSummary::Build(doc);
    for (const auto& [viewStart, viewWidth, width] :
         {std::tuple{0, 300, 57}, std::tuple{13, 250, 61}, std::tuple{1, 299, 17}, std::tuple{200, 100, 20}}) {
        doc.ViewStart = viewStart;
        doc.ViewWidth = viewWidth;
        ASSERT_TRUE(WaveNeedsSummary(doc, width));
        const std::vector<WaveColumn> direct = WaveColumns(doc, width);
        const std::vector<WaveColumn> summed = WaveColumns(doc, width, &summary);
        ASSERT_EQ(direct.size(), summed.size());
        for (std::size_t x = 0; x < direct.size(); ++x) {
            ASSERT_EQ(direct[x].Drawn, summed[x].Drawn) << x;
            ASSERT_EQ(direct[x].Min, summed[x].Min) << viewStart << " " << x;
            ASSERT_EQ(direct[x].Max, summed[x].Max) << viewStart << " " << x;
        }
    }
    doc.ViewWidth = 100;
    EXPECT_FALSE(WaveNeedsSummary(doc, 457));
}

// The summary built in the background is the one built in place; each document gets its own;
// a file that cannot be read fails once, without new builds.
TEST(WaveformTest, SummaryBuiltInTheBackgroundFollowsTheDocument) {
    TempDir dir;
    WavHead first = SampleDoc(dir, Ramp(40));
    WavHead second = first;
    second.NormFileName = dir.File("nor2.tmp");
    WriteDoubles(second.NormFileName, std::vector<double>(20 * kSamples, -3.0));
    second.FrameCount = 20;
    WavHead missing = first;
    missing.NormFileName = dir.File("none.tmp");

    WaveSummaryTask task;
    for (const WavHead* doc : {&first, &second, &first}) {
        EXPECT_EQ(task.For(*doc), nullptr) << "a paint never waits for the build";
        if (doc == &second) {
            EXPECT_NE(task.For(first), nullptr) << "the last summary serves its document meanwhile";
        }
        task.Wait();
        const WaveSummary* built = task.For(*doc);
        ASSERT_NE(built, nullptr);
        const WaveSummary direct = WaveSummary::Build(*doc);
        EXPECT_EQ(built->Min, direct.Min);
        EXPECT_EQ(built->Max, direct.Max);
        EXPECT_TRUE(built->Describes(*doc));
    }
    EXPECT_EQ(task.For(missing), nullptr);
    task.Wait();
    EXPECT_TRUE(task.Failed(missing));
    EXPECT_EQ(task.For(missing), nullptr);
    EXPECT_TRUE(task.Failed(missing));
}

TEST(WaveformTest, ScalesOfEightAndSixteenBitSources) {
    EXPECT_EQ(WaveY(0, 94, 8), 47);
    EXPECT_EQ(WaveY(127, 94, 8), 47 + 47);   // Round(94 * 127 / 256) = 47: the bottom edge
    EXPECT_EQ(WaveY(-128, 94, 8), 47 - 47);  // the top edge
    EXPECT_EQ(WaveY(32767, 94, 16), 94);
    EXPECT_EQ(WaveY(-32768, 94, 16), 0);
}

TEST(WaveformTest, PictureShowsSelectionAndSilenceAsSinglePixels) {
    TempDir dir;
    WavHead doc = SampleDoc(dir, std::vector<double>(100 * kSamples, 0.0), 8);
    doc.SelStart = 20;
    doc.SelEnd = 60;
    QImage image(457, 94, QImage::Format_RGB32);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        PaintWaveform(painter, doc, 457, 94);
    }
    // Purple from Round(20 / 99 * 457) = 92 to Round(60 / 99 * 457) = 277 (exclusive).
    EXPECT_EQ(image.pixel(91, 10), qRgb(0, 0, 128));
    EXPECT_EQ(image.pixel(92, 10), qRgb(128, 0, 128));
    EXPECT_EQ(image.pixel(276, 10), qRgb(128, 0, 128));
    EXPECT_EQ(image.pixel(277, 10), qRgb(0, 0, 128));
    // Silence: one yellow pixel per column on the centre line, none above or below it.
    EXPECT_EQ(image.pixel(0, 47), qRgb(0, 0, 128));
    for (const int x : {1, 100, 456}) {
        EXPECT_EQ(image.pixel(x, 47), qRgb(255, 255, 0)) << x;
        EXPECT_NE(image.pixel(x, 46), qRgb(255, 255, 0)) << x;
        EXPECT_NE(image.pixel(x, 48), qRgb(255, 255, 0)) << x;
    }
}

TEST(WaveformTest, ClicksPickFramesAndOneFrameViewsNeverDivideByZero) {
    WavHead doc;
    doc.FrameCount = 250;
    doc.ViewStart = 40;
    doc.ViewWidth = 100;
    EXPECT_EQ(WaveformFrameAt(doc, 0, 457), 40);
    EXPECT_EQ(WaveformFrameAt(doc, 457, 457), 139);
    EXPECT_EQ(WaveformFrameAt(doc, 230, 457), 40 + 50);  // Round(230 / (457 / 99)) = 50

    doc.FrameCount = 1;
    doc.ViewStart = 0;
    doc.ViewWidth = 1;
    EXPECT_EQ(WaveformFrameAt(doc, 300, 457), 0);
    doc.SelStart = 0;
    doc.SelEnd = 1;
    EXPECT_EQ(SelectionSpan(doc, 0.0, 0.0, 1.0, 0.0, 457), (PixelSpan{0, 457}));
    doc.SelStart = 1;
    EXPECT_TRUE(SelectionSpan(doc, 1.0, 0.0, 1.0, 0.0, 457).Empty());
}

TEST(WaveformTest, OneFrameDocumentPaints) {
    TempDir dir;
    WavHead doc = SampleDoc(dir, std::vector<double>(kSamples, 3000.0));
    QImage image(457, 94, QImage::Format_RGB32);
    QPainter painter(&image);
    PaintWaveform(painter, doc, 457, 94);
    painter.end();
    EXPECT_EQ(image.pixel(10, 0), qRgb(128, 0, 128));  // the one frame is selected: all purple
    EXPECT_EQ(image.pixel(10, WaveY(3000, 94, 16)), qRgb(255, 255, 0));
}

TEST(OverviewTest, SelectionMarkerAndClicks) {
    WavHead doc;
    doc.FrameCount = 250;
    doc.ViewStart = 0;
    doc.ViewWidth = 100;
    doc.SelStart = 10;
    doc.SelEnd = 20;
    // s = 537 / 249.
    EXPECT_EQ(OverviewSelection(doc, 537), (PixelSpan{22, 43}));
    EXPECT_EQ(OverviewViewMarker(doc, 537), (PixelSpan{0, 216}));
    doc.ViewStart = 150;
    EXPECT_EQ(OverviewViewMarker(doc, 537).Right, 535);  // stops at W - 2
    EXPECT_EQ(OverviewFrameAt(doc, 536, 537), 249);      // the right end: FrameCount - 1
    EXPECT_EQ(OverviewFrameAt(doc, 0, 537), 0);

    WavHead one;
    one.FrameCount = 1;
    EXPECT_EQ(OverviewFrameAt(one, 300, 537), 0);
    WavHead none;
    EXPECT_EQ(OverviewFrameAt(none, 300, 537), 0);
}

}  // namespace
}  // namespace ruvo
