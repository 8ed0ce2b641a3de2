// The player window with sound, in the main window: the selection played as WAV arrives at
// the sink with its length and level, played as MIDI with the pitch of its notes; pause and
// stop; a tone played into the sink and recorded through ci_in becomes a document whose notes
// show that tone; a window with a slow soundfont answers at once. Skipped without a sound server.

#include "SinkCapture.h"
#include "app/DocumentPipeline.h"
#include "app/Main.h"
#include "app/Playhead.h"
#include "audio/MediaPlayer.h"
#include "audio/play.h"
#include "panes/KeyBoardPane.h"
#include "platform/fake/FakeShell.h"
#include "platform/qt/FluidSynth.h"
#include "platform/qt/PathConvert.h"
#include "platform/qt/TerminationSignals.h"
#include "tests/app/AppTestSupport.h"
#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/Signals.h"
#include "tests/testsupport/TempDir.h"
#include "tests/testsupport/WavWriter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QRadioButton>
#include <QTimer>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include <sys/resource.h>

using namespace ruvo;
using namespace ruvo::testsupport;

class PlayerSoundTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void SelectionPlaysAsWavWithItsLengthPausesAndStops();
    void PlayheadStandsWhereTheSoundIs();
    void SelectionPlaysAsMidiWithThePitchOfItsNotes();
    void RecordedToneBecomesADocumentWithThatNote();
    void WindowAnswersWhileTheSoundFontLoads();
    void TakeInProgressAtTheEnd_data();
    void TakeInProgressAtTheEnd();
    void FullDiskStopsTheTakeAndKeepsIt();

private:
    void OpenTone(int note, double seconds);
    QToolButton* Button(const char* name) { return m_form->Player()->findChild<QToolButton*>(name); }
    QRadioButton* Choice(const char* name) { return m_form->Player()->findChild<QRadioButton*>(name); }

    std::unique_ptr<TempDir> m_tmp;
    std::unique_ptr<ScopedRecordingHost> m_host;
    FakeShell m_shell;
    std::unique_ptr<TRuvoAppForm> m_form;
    std::string m_input;
};

namespace {

constexpr int kLevel = 300;
constexpr int kNote = 40;  // 554.4 Hz, MIDI key 73
std::atomic<bool> g_holdSoundFont{false};  // while set, soundfont loads wait

double Ms(std::int64_t samples) { return static_cast<double>(samples) * 1000.0 / kCaptureRate; }

// The note index that sounds in most frames of a note table.
int CommonestNote(const WavHead& doc) {
    const Table table = ReadTable(doc.NoteIntenFileName, 72);
    std::array<int, 72> frames{};
    for (const std::vector<double>& record : table) {
        for (std::size_t n = 0; n < 72; ++n) {
            frames[n] += record[n] > 0.0 ? 1 : 0;
        }
    }
    return static_cast<int>(std::max_element(frames.begin(), frames.end()) - frames.begin());
}

// The data size a WAV header announces (little-endian at byte 40).
std::uintmax_t AnnouncedBytes(const std::string& name) {
    const std::string head = apptest::ReadAll(name).substr(40, 4);
    return std::uintmax_t{static_cast<std::uint8_t>(head[0])} | std::uintmax_t{static_cast<std::uint8_t>(head[1])} << 8 |
           std::uintmax_t{static_cast<std::uint8_t>(head[2])} << 16 | std::uintmax_t{static_cast<std::uint8_t>(head[3])} << 24;
}

}  // namespace

