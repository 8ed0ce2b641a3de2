// Timings of the note grid on a 6000-second document (129 000 frames, 9.3 million cells):
// the grid file build, the note-grid part of a view refresh (metrics and fill) with its
// repaint, one scroll step as the main window handles it, and a plain repaint.
// Usage: ruvo_grid_bench [frames] [repetitions]   (offscreen unless a display is set)

#include "bench/BenchSupport.h"
#include "engine/WavHead.h"
#include "panes/NoteGridFile.h"
#include "panes/NoteGridPane.h"
#include "panes/StrCGrid.h"
#include "tests/testsupport/TempDir.h"

#include <QApplication>
#include <QScrollBar>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using ruvo::bench::Clock;
using ruvo::bench::Milliseconds;

struct Stats {
    double Median;
    double Max;
};

Stats Measure(int repetitions, const std::function<void()>& step) {
    std::vector<double> times;
    for (int i = 0; i < repetitions; ++i) {
        const auto start = Clock::now();
        step();
        times.push_back(Milliseconds(Clock::now() - start));
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}

void Report(const char* what, Stats stats) {
    std::printf("%-44s median %7.2f ms   max %7.2f ms%s\n", what, stats.Median, stats.Max,
                stats.Max > 30.0 ? "   (over 30 ms)" : "");
}

}  // namespace

int main(int argc, char** argv) {
    ruvo::bench::OffscreenUnlessDisplay();
    QApplication app(argc, argv);
    const std::int32_t frames = argc > 1 ? std::atoi(argv[1]) : 129000;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 50;

    ruvo::testsupport::TempDir dir;
    ruvo::WavHead doc;
    doc.FrameCount = frames;
    doc.NoteIntenFileName = dir.File("not-bench.tmp");
    doc.Temp1FileName = dir.File("tm1-bench.tmp");
    ruvo::bench::WriteNoteTable(doc.NoteIntenFileName, frames, {0, true, true});

    const auto buildStart = Clock::now();
    if (ruvo::BuildGridFile(doc, 1) != 0) {
        return 1;
    }
    std::printf("%d frames, %lld cells; grid file build %.0f ms (part of the conversion)\n", frames,
                static_cast<long long>(frames) * ruvo::kGridRows, Milliseconds(Clock::now() - buildStart));

    // Two sizes: the design layout and a large window (1280 x 1024 less the other panes).
    for (const QSize size : {QSize(475, 217), QSize(1100, 689)}) {
        ruvo::TStrColGrid grid;
        ruvo::TStrColGrid scratch;
        ruvo::SetUpNoteGrid(grid);
        ruvo::SetUpScratchGrid(scratch);
        grid.resize(size);
        grid.show();
        QApplication::processEvents();
        doc.ViewWidth = 100;
        doc.ViewStart = 0;

        auto refresh = [&] {
            ruvo::ApplyNoteGridMetrics(grid, scratch, doc);
            ruvo::FillNoteGrid(grid, doc);
            grid.viewport()->repaint();
        };
        // The main window's top-left handler: follow the grid and refresh the view.
        QObject::connect(&grid, &ruvo::TStrColGrid::OnTopLeftChanged, &grid, [&] {
            if (grid.LeftCol() != doc.ViewStart) {
                doc.ViewStart = grid.LeftCol();
                refresh();
            }
        });
        ruvo::ApplyGridBuild(grid, scratch);
        refresh();

        std::printf("grid %dx%d, %d columns of %d px in view:\n", size.width(), size.height(), grid.VisibleColCount(),
                    grid.DefaultColWidth());
        Report("  refresh (metrics, fill, repaint)", Measure(repetitions, refresh));
        QScrollBar* bar = grid.horizontalScrollBar();
        Report("  scroll step (arrow of the scroll bar)",
               Measure(repetitions, [&] { bar->triggerAction(QAbstractSlider::SliderSingleStepAdd); }));
        Report("  thumb drag to a far column", Measure(repetitions, [&] {
                   bar->setSliderDown(true);
                   bar->setSliderPosition((bar->sliderPosition() + 2579) % bar->maximum());
                   bar->setSliderDown(false);
               }));
        Report("  repaint", Measure(repetitions, [&] { grid.viewport()->repaint(); }));
        doc.ViewWidth = 20;
        refresh();
        Report("  repaint, 20 frames in view", Measure(repetitions, [&] { grid.viewport()->repaint(); }));
        grid.SetDefaultRowHeight(1);
        Report("  repaint, rows of 1 px (all 72 rows)", Measure(repetitions, [&] { grid.viewport()->repaint(); }));
    }
    return 0;
}
