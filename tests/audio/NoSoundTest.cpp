// The program without any sound server (the client is pointed at a socket where none runs
// yet): it starts, converts, says what is missing, disables what cannot work, and a key
// press or a forced Play or Rec only bring a message. A server started there later is used.

#include "app/DocumentPipeline.h"
#include "app/Main.h"
#include "audio/play.h"
#include "panes/KeyBoardPane.h"
#include "platform/fake/FakeShell.h"
#include "platform/qt/PathConvert.h"
#include "tests/app/AppTestSupport.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/TempDir.h"

#include <QLabel>
#include <QFile>
#include <QProcess>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <memory>

using namespace ruvo;
using namespace ruvo::testsupport;

class NoSoundTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void EverythingButSoundWorksAndSaysWhatIsMissing();
    void LateServerIsUsedAndALostSinkEndsPlayback();

private:
    std::unique_ptr<TempDir> m_runtime;
    QProcess m_pulse;  // killed with the test
};

void NoSoundTest::initTestCase() {
    m_runtime = std::make_unique<TempDir>();
    std::filesystem::permissions(m_runtime->Path(), std::filesystem::perms::owner_all);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(FromPath(m_runtime->Path())));
    qputenv("PULSE_SERVER", QFile::encodeName("unix:" + FromPath(m_runtime->Path() / "pulse.sock")));
}

void NoSoundTest::EverythingButSoundWorksAndSaysWhatIsMissing() {
    const TempDir tmp;
    ScopedRecordingHost host;
    FakeShell shell;
    TRuvoAppForm form(shell);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTRY_VERIFY(form.StatusBarLabel()->text().contains("No sound output device"));

    const std::string input = tmp.File("tone.wav");
    apptest::WriteMelodyWav(input, {40}, 1.0);
    form.OpenFile(FileNameFromEngine(input));
    QVERIFY(form.Pipeline().HasDocument());
    TPlayer* player = form.Player();
    QVERIFY(player->SoundStatus().contains("no sound output"));
    QVERIFY(player->SoundStatus().contains("no sound input"));
    for (const char* name : {"Play", "Pause", "Stop", "Rec"}) {
        QVERIFY2(!player->findChild<QToolButton*>(name)->isEnabled(), name);
    }
    QVERIFY(!player->findChild<QRadioButton*>("Midi")->isEnabled());

    // Forced anyway: a message, no crash, nothing left behind.
    player->PlayClick();
    QVERIFY(!player->IsPlaying());
    player->RecClick();
    QVERIFY(!player->IsRecording());
    QCOMPARE(host.Messages.size(), std::size_t{2});
    QCOMPARE(host.Messages.at(0), std::string("No sound output device: nothing can be played."));
    QCOMPARE(host.Messages.at(1), std::string("No sound input device: nothing can be recorded."));

    // A key: the message, and the window stays open with its document.
    TKeyBoard* keys = form.KeyBoard();
    const QPoint key = keys->CellRect(0, keys->TopRow() + 2).center();
    QTest::mousePress(keys->viewport(), Qt::LeftButton, {}, key);
    QTest::mouseRelease(keys->viewport(), Qt::LeftButton, {}, key);
    QCOMPARE(host.Errors, std::vector<std::string>{"No Midi Device"});
    QVERIFY(form.isVisible());
    QVERIFY(form.Pipeline().HasDocument());
    form.close();
    QCOMPARE(apptest::FilesIn(tmp.Path().string()), std::set<std::string>{"tone.wav"});
}

void NoSoundTest::LateServerIsUsedAndALostSinkEndsPlayback() {
    const TempDir tmp;
    ScopedRecordingHost host;
    FakeShell shell;
    TRuvoAppForm form(shell);
    const std::string input = tmp.File("tone.wav");
    apptest::WriteMelodyWav(input, {40}, 3.0);
    form.OpenFile(FileNameFromEngine(input));
    TPlayer* player = form.Player();
    QToolButton* play = player->findChild<QToolButton*>("Play");
    QVERIFY(!play->isEnabled());
    const QString sink = "module-null-sink sink_name=late_out norewinds=1 rate=22050 channels=1";
    m_pulse.start("pulseaudio", {"--daemonize=no", "--use-pid-file=no", "--exit-idle-time=-1", "--disallow-exit", "-n",
                                 "--load=module-native-protocol-unix auth-anonymous=1 socket=" +
                                     qEnvironmentVariable("PULSE_SERVER").mid(5),
                                 "--load=" + sink});
    if (!m_pulse.waitForStarted()) {
        QSKIP("pulseaudio cannot run here");
    }
    QTRY_VERIFY_WITH_TIMEOUT(play->isEnabled(), 8000);
    player->PlayClick();
    QTest::qWait(500);
    QVERIFY(player->IsPlaying());
    // The sink goes during playback: it ends with a message; it comes back: Play again.
    QCOMPARE(QProcess::execute("pactl", {"unload-module", "module-null-sink"}), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!player->IsPlaying(), 5000);
    QTRY_COMPARE(form.StatusBarLabel()->text(), QString("Playback stopped: the sound output device was lost."));
    QVERIFY(!player->findChild<QToolButton*>("Stop")->isEnabled());
    QCOMPARE(QProcess::execute("pactl", QStringList{"load-module"} + sink.split(' ')), 0);
    QTRY_VERIFY_WITH_TIMEOUT(play->isEnabled(), 5000);
    QVERIFY(host.Messages.empty() && host.Errors.empty());
}

QTEST_MAIN(NoSoundTest)
#include "NoSoundTest.moc"
