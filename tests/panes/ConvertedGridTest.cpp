// The note grid of a melody converted by the engine, as the main window shows it after a
// conversion: grid file build, metrics and fill.

#include "engine/Conversion.h"
#include "engine/TNote.h"
#include "engine/WavProc.h"
#include "engine/WorkFiles.h"
#include "GridTestSupport.h"
#include "panes/NoteGridFile.h"
#include "panes/NoteGridPane.h"
#include "panes/StrCGrid.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/Signals.h"
#include "tests/testsupport/TempDir.h"
#include "tests/testsupport/WavWriter.h"

#include <QCoreApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace ruvo {
namespace {

using namespace testsupport;

constexpr std::size_t kFramesEach = 11;
const std::vector<int> kMelody{24, 28, 31, 36};  // half a second each

TEST(ConvertedGridTest, EachToneOfAMelodySoundsInItsRowAndTheLoudestIsYellow) {
    TempDir dir;
    ScopedRecordingHost host;
    std::vector<double> signal = NoteSequence(kMelody, kFramesEach * 1024, 22050.0, 12000.0);
    Append(signal, Silence(kFramesEach * 1024));
    const std::string wav = dir.File("melody.wav");
    WriteWav(wav, WavFormat{}, Quantize(signal, 16));

    WavHead doc;
    const TickFn go = [](Tick) { return true; };
    auto wavProc = std::make_unique<TWavProc>();
    ASSERT_EQ(RunWaveStage(*wavProc, wav, doc, go), 0) << (host.Errors.empty() ? "" : host.Errors.front());
    auto note = std::make_unique<TNote>();
    ASSERT_EQ(RunNoteStage(*note, doc, 1, go), 0);
    ASSERT_EQ(BuildGridFile(doc, 1), 0);
    EXPECT_EQ(doc.SelEnd, doc.FrameCount);

    TStrColGrid grid;
    TStrColGrid scratch;
    SetUpNoteGrid(grid);
    SetUpScratchGrid(scratch);
    grid.resize(475, 217);
    grid.show();
    ApplyGridBuild(grid, scratch);
    ApplyNoteGridMetrics(grid, scratch, doc);
    FillNoteGrid(grid, doc);

    const QColor blue(0, 0, 255);
    const QColor black(0, 0, 0);
    bool loudest = false;
    for (std::size_t i = 0; i < kMelody.size(); ++i) {
        const std::int32_t row = NoteToRow(kMelody[i]);
        // The middle of each tone, away from the changes between tones.
        for (std::size_t f = i * kFramesEach + 3; f < (i + 1) * kFramesEach - 3; ++f) {
            const QColor colour = grid.CellColor(static_cast<std::int32_t>(f), row);
            EXPECT_NE(colour, blue) << "note " << kMelody[i] << " frame " << f;
            EXPECT_NE(colour, black) << "note " << kMelody[i] << " frame " << f;
            loudest = loudest || colour == QColor(255, 255, 0);
        }
    }
    EXPECT_TRUE(loudest);
    // The closing silence shows no note.
    for (std::int32_t r = 0; r < kGridRows; ++r) {
        EXPECT_EQ(grid.CellColor(doc.FrameCount - 3, r), blue) << r;
    }

    // A look at the melody: rows of notes 38 .. 23, 50 frames of 8 pixels.
    doc.ViewWidth = 50;
    ApplyNoteGridMetrics(grid, scratch, doc);
    FillNoteGrid(grid, doc);
    grid.SetTopRow(NoteToRow(38));
    GrabCells(grid).save(QDir(QCoreApplication::applicationDirPath()).filePath("converted-grid.png"));
    EXPECT_TRUE(host.Errors.empty());
    DeleteWorkFiles(doc);
}

}  // namespace
}  // namespace ruvo
