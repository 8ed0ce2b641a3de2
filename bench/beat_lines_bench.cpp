// What the bar and beat lines add to the note grid's repaint on a 6000-second document: the
// repaint with and without them, interleaved, at the design size and a large window, with one
// tempo and with a tempo map of a thousand changes; and the score's rebuild after an edit
// (the note table read and the score made), which happens once per edit, not per repaint.
// Usage: ruvo_beat_lines_bench [frames] [repetitions]   (offscreen unless a display is set)

#include "bench/BenchSupport.h"
#include "engine/Units.h"
#include "engine/WavHead.h"
#include "panes/BeatLinePainter.h"
#include "panes/NoteGridFile.h"
#include "panes/NoteGridPane.h"
#include "panes/StrCGrid.h"
#include "score/Score.h"
#include "tests/testsupport/TempDir.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using ruvo::bench::Clock;
using ruvo::bench::Milliseconds;

double Median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::vector<ruvo::BeatLine> Lines(const ruvo::Score& score, double from, double to) {
    std::vector<ruvo::BeatLine> lines;
    for (const ruvo::BeatMark& mark : ruvo::BeatMarks(score, from, to)) {
        lines.push_back({mark.Seconds, mark.Downbeat});
    }
    return lines;
}

}  // namespace

int main(int argc, char** argv) {
    ruvo::bench::OffscreenUnlessDisplay();
    QApplication app(argc, argv);
    const std::int32_t frames = argc > 1 ? std::atoi(argv[1]) : 129200;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 200;

    ruvo::testsupport::TempDir dir;
    ruvo::WavHead doc;
    doc.FrameCount = frames;
    doc.NoteIntenFileName = dir.File("not-bench.tmp");
    doc.Temp1FileName = dir.File("tm1-bench.tmp");
    ruvo::bench::WriteNoteTable(doc.NoteIntenFileName, frames);
    if (ruvo::BuildGridFile(doc, 1) != 0) {
        return 1;
    }

    const auto rebuildStart = Clock::now();
    std::vector<ruvo::TimedNote> notes;
    std::string error;
    if (ruvo::ReadNoteTable(doc.NoteIntenFileName, frames, notes, error) != 0) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const auto readDone = Clock::now();
    const ruvo::Score found = ruvo::BuildScore(notes, {});
    std::printf(
        "%d frames (%.0f s), %zu notes, %zu tempo segments found: note table read %.0f ms, score made %.0f ms "
        "(once per edit)\n",
        frames, ruvo::FramesToSeconds(frames), notes.size(), found.Tempo.size(), Milliseconds(readDone - rebuildStart),
        Milliseconds(Clock::now() - readDone));

    ruvo::Score steady = ruvo::BuildScore({}, {112.0, ruvo::Meter{4, 4}, 0.0});
    // A thousand tempo changes over the recording, 100 to 130 bpm.
    ruvo::Score changing = steady;
    changing.Tempo.clear();
    double quarter = 0.0;
    for (int i = 0; i < 1000; ++i) {
        const double start = ruvo::FramesToSeconds(frames) * i / 1000.0;
        const double bpm = 100.0 + (i * 7) % 31;
        if (!changing.Tempo.empty()) {
            const ruvo::TempoSegment& last = changing.Tempo.back();
            quarter = last.StartQuarter + (start - last.StartSeconds) * last.Bpm / 60.0;
        }
        changing.Tempo.push_back({start, quarter, bpm});
    }

    for (const QSize size : {QSize(475, 217), QSize(1100, 689)}) {
        for (const std::int32_t viewWidth : {100, 20, 2000}) {
            ruvo::TStrColGrid grid;
            ruvo::TStrColGrid scratch;
            ruvo::SetUpNoteGrid(grid);
            ruvo::SetUpScratchGrid(scratch);
            grid.resize(size);
            grid.show();
            QApplication::processEvents();
            doc.ViewWidth = viewWidth;
            doc.ViewStart = 0;
            ruvo::ApplyGridBuild(grid, scratch);
            ruvo::ApplyNoteGridMetrics(grid, scratch, doc);
            ruvo::FillNoteGrid(grid, doc);
            grid.SetLeftCol(frames / 2);
            for (const ruvo::Score* score : {&steady, &changing}) {
                ruvo::BeatLinePainter lines;
                lines.SetSource([score](double from, double to) { return Lines(*score, from, to); });
                // The lines' own share of a repaint, timed inside it: free of the repaint's noise.
                std::vector<double> own;
                const ruvo::TStrColGrid::Overlay overlay = [&](QPainter& painter, const QRect& area) {
                    const auto start = Clock::now();
                    lines.PaintGrid(painter, grid, area);
                    own.push_back(Milliseconds(Clock::now() - start));
                };
                std::vector<double> without;
                std::vector<double> with;
                for (int i = 0; i < repetitions; ++i) {
                    grid.SetOverlay({});
                    auto start = Clock::now();
                    grid.viewport()->repaint();
                    without.push_back(Milliseconds(Clock::now() - start));
                    grid.SetOverlay(overlay);
                    start = Clock::now();
                    grid.viewport()->repaint();
                    with.push_back(Milliseconds(Clock::now() - start));
                }
                const std::size_t shown = lines.Pixels(ruvo::BeatLinePainter::GridView(grid)).size();
                std::printf(
                    "grid %4dx%-3d %4d frames in view, %4zu tempo segments, %3zu lines: repaint %6.3f ms, "
                    "with lines %6.3f ms (%+6.3f), the lines themselves %6.3f ms (max %6.3f)\n",
                    size.width(), size.height(), viewWidth, score->Tempo.size(), shown, Median(without), Median(with),
                    Median(with) - Median(without), Median(own), *std::max_element(own.begin(), own.end()));
                grid.SetOverlay({});
            }
        }
    }
    return 0;
}
