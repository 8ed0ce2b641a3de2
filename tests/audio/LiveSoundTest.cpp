// The live notes of the main window while the player records a known melody played into the
// test sound server's sink (heard through its remap source): the notes appear while the take
// runs, agree with the melody as well as the conversion of the take does, and the take holds
// the melody's samples unchanged and whole, with the live view as without it.

#include "SinkCapture.h"
#include "app/DocumentPipeline.h"
#include "app/LiveRecording.h"
#include "app/LiveView.h"
#include "app/Main.h"
#include "audio/EnhWave.h"
#include "audio/MediaPlayer.h"
#include "audio/play.h"
#include "platform/fake/FakeShell.h"
#include "platform/qt/PathConvert.h"
#include "tests/app/AppTestSupport.h"
#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/Signals.h"
#include "tests/testsupport/TempDir.h"
#include "tests/testsupport/WavWriter.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <map>

using namespace ruvo;
using namespace ruvo::testsupport;

namespace {

constexpr int kRate = 22050;
constexpr double kNoteSeconds = 0.36;
constexpr double kGapSeconds = 0.12;
constexpr double kLeadSeconds = 0.5;
const std::vector<int> kMelody = {24, 28, 31, 29, 26, 33, 31, 36, 34, 29};  // note indexes (A3 = 24)

struct Onset {
    double Seconds;
    int Note;
};

// The melody as tones with harmonics after a silent lead-in, a short silence after every note.
std::vector<std::int32_t> MelodySamples() {
    std::vector<double> signal = Silence(static_cast<std::size_t>(kLeadSeconds * kRate));
    const double harmonics[] = {7000.0, 3500.0, 2300.0};
    for (const int note : kMelody) {
        Append(signal, HarmonicTone(NoteHz(note), static_cast<std::size_t>(kNoteSeconds * kRate), kRate, harmonics));
        Append(signal, Silence(static_cast<std::size_t>(kGapSeconds * kRate)));
    }
    return Quantize(signal, 16);
}

// Onset F1 (50 ms, same note) after the best constant shift of the estimate.
double ShiftedOnsetF1(const std::vector<Onset>& truth, const std::vector<Onset>& estimate) {
    std::size_t best = 0;
    for (const Onset& e : estimate) {
        for (const Onset& t : truth) {
            std::vector<bool> used(truth.size(), false);
            std::size_t hits = 0;
            for (const Onset& x : estimate) {
                for (std::size_t i = 0; i < truth.size(); ++i) {
                    if (used[i] || truth[i].Note != x.Note || std::abs(truth[i].Seconds - x.Seconds - (t.Seconds - e.Seconds)) > 0.05) continue;
                    used[i] = true;
                    ++hits;
                    break;
                }
            }
            best = std::max(best, hits);
        }
    }
    return 2.0 * static_cast<double>(best) / static_cast<double>(std::max<std::size_t>(truth.size() + estimate.size(), 1));
}

// The notes of a note table: where its loudest sounding cell changes, as onsets.
std::vector<Onset> TableOnsets(const WavHead& doc) {
    std::vector<Onset> onsets;
    int previous = -1;
    std::int64_t frame = 0;
    for (const std::vector<double>& record : ReadTable(doc.NoteIntenFileName, 72)) {
        const auto loudest = std::max_element(record.begin(), record.end());
        const int sounding = *loudest > 0.0 ? static_cast<int>(loudest - record.begin()) : -1;
        if (sounding >= 0 && sounding != previous) onsets.push_back({FramesToSeconds(frame), sounding});
        previous = sounding;
        ++frame;
    }
    return onsets;
}

}  // namespace

class LiveSoundTest : public QObject {
    Q_OBJECT

private slots:
    void TakeWithLiveNotes_data();
    void TakeWithLiveNotes();
};

void LiveSoundTest::TakeWithLiveNotes_data() {
    QTest::addColumn<bool>("live");
    QTest::newRow("with the live view") << true;
    QTest::newRow("without the live view") << false;
}

