// Sound at the test sound server: what the keyboard's MIDI output, the player and the
// recorder send arrives at the null sink ci_out (captured from its monitor), and what is
// played into it is heard through the remap source ci_in. Skipped without a sound server.

#include "SinkCapture.h"
#include "panes/KeyBoardPane.h"
#include "platform/qt/FluidMidiOut.h"

#include <QElapsedTimer>
#include <QTest>

#include <cstdio>

using namespace ruvo;
using namespace ruvo::testsupport;

class SoundTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void KeyPressIsHeardAtTheSinkWithItsPitch();
};

namespace {

constexpr int kLevel = 300;  // well above the silence of the null sink (0)

double Ms(std::int64_t samples) { return static_cast<double>(samples) * 1000.0 / kCaptureRate; }

}  // namespace

void SoundTest::init() {
    if (!SoundServerAvailable()) {
        QSKIP("no sound server");
    }
}

void SoundTest::KeyPressIsHeardAtTheSinkWithItsPitch() {
    FluidMidiOut midi;
    SinkCapture capture;
    QVERIFY(capture.WaitStarted());
    QTest::qWait(200);
    double latency[2] = {0.0, 0.0};
    for (int press = 0; press < 2; ++press) {
        const std::size_t pressedAt = capture.Count();
        QCOMPARE(midi.Open(), kMidiOpenOk);
        midi.Reset();
        midi.ShortMsg(KeyBoardLogic::ProgramChangeMsg());
        midi.ShortMsg(KeyBoardLogic::NoteOnMsg(60));
        QTest::qWait(500);
        midi.ShortMsg(KeyBoardLogic::NoteOffMsg(60));
        midi.Close();
        QTest::qWait(700);
        const std::vector<std::int16_t>& s = capture.Samples();
        const std::int64_t onset = FirstAbove(s, pressedAt, kLevel);
        QVERIFY2(onset >= 0, "the key was not heard");
        latency[press] = Ms(onset - static_cast<std::int64_t>(pressedAt));
        const double pitch = PitchHz(s, static_cast<std::size_t>(onset) + 2205, 4410);
        QVERIFY2(std::abs(pitch - 261.6) < 8.0, qPrintable(QStringLiteral("pitch %1 Hz").arg(pitch)));
    }
    std::printf("key press to sound at the sink: first %.1f ms, next %.1f ms (sink buffer %d ms; capture adds ~10 ms)\n",
                latency[0], latency[1], midi.BufferMs());
    // Generous on a loaded machine; the figures above are what counts.
    QVERIFY(latency[1] < 250.0);
}

QTEST_MAIN(SoundTest)
#include "SoundTest.moc"
