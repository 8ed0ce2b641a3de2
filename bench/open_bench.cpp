// Opening a sound file in the real main window (offscreen unless a display is set): the time
// of the conversion in the window, the longest paint (Paint and UpdateRequest events, timed in
// QApplication::notify) during it and while the zoomed-out waveform of the whole recording is
// first shown, and the peak resident memory. Compare the time with ruvo-convert's on the same
// file. Usage: ruvo_open_bench FILE

#include "bench/BenchSupport.h"
#include "app/DocumentPipeline.h"
#include "app/EditingPanes.h"
#include "app/Main.h"
#include "panes/PaintBox.h"
#include "platform/fake/FakeShell.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/resource.h>
#include <fstream>
#include <string>

namespace {

using ruvo::bench::Clock;
using ruvo::bench::Milliseconds;

long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    }
    return -1;
}

// The processor time of the calling thread.
double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The processor time of the whole process (every thread) so far.
double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

class TimedApp : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        const bool update = event->type() == QEvent::UpdateRequest;
        const bool paint = event->type() == QEvent::Paint;
        const auto start = Clock::now();
        const double cpuStart = ThreadCpuMs();
        const bool result = QApplication::notify(receiver, event);
        const double ms = Milliseconds(Clock::now() - start);
        if (paint) LongestPaintCpu = std::max(LongestPaintCpu, ThreadCpuMs() - cpuStart);
        if (update) {
            ++Paints;
            LongestUpdate = std::max(LongestUpdate, ms);
        }
        if (paint && ms > LongestPaint) {
            LongestPaint = ms;
            const QObject* owner = receiver->parent() != nullptr ? receiver->parent() : receiver;
            LongestWhere = receiver->objectName().toStdString() + " of " + owner->metaObject()->className() + " at " +
                           std::to_string(Milliseconds(start - Since) / 1000.0) + " s";
        }
        return result;
    }
    Clock::time_point Since = Clock::now();
    double LongestUpdate = 0;    // a window's whole repaint
    double LongestPaint = 0;     // one widget's paint
    double LongestPaintCpu = 0;  // its processor time: a loaded machine stretches the wall time
    std::string LongestWhere;
    long Paints = 0;
};

}  // namespace

int main(int argc, char** argv) {
    ruvo::bench::OffscreenUnlessDisplay();
    TimedApp app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: ruvo_open_bench FILE\n");
        return 2;
    }
    ruvo::FakeShell shell;
    ruvo::TRuvoAppForm form(shell);
    form.show();
    QApplication::processEvents();
    form.Displayalert1()->setChecked(false);
    const long rssShown = StatusKb("VmRSS:");

    const auto start = Clock::now();
    const double cpuStart = ProcessCpuSeconds();
    app.Since = start;
    const std::int32_t result = form.Pipeline().ImportDocument(argv[1]);
    QApplication::processEvents();
    const double openMs = Milliseconds(Clock::now() - start);
    const double openCpu = ProcessCpuSeconds() - cpuStart;
    std::printf(
        "open: result %d in %.2f s (processor %.2f s); longest window repaint %.1f ms (%ld), longest paint %.1f ms in "
        "%s, "
        "longest paint's processor time %.1f ms; peak RSS %ld kB (window alone %ld kB)\n",
        result, openMs / 1000.0, openCpu, app.LongestUpdate, app.Paints, app.LongestPaint, app.LongestWhere.c_str(),
        app.LongestPaintCpu, StatusKb("VmHWM:"), rssShown);
    if (result != 0) return 1;

    // The whole recording in view, until the waveform's summary is there (its box stops asking).
    app.LongestUpdate = 0;
    app.LongestPaint = 0;
    app.LongestPaintCpu = 0;
    app.Paints = 0;
    ruvo::WavHead& doc = form.Pipeline().Doc;
    doc.ViewStart = 0;
    doc.ViewWidth = doc.FrameCount;
    form.Panes().WavDisp()->repaint();
    QEventLoop wait;
    QTimer::singleShot(3000, &wait, &QEventLoop::quit);
    wait.exec();
    std::printf(
        "zoomed out to %d frames: longest window repaint %.1f ms (%ld in 3 s), longest paint %.1f ms in %s, "
        "processor time %.1f ms; peak RSS %ld kB\n",
        doc.FrameCount, app.LongestUpdate, app.Paints, app.LongestPaint, app.LongestWhere.c_str(), app.LongestPaintCpu,
        StatusKb("VmHWM:"));
    form.close();
    return 0;
}
