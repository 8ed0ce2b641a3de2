// Undo and redo times on a 6000-second document (129 200 frames): a grid edit (add, move) and
// a re-run, each with the note-grid part of the view refresh (metrics, fill, repaint) that the
// main window does after a step.
// Usage: ruvo_undo_bench [frames] [repetitions]   (offscreen unless a display is set)

#include "bench/BenchSupport.h"
#include "engine/WavHead.h"
#include "panes/EditHistory.h"
#include "panes/NoteEditCommand.h"
#include "panes/NoteGridFile.h"
#include "panes/NoteGridPane.h"
#include "panes/RerunCommand.h"
#include "panes/StrCGrid.h"
#include "tests/testsupport/TempDir.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using ruvo::bench::Clock;
using ruvo::bench::Milliseconds;

void Report(const char* what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    std::printf("%-40s median %7.1f ms   max %7.1f ms%s\n", what, times[times.size() / 2], times.back(),
                times.back() > 300.0 ? "   (over 0.3 s)" : "");
}

}  // namespace

int main(int argc, char** argv) {
    ruvo::bench::OffscreenUnlessDisplay();
    QApplication app(argc, argv);
    const std::int32_t frames = argc > 1 ? std::atoi(argv[1]) : 129200;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 10;

    ruvo::testsupport::TempDir dir;
    // Two analyses of the same document: as converted, and after a re-run.
    ruvo::WavHead doc;
    doc.FrameCount = frames;
    doc.Temp1FileName = dir.File("tm1-bench.tmp");
    doc.NoteIntenFileName = dir.File("not-a.tmp");
    ruvo::bench::WriteNoteTable(doc.NoteIntenFileName, frames, {0, true, false});
    if (ruvo::BuildGridFile(doc, 1) != 0) {
        return 1;
    }
    ruvo::WavHead rerun = doc;
    rerun.NoteIntenFileName = dir.File("not-b.tmp");
    ruvo::bench::WriteNoteTable(rerun.NoteIntenFileName, frames, {3, true, false});
    rerun.MidiGridFileName.clear();
    if (ruvo::BuildGridFile(rerun, 1) != 0) {
        return 1;
    }
    std::printf("%d frames: note table %.1f MB, grid file %.1f MB\n", frames,
                static_cast<double>(std::filesystem::file_size(doc.NoteIntenFileName)) / 1e6,
                static_cast<double>(std::filesystem::file_size(doc.MidiGridFileName)) / 1e6);

    ruvo::TStrColGrid grid;
    ruvo::TStrColGrid scratch;
    ruvo::SetUpNoteGrid(grid);
    ruvo::SetUpScratchGrid(scratch);
    grid.resize(475, 217);
    grid.show();
    QApplication::processEvents();
    doc.ViewWidth = 100;
    doc.ViewStart = frames / 2;
    const auto refresh = [&] {
        ruvo::ApplyNoteGridMetrics(grid, scratch, doc);
        ruvo::FillNoteGrid(grid, doc);
        grid.viewport()->repaint();
    };
    refresh();

    ruvo::EditHistory history;
    const auto measure = [&](const char* doName, const char* undoName, const char* redoName,
                             const std::function<void()>& push) {
        std::vector<double> does;
        std::vector<double> undos;
        std::vector<double> redos;
        for (int i = 0; i < repetitions; ++i) {
            auto start = Clock::now();
            push();
            refresh();
            does.push_back(Milliseconds(Clock::now() - start));
            start = Clock::now();
            (void)history.Undo(doc);
            refresh();
            undos.push_back(Milliseconds(Clock::now() - start));
            start = Clock::now();
            (void)history.Redo(doc);
            refresh();
            redos.push_back(Milliseconds(Clock::now() - start));
            (void)history.Undo(doc);
        }
        Report(doName, does);
        Report(undoName, undos);
        Report(redoName, redos);
    };
    const std::int32_t mid = frames / 2;
    const ruvo::AnalysisState converted = ruvo::AnalysisState::Of(doc);
    const ruvo::AnalysisState afterRerun = ruvo::AnalysisState::Of(rerun);
    measure("Add note (edit, recorded)", "Undo Add note", "Redo Add note", [&] {
        history.Push(ruvo::NoteEditCommand::Apply(doc, ruvo::NoteEdit::SetRun(mid, mid + 4, 30, 110.0), "Add note"));
    });
    measure("Move note (edit, recorded)", "Undo Move note", "Redo Move note", [&] {
        history.Push(ruvo::NoteEditCommand::Apply(
            doc, ruvo::NoteEdit::ShiftRun(mid, mid + 20, 40, mid + 30, mid + 10, 40), "Move note"));
    });
    // The re-run step swaps two complete analyses; the note stage's own time is not part of it.
    afterRerun.ApplyTo(doc);
    history.Push(std::make_unique<ruvo::RerunCommand>("Threshold", converted, afterRerun));
    std::vector<double> undos;
    std::vector<double> redos;
    for (int i = 0; i < repetitions; ++i) {
        auto start = Clock::now();
        (void)history.Undo(doc);
        refresh();
        undos.push_back(Milliseconds(Clock::now() - start));
        start = Clock::now();
        (void)history.Redo(doc);
        refresh();
        redos.push_back(Milliseconds(Clock::now() - start));
    }
    Report("Undo Threshold (re-run)", undos);
    Report("Redo Threshold (re-run)", redos);
    return 0;
}