void PlayerSoundTest::init() {
    if (!SoundServerAvailable()) {
        QSKIP("no sound server");
    }
    m_tmp = std::make_unique<TempDir>();
    m_host = std::make_unique<ScopedRecordingHost>();
    m_form = std::make_unique<TRuvoAppForm>(m_shell);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void PlayerSoundTest::cleanup() {
    g_holdSoundFont = false;
    m_form.reset();
    FluidSynth::SetLoadGate({});
    m_host.reset();
    m_tmp.reset();
}

void PlayerSoundTest::OpenTone(int note, double seconds) {
    m_input = m_tmp->File("tone.wav");
    apptest::WriteMelodyWav(m_input, {note}, seconds);
    m_form->OpenFile(FileNameFromEngine(m_input));
    QVERIFY(m_form->Pipeline().HasDocument());
}

// Space plays the selection (frames 0 .. 59, silence then a tone from frame 30); the playhead
// moves at least 20 times a second and stands within a frame of 30 when the tone reaches the
// sink.
void PlayerSoundTest::PlayheadStandsWhereTheSoundIs() {
    m_input = m_tmp->File("late.wav");
    std::vector<double> signal = Silence(30 * 1024);
    Append(signal, SineAtNote(kNote, 30 * 1024, 22050.0, 12000.0));
    WriteWav(m_input, WavFormat{}, Quantize(signal, 16));
    m_form->OpenFile(FileNameFromEngine(m_input));
    QVERIFY(m_form->Pipeline().HasDocument());
    m_form->Pipeline().Doc.SelStart = 0;
    m_form->Pipeline().Doc.SelEnd = 59;
    m_form->Pipeline().RefreshStatus();
    SinkCapture capture;
    QVERIFY(capture.WaitStarted());
    const auto playedAt = static_cast<std::int64_t>(capture.Count());
    QElapsedTimer clock;
    clock.start();
    m_form->PlayOrStopItem()->trigger();
    std::vector<std::pair<qint64, double>> shown;  // ms since the start, frame
    while (clock.elapsed() < 2500 && m_form->Player()->IsPlaying()) {
        QTest::qWait(5);
        const double frame = m_form->Playhead()->ShownFrame();
        if (frame >= 0.0 && (shown.empty() || shown.back().second != frame)) {
            shown.emplace_back(clock.elapsed(), frame);
        }
    }
    const std::int64_t onset = FirstAbove(capture.Samples(), static_cast<std::size_t>(playedAt), kLevel);
    QVERIFY(onset > 0);
    const qint64 onsetMs = static_cast<qint64>(Ms(onset - playedAt));
    QVERIFY2(shown.size() >= 20 * static_cast<std::size_t>(shown.back().first - shown.front().first) / 1000,
             qPrintable(QString::number(shown.size())));
    const auto at = std::find_if(shown.begin(), shown.end(), [onsetMs](const auto& s) { return s.first >= onsetMs; });
    QVERIFY(at != shown.end());
    qInfo("playhead at frame %.2f when the tone reached the sink, %d moves", at->second, static_cast<int>(shown.size()));
    QVERIFY2(std::abs(at->second - 30.0) <= 1.0, qPrintable(QString("frame %1 at %2 ms").arg(at->second).arg(onsetMs)));
}

void PlayerSoundTest::SelectionPlaysAsWavWithItsLengthPausesAndStops() {
    OpenTone(kNote, 3.0);
    // Frames 10 .. 39: 30 frames of 1024 samples, 1393 ms.
    m_form->Pipeline().Doc.SelStart = 10;
    m_form->Pipeline().Doc.SelEnd = 40;
    m_form->Pipeline().RefreshStatus();
    QVERIFY(Button("Play")->isEnabled());
    QVERIFY(Choice("Wav")->isChecked());

    SinkCapture capture;
    QVERIFY(capture.WaitStarted());
    QSignalSpy finished(m_form->Player(), &TPlayer::OnPlaybackFinished);
    const auto playedAt = static_cast<std::int64_t>(capture.Count());
    Button("Play")->click();
    QVERIFY(!Button("Play")->isEnabled() && !Button("Rec")->isEnabled());
    QVERIFY(Button("Pause")->isEnabled() && Button("Stop")->isEnabled());
    QTest::qWait(400);
    Button("Pause")->click();
    QTest::qWait(500);
    const std::size_t pausedFrom = capture.Count();
    QTest::qWait(300);
    const std::size_t pausedTo = capture.Count();
    Button("Pause")->click();
    QVERIFY(finished.wait(10000));
    QTest::qWait(200);
    const std::vector<std::int16_t>& s = capture.Samples();
    QCOMPARE(Rms(s, pausedFrom, pausedTo - pausedFrom), 0.0);
    // The sound before and after the pause adds up to the selection.
    std::int64_t sound = 0;
    for (std::size_t i = static_cast<std::size_t>(playedAt); i < s.size(); ++i) {
        sound += std::abs(int{s[i]}) > kLevel ? 1 : 0;
    }
    const std::int64_t onset = FirstAbove(s, static_cast<std::size_t>(playedAt), kLevel);
    std::printf("WAV selection: Play to sound %.1f ms; %.1f ms above the level (selection 1393 ms)\n",
                Ms(onset - playedAt), Ms(sound));
    // About 1/8 of a sine's samples lie below the level near its zero crossings at this
    // amplitude; so compare the sound's extent through the rms of the steady part instead.
    QVERIFY(Ms(sound) > 1393.0 * 0.85 && Ms(sound) < 1393.0 * 1.02);
    QVERIFY(std::abs(PitchHz(s, static_cast<std::size_t>(onset) + 1000, 4410) - 554.4) < 12.0);
    QVERIFY(Button("Play")->isEnabled() && !Button("Stop")->isEnabled());

    // Stop in the middle: silence follows at once and the buttons are back.
    Button("Play")->click();
    QTest::qWait(300);
    Button("Stop")->click();
    QVERIFY(Button("Play")->isEnabled() && Button("Rec")->isEnabled() && !Button("Pause")->isEnabled());
    QTest::qWait(300);
    const std::size_t after = capture.Count();
    QTest::qWait(200);
    QCOMPARE(Rms(capture.Samples(), after, capture.Count() - after), 0.0);
    QVERIFY(!m_form->Player()->IsPlaying());
    // No excerpt is left behind.
    for (const auto& entry : std::filesystem::directory_iterator(m_tmp->Path())) {
        QVERIFY2(!entry.path().filename().string().starts_with("Wat"), qPrintable(FromPath(entry.path())));
    }
}

void PlayerSoundTest::SelectionPlaysAsMidiWithThePitchOfItsNotes() {
    OpenTone(kNote, 2.0);
    Choice("Midi")->click();
    QVERIFY(Choice("Midi")->isChecked());
    SinkCapture capture;
    QVERIFY(capture.WaitStarted());
    QSignalSpy finished(m_form->Player(), &TPlayer::OnPlaybackFinished);
    const auto playedAt = static_cast<std::int64_t>(capture.Count());
    Button("Play")->click();
    QVERIFY(finished.wait(10000));
    const std::vector<std::int16_t>& s = capture.Samples();
    const std::int64_t onset = FirstAbove(s, static_cast<std::size_t>(playedAt), kLevel);
    QVERIFY(onset >= 0);
    const double pitch = PitchHz(s, static_cast<std::size_t>(onset) + 4410, 4410);
    std::printf("MIDI selection: Play to sound %.1f ms, pitch %.1f Hz (note 554.4 Hz)\n", Ms(onset - playedAt), pitch);
    QVERIFY2(std::abs(pitch - 554.4) < 15.0, qPrintable(QString::number(pitch)));
    QVERIFY(m_host->Errors.empty());
}

void PlayerSoundTest::RecordedToneBecomesADocumentWithThatNote() {
    OpenTone(30, 1.0);  // a document to be replaced by the recording
    const std::string tone = m_tmp->File("feed.wav");
    apptest::WriteMelodyWav(tone, {kNote}, 3.5);
    TMediaPlayer feed;
    feed.SetFileName(FileNameFromEngine(tone));
    QVERIFY(feed.Open());
    QVERIFY(feed.Play());
    QTest::qWait(300);

    QSignalSpy titles(m_form->Player(), &QWidget::windowTitleChanged);
    QVERIFY(Button("Rec")->isEnabled());
    Button("Rec")->click();
    QVERIFY(Button("Stop")->isEnabled() && !Button("Play")->isEnabled() && !Button("Rec")->isEnabled());
    QTest::qWait(2200);
    Button("Stop")->click();
    feed.Close();
    const std::int32_t total = m_form->Player()->Total();
    QVERIFY(total >= 8 * 8820 && total % 8820 == 0);
    // "...NOW!" and "Recording..." alternate every third buffer, then "Player".
    QVERIFY(titles.count() >= 3);
    QCOMPARE(titles.at(0).at(0).toString(), QStringLiteral("...NOW!"));
    QCOMPARE(titles.at(1).at(0).toString(), QStringLiteral("Recording..."));

    QTRY_VERIFY_WITH_TIMEOUT(m_form->Pipeline().DocIsRecording(), 20000);
    const WavHead& doc = m_form->Pipeline().Doc;
    QVERIFY(QString::fromStdString(doc.FileName).contains("rwf"));
    QCOMPARE(doc.SampleCount, total / 2);
    QCOMPARE(static_cast<std::int64_t>(FileSize(doc.FileName)), std::int64_t{44} + total);
    QCOMPARE(CommonestNote(doc), kNote);

    // Shorter than 0.55 s: refused by the check like any file, and its file goes. The
    // recording shown is not saved: the question before it is replaced is answered Discard.
    const std::string kept = doc.FileName;
    const std::size_t boxes = m_host->BoxCount();
    int questions = 0;
    QTimer discard;
    connect(&discard, &QTimer::timeout, this, [&questions] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            if (QAbstractButton* button = box->button(QMessageBox::Discard)) {
                ++questions;
                button->click();
            }
        }
    });
    discard.start(10);
    Button("Rec")->click();
    QTest::qWait(300);
    Button("Stop")->click();
    QVERIFY(m_form->Player()->Total() < 12000);
    WavHead shortRecording;
    m_form->Player()->GetRecord(shortRecording);
    QTRY_VERIFY_WITH_TIMEOUT(m_host->BoxCount() > boxes, 10000);
    QTRY_VERIFY(!std::filesystem::exists(shortRecording.FileName));
    QCOMPARE(m_form->Pipeline().Doc.FileName, kept);
    QCOMPARE(questions, 1);
}

