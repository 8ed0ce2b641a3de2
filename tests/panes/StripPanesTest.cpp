// The threshold and harmonic strips: their scale, spans and pictures, and documents of one
// frame.

#include "panes/HarmonicPane.h"
#include "panes/ThresholdPane.h"

#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/TempDir.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace ruvo {
namespace {

using testsupport::TempDir;
using testsupport::WriteDoubles;

WavHead View(std::int32_t viewStart, std::int32_t viewWidth, std::int32_t selStart, std::int32_t selEnd) {
    WavHead doc;
    doc.FrameCount = 250;
    doc.ViewStart = viewStart;
    doc.ViewWidth = viewWidth;
    doc.SelStart = selStart;
    doc.SelEnd = selEnd;
    doc.PeakNoteValue = 3.0;
    return doc;
}

TEST(ThresholdStripTest, ScaleEndsAtThePeakAndAtZero) {
    EXPECT_EQ(ThresholdY(3.0, 38, 3.0), 0);
    EXPECT_EQ(ThresholdY(0.000001, 38, 3.0), 38);
    EXPECT_EQ(ThresholdY(1.5, 38, 3.0), 19);
    EXPECT_EQ(ThresholdMargin(38, 38, 3.0), 0.000001);
    EXPECT_NEAR(ThresholdMargin(0, 38, 3.0), 3.0, 1e-15);
    EXPECT_GT(ThresholdMargin(-19, 38, 3.0), 3.0);  // above the strip: over the peak
    EXPECT_LT(ThresholdMargin(57, 38, 3.0), 0.0);   // below it: negative
    EXPECT_EQ(ThresholdMargin(10, 0, 3.0), 3.0);    // a strip without height divides by nothing
}

TEST(ThresholdStripTest, PressAndPaintSpansUseTheirOwnDivisors) {
    const WavHead doc = View(0, 100, 10, 20);
    EXPECT_EQ(ThresholdPaintSpan(doc, 455), (PixelSpan{46, 96}));  // 10 / 99, 21 / 100 of 455
    EXPECT_EQ(ThresholdPressSpan(doc, 455), (PixelSpan{46, 91}));  // 10 / 100 (45.5 to even), 20 / 100
    EXPECT_EQ(HarmonicSelectionSpan(doc, 455), (PixelSpan{46, 92}));
    EXPECT_TRUE(HarmonicSelectionSpan(View(0, 100, 20, 10), 455).Empty());
    // One visible frame: the whole width when it is selected, nothing otherwise.
    EXPECT_EQ(ThresholdPaintSpan(View(0, 1, 0, 1), 455), (PixelSpan{0, 455}));
    EXPECT_EQ(HarmonicSelectionSpan(View(0, 1, 0, 1), 455), (PixelSpan{0, 455}));
    EXPECT_TRUE(HarmonicSelectionSpan(View(0, 1, 1, 1), 455).Empty());
}

TEST(ThresholdStripTest, PictureDrawsEachVisibleFramesMargin) {
    TempDir dir;
    WavHead doc = View(2, 4, 0, 0);
    doc.SelStart = 100;  // nothing of the selection in view
    doc.SelEnd = 120;
    doc.ThresholdFileName = dir.File("thr1.tmp");
    WriteDoubles(doc.ThresholdFileName, std::vector<double>{9.0, 9.0, 3.0, 1.5, 0.000001, 2.0, 9.0});
    QImage image(100, 38, QImage::Format_RGB32);
    QPainter painter(&image);
    PaintThreshold(painter, doc, 100, 38);
    painter.end();
    EXPECT_EQ(image.pixel(10, 0), qRgb(255, 255, 255));   // frame 2 at the peak
    EXPECT_EQ(image.pixel(30, 19), qRgb(255, 255, 255));  // frame 3 at half
    EXPECT_EQ(image.pixel(30, 20), qRgb(128, 0, 0));
    EXPECT_EQ(image.pixel(80, ThresholdY(2.0, 38, 3.0)), qRgb(255, 255, 255));  // frame 5
}

TEST(HarmonicStripTest, RedOnlyWhereTheValueIsExactlyOne) {
    TempDir dir;
    WavHead doc = View(0, 10, 2, 3);
    doc.HarmonicFileName = dir.File("bai1.tmp");
    WriteDoubles(doc.HarmonicFileName, std::vector<double>{0, 0, 0, 0, 0, 1.0, 0.999, 1.0, 0, 0});
    QImage image(100, 15, QImage::Format_RGB32);
    QPainter painter(&image);
    PaintHarmonics(painter, doc, 100, 15);
    painter.end();
    EXPECT_EQ(image.pixel(5, 7), qRgb(0, 0, 128));
    EXPECT_EQ(image.pixel(25, 7), qRgb(255, 255, 255));  // selected: Round(2 / 9 x 100) .. Round(3 / 9 x 100)
    EXPECT_EQ(image.pixel(55, 7), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(65, 7), qRgb(0, 0, 128));  // 0.999 keeps nothing
    EXPECT_EQ(image.pixel(75, 7), qRgb(255, 0, 0));
}

}  // namespace
}  // namespace ruvo