void LiveSoundTest::TakeWithLiveNotes() {
    QFETCH(bool, live);
    if (!SoundServerAvailable()) QSKIP("no sound server");
    TempDir tmp;
    ScopedRecordingHost host;
    FakeShell shell;
    TRuvoAppForm form(shell);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    TLiveRecording* liveRecording = form.LiveRecording();
    if (!live) QObject::disconnect(form.Player()->WaveIn(), nullptr, liveRecording, nullptr);

    const std::vector<std::int32_t> melody = MelodySamples();
    const std::string feedName = tmp.File("melody.wav");
    WriteWav(feedName, WavFormat{}, melody);  // 16-bit mono at 22050 Hz
    TMediaPlayer feed;
    feed.SetFileName(FileNameFromEngine(feedName));
    QVERIFY(feed.Open());
    QTest::qWait(200);

    // When each note first shows, and when the view's samples reached each count.
    QElapsedTimer clock;
    std::map<std::pair<int, int>, qint64> shown;  // (note, first frame) -> ms when first shown
    std::vector<std::pair<std::int64_t, qint64>> arrived;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        const TLiveView& view = *liveRecording->View();
        arrived.emplace_back(view.SampleCount(), clock.elapsed());
        for (const LiveNote& note : view.Notes()) shown.emplace(std::pair{note.Note, note.First}, clock.elapsed());
    });
    form.Player()->findChild<QToolButton*>("Rec")->click();
    clock.start();
    poll.start(5);
    QVERIFY(feed.Play());
    QTest::qWait(static_cast<int>(1000.0 * static_cast<double>(melody.size()) / kRate) + 800);
    QCOMPARE(liveRecording->View()->isVisible(), live);
    form.Player()->findChild<QToolButton*>("Stop")->click();
    poll.stop();
    feed.Close();
    QTRY_VERIFY_WITH_TIMEOUT(form.Pipeline().DocIsRecording(), 20000);
    QVERIFY(!liveRecording->View()->isVisible());

    // The take holds the melody's samples exactly and in one piece.
    const WavHead& doc = form.Pipeline().Doc;
    const std::string take = apptest::ReadAll(doc.FileName).substr(44);
    std::string expected;
    const auto first = std::find_if(melody.begin(), melody.end(), [](std::int32_t s) { return s != 0; });
    for (auto s = first; s != melody.end(); ++s) expected += {static_cast<char>(*s & 0xFF), static_cast<char>(*s >> 8)};
    expected.erase(expected.find_last_not_of('\0') + 1);
    QVERIFY2(take.find(expected) != std::string::npos, "the take lacks the melody's samples");
    if (!live) return;

    std::vector<Onset> truth;
    for (std::size_t i = 0; i < kMelody.size(); ++i) truth.push_back({kLeadSeconds + static_cast<double>(i) * (kNoteSeconds + kGapSeconds), kMelody[i]});
    std::vector<Onset> liveOnsets;
    std::vector<double> latencies;
    for (const LiveNote& note : liveRecording->View()->Notes()) {
        liveOnsets.push_back({note.OnsetSeconds(), note.Note});
        const std::int64_t onsetSample = std::int64_t{note.First} * kFrameSamples;
        const auto at = std::find_if(arrived.begin(), arrived.end(), [&](const auto& a) { return a.first > onsetSample; });
        // Its start may have moved back to the attack since it was first shown.
        qint64 seen = -1;
        for (const auto& [key, ms] : shown) {
            if (key.first == note.Note && std::abs(key.second - note.First) <= 3 && (seen < 0 || ms < seen)) seen = ms;
        }
        if (at != arrived.end() && seen >= 0) latencies.push_back(static_cast<double>(seen - at->second));
    }
    const double liveF1 = ShiftedOnsetF1(truth, liveOnsets);
    const double convertedF1 = ShiftedOnsetF1(truth, TableOnsets(doc));
    std::sort(latencies.begin(), latencies.end());
    const double median = latencies.empty() ? -1.0 : latencies[latencies.size() / 2];
    std::printf("live notes: onset F1 %.3f (conversion of the take %.3f); sample in to note shown: median %.0f ms, "
                "%zu notes; analysis CPU %.3f s\n",
                liveF1, convertedF1, median, latencies.size(), liveRecording->CpuSeconds());
    QVERIFY(liveF1 >= convertedF1 - 0.05 && liveF1 >= 0.8);
    QVERIFY(!latencies.empty() && median <= 250.0);
}

QTEST_MAIN(LiveSoundTest)
#include "LiveSoundTest.moc"
