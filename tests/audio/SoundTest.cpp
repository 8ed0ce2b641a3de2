// Sound at the test sound server: what the keyboard's MIDI output, the player and the
// recorder send arrives at the null sink ci_out (captured from its monitor), and what is
// played into it is heard through the remap source ci_in. Skipped without a sound server.

#include "SinkCapture.h"
#include "audio/EnhWave.h"
#include "audio/MediaPlayer.h"
#include "panes/KeyBoardPane.h"
#include "platform/qt/FluidMidiOut.h"
#include "platform/qt/PathConvert.h"
#include "tests/testsupport/Signals.h"
#include "tests/testsupport/TempDir.h"
#include "tests/testsupport/WavWriter.h"

#include <QSignalSpy>

#include <QElapsedTimer>
#include <QTest>

#include <cstdio>
#include <cstring>

using namespace ruvo;
using namespace ruvo::testsupport;

class SoundTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void KeyPressIsHeardAtTheSinkWithItsPitch();
    void WavFileArrivesWholeAtItsLevelAndFinishesAfterItsEnd_data();
    void WavFileArrivesWholeAtItsLevelAndFinishesAfterItsEnd();
    void WaveInHearsWhatWaveOutPlaysInFullBuffersUntilClose();

private:
    // Plays `file` and waits for the end; returns the capture index at Play (or -1).
    std::int64_t PlayToEnd(TMediaPlayer& player, SinkCapture& capture, const QString& file, TMPDeviceTypes type,
                           double& notifiedAtMs);
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

std::int64_t SoundTest::PlayToEnd(TMediaPlayer& player, SinkCapture& capture, const QString& file,
                                  TMPDeviceTypes type, double& notifiedAtMs) {
    QSignalSpy notify(&player, &TMediaPlayer::OnNotify);
    player.SetFileName(file);
    player.SetDeviceType(type);
    if (!player.Open()) {
        qWarning("open: %s", qPrintable(player.ErrorMessage()));
        return -1;
    }
    const auto playedAt = static_cast<std::int64_t>(capture.Count());
    if (!player.Play()) {
        return -1;
    }
    if (!notify.wait(30000)) {
        return -1;
    }
    notifiedAtMs = Ms(static_cast<std::int64_t>(capture.Count()) - playedAt);
    QTest::qWait(300);
    return playedAt;
}

void SoundTest::WavFileArrivesWholeAtItsLevelAndFinishesAfterItsEnd_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("ms");
    QTest::newRow("22050 mono 16") << 22050 << 1 << 16 << 1500;
    QTest::newRow("44100 stereo 16") << 44100 << 2 << 16 << 1500;
    QTest::newRow("11025 mono 8") << 11025 << 1 << 8 << 1500;
    // Shorter than the device's buffer: it must start all the same.
    QTest::newRow("short") << 22050 << 1 << 16 << 200;
}