void PlayerSoundTest::WindowAnswersWhileTheSoundFontLoads() {
    m_form.reset();
    g_holdSoundFont = true;
    FluidSynth::SetLoadGate([] {
        while (g_holdSoundFont) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    m_form = std::make_unique<TRuvoAppForm>(m_shell);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    QTRY_COMPARE(m_form->StatusBarLabel()->text(), QString("Loading the sounds..."));
    SinkCapture capture;  // a key held meanwhile: no message; it sounds once the font is in
    QVERIFY(capture.WaitStarted());
    TKeyBoard* keys = m_form->KeyBoard();
    const QPoint key = keys->CellRect(0, keys->TopRow() + 2).center();
    QTest::mousePress(keys->viewport(), Qt::LeftButton, {}, key);
    QTest::qWait(300);
    g_holdSoundFont = false;
    QTRY_VERIFY(m_form->StatusBarLabel()->text() != "Loading the sounds...");
    QTest::qWait(400);
    const std::size_t from = capture.Count();
    QTest::qWait(200);
    QVERIFY(Rms(capture.Samples(), from, capture.Count() - from) > kLevel);
    QTest::mouseRelease(keys->viewport(), Qt::LeftButton, {}, key);
    QVERIFY(m_host->Errors.empty() && m_host->Messages.empty());
}

void PlayerSoundTest::TakeInProgressAtTheEnd_data() {
    QTest::addColumn<QString>("way");
    for (const char* way : {"close, Cancel", "close, Discard", "SIGTERM", "close, SIGTERM"}) {
        QTest::newRow(way) << QString::fromLatin1(way);
    }
}

// A take in progress is unsaved work: closing asks; a termination signal, also during the
// question, ends the take with its header finished and keeps it, readable by the user only.
void PlayerSoundTest::TakeInProgressAtTheEnd() {
    QFETCH(QString, way);
    TerminationSignals termination;
    std::vector<std::string> kept;
    connect(&termination, &TerminationSignals::OnTerminationRequested, m_form.get(), [&] {
        m_form->CloseWithoutAsking([&kept](const std::string& name) { return kept.emplace_back(name); });
    });
    QSignalSpy closed(m_form.get(), &TRuvoAppForm::OnClosed);
    Button("Rec")->click();
    QTest::qWait(1000);
    QString asked;
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); box && asked.isEmpty()) {
            asked = box->text();
            way.endsWith("SIGTERM") ? (void)std::raise(SIGTERM)
                                    : box->button(way.endsWith("Cancel") ? QMessageBox::Cancel : QMessageBox::Discard)->click();
        }
    });
    answer.start(10);
    way == "SIGTERM" ? (void)std::raise(SIGTERM) : (void)m_form->close();
    const bool cancelled = way.endsWith("Cancel");
    QTRY_COMPARE(closed.count(), cancelled ? 0 : 1);
    QCOMPARE(asked, way == "SIGTERM" ? QString() : QString("A recording is in progress. Save it before closing?"));
    QCOMPARE(m_form->Player()->IsRecording(), cancelled);
    QCOMPARE(kept.size(), std::size_t{way.contains("SIGTERM") ? 1u : 0u});
    QVERIFY(!kept.empty() || cancelled || m_tmp->FileNames().empty());
    for (const std::string& take : kept) {
        QVERIFY(FileSize(take) > 44 + 8820);
        QCOMPARE(AnnouncedBytes(take), FileSize(take) - 44);
        QCOMPARE(std::filesystem::status(take).permissions() & std::filesystem::perms::all,
                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
}

// Out of space (a file size limit here) the take stops by itself with a message, after the
// status bar warned; what reached the file is the take, its header finished.
void PlayerSoundTest::FullDiskStopsTheTakeAndKeepsIt() {
    disconnect(m_form->Player(), &TPlayer::OnRecordingDone, m_form.get(), nullptr);
    QSignalSpy done(m_form->Player(), &TPlayer::OnRecordingDone);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit small = before;
    small.rlim_cur = 44 + 3 * 8820 + 1000;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    Button("Rec")->click();
    const bool stopped = done.wait(5000);
    setrlimit(RLIMIT_FSIZE, &before);
    QVERIFY(stopped && !m_form->Player()->IsRecording());
    QVERIFY(m_form->StatusBarLabel()->text().startsWith("Less than a minute of space is left for the recording: 0 s."));
    QCOMPARE(m_host->Messages, std::vector<std::string>{"The recording stopped: File too large. What was recorded is kept."});
    const WavHead& take = m_form->Player()->Record();
    QCOMPARE(take.SampleCount, (3 * 8820 + 1000) / 2);
    QCOMPARE(AnnouncedBytes(take.FileName), std::uintmax_t{3 * 8820 + 1000});
    std::filesystem::remove(take.FileName);
}

QTEST_MAIN(PlayerSoundTest)
#include "PlayerSoundTest.moc"