void SoundTest::WavFileArrivesWholeAtItsLevelAndFinishesAfterItsEnd() {
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(int, bits);
    QFETCH(int, ms);
    const TempDir dir;
    const std::string path = (dir.Path() / "tone.wav").string();
    // 440 Hz at half of full scale.
    const double amplitude = bits == 16 ? 16384.0 : 64.0;
    const std::vector<std::int32_t> mono =
        Quantize(Sine(440.0, static_cast<std::size_t>(rate) * static_cast<std::size_t>(ms) / 1000, rate, amplitude), bits);
    WavFormat format;
    format.SampleRate = static_cast<std::uint32_t>(rate);
    format.Channels = static_cast<std::uint16_t>(channels);
    format.Bits = static_cast<std::uint16_t>(bits);
    WriteWav(path, format, channels == 2 ? Interleave(mono, mono) : mono);

    SinkCapture capture;
    QVERIFY(capture.WaitStarted());
    TMediaPlayer player;
    double notifiedAtMs = 0.0;
    const std::int64_t playedAt =
        PlayToEnd(player, capture, FileNameFromEngine(path), TMPDeviceTypes::dtWaveAudio, notifiedAtMs);
    QVERIFY(playedAt >= 0);
    const std::vector<std::int16_t>& s = capture.Samples();
    const std::int64_t onset = FirstAbove(s, static_cast<std::size_t>(playedAt), kLevel);
    const std::int64_t end = LastAbove(s, kLevel);
    QVERIFY(onset >= 0);
    const double lengthMs = Ms(end - onset);
    const double rms = Rms(s, static_cast<std::size_t>(onset) + 441, 2205);
    std::printf("WAV %d Hz %d ch %d bit: Play to sound %.1f ms, %.1f ms of sound, rms %.0f, finished %.1f ms after "
                "the end of the sound\n",
                rate, channels, bits, Ms(onset - playedAt), lengthMs, rms, notifiedAtMs - Ms(end - playedAt));
    QVERIFY2(std::abs(lengthMs - ms) < 30.0, qPrintable(QString::number(lengthMs)));
    // A sine of amplitude A has an rms of A / sqrt 2: 11585 at half of full scale.
    QVERIFY2(std::abs(rms - 11585.0) < 600.0, qPrintable(QString::number(rms)));
    QVERIFY(std::abs(PitchHz(s, static_cast<std::size_t>(onset) + 441, 2205) - 440.0) < 10.0);
    // Finished once the sound has played, not when it was handed over.
    QVERIFY(notifiedAtMs >= Ms(end - playedAt) - 20.0);
    QVERIFY(Ms(onset - playedAt) < 400.0);
}

void SoundTest::WaveInHearsWhatWaveOutPlaysInFullBuffersUntilClose() {
    TEnhWaveOut out;
    out.SetSamples(22050);
    out.SetSampleBits(16);
    QVERIFY(out.Open());
    // 1 s of 440 Hz in ten buffers; each is released once played.
    QSignalSpy done(&out, &TEnhWaveOut::OnDone);
    const std::vector<std::int32_t> tone = Quantize(Sine(440.0, 22050, 22050, 16384.0), 16);
    std::vector<std::int16_t> samples(tone.begin(), tone.end());
    for (int b = 0; b < 10; ++b) {
        QVERIFY(out.Write(reinterpret_cast<const char*>(samples.data() + b * 2205), 4410));
    }

    TEnhWaveIn in;
    in.SetSamples(22050);
    in.SetSampleBits(16);
    QVERIFY(in.SetMaxBuffers(3));
    QVERIFY(in.SetBufferSize(8820));
    QSignalSpy opened(&in, &TEnhWaveIn::OnOpen);
    std::vector<std::int32_t> sizes;
    double loudest = 0.0;
    connect(&in, &TEnhWaveIn::OnData, this, [&](const char* data, std::int32_t size) {
        sizes.push_back(size);
        std::vector<std::int16_t> got(static_cast<std::size_t>(size) / 2);
        std::memcpy(got.data(), data, static_cast<std::size_t>(size));
        loudest = std::max(loudest, Rms(got, 0, got.size()));
    });
    QVERIFY(in.Open());
    QVERIFY(in.Recording());
    QCOMPARE(in.BufferCount(), 3);
    QTRY_COMPARE(opened.count(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(sizes.size() >= 4, 5000);
    in.Close();
    const std::size_t atClose = sizes.size();
    QTest::qWait(400);
    QCOMPARE(sizes.size(), atClose);  // nothing after Close
    for (std::int32_t size : sizes) {
        QCOMPARE(size, 8820);
    }
    QVERIFY2(loudest > 8000.0, qPrintable(QString::number(loudest)));  // the tone was heard
    QTRY_VERIFY_WITH_TIMEOUT(done.count() == 10, 5000);
    QVERIFY(!out.Playing());
}

QTEST_MAIN(SoundTest)
#include "SoundTest.moc"
