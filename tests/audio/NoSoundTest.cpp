// The program without any sound server (the client is pointed at a socket where none runs
// yet): it starts, converts, says what is missing, disables what cannot work, and a key
// press or a forced Play or Rec only bring a message. Then a server starts there: the running
// window finds it and plays, and a sink that goes during playback ends it with a message.

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
    void cleanupTestCase();
    void EverythingButSoundWorksAndSaysWhatIsMissing();
    void SoundServerStartedLaterIsUsed();
    void LostSinkEndsPlaybackWithAMessage();

private:
    // The server of the socket, started now unless it runs; false when it cannot run here.
    bool StartServer();
    // Runs pactl on the server; whether it succeeded, and what it printed.
    bool Pactl(const QStringList& arguments, QString* output = nullptr);

    std::unique_ptr<TempDir> m_runtime;
    QString m_server;
    QProcess m_pulse;
};

namespace {

const QString kSinkModule = "module-null-sink";
const QString kSinkArguments = "sink_name=late_out norewinds=1 rate=22050 channels=1";

}  // namespace

void NoSoundTest::initTestCase() {
    m_runtime = std::make_unique<TempDir>();
    std::filesystem::permissions(m_runtime->Path(), std::filesystem::perms::owner_all);
    m_server = "unix:" + FromPath(m_runtime->Path() / "pulse.sock");
    qputenv("PULSE_SERVER", m_server.toLocal8Bit());
}

void NoSoundTest::cleanupTestCase() {
    m_pulse.kill();
    m_pulse.waitForFinished();
}

bool NoSoundTest::Pactl(const QStringList& arguments, QString* output) {
    QProcess pactl;
    pactl.start("pactl", QStringList{"-s", m_server} + arguments);
    const bool ran = pactl.waitForFinished() && pactl.exitStatus() == QProcess::NormalExit && pactl.exitCode() == 0;
    if (output != nullptr) {
        *output = QString::fromLocal8Bit(pactl.readAllStandardOutput());
    }
    return ran;
}

bool NoSoundTest::StartServer() {
    if (m_pulse.state() == QProcess::NotRunning) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", FromPath(m_runtime->Path()));
        m_pulse.setProcessEnvironment(environment);
        m_pulse.setStandardOutputFile(QProcess::nullDevice());
        m_pulse.setStandardErrorFile(QProcess::nullDevice());
        m_pulse.start("pulseaudio", {"--daemonize=no", "--use-pid-file=no", "--exit-idle-time=-1", "--disallow-exit", "-n",
                                     "--load=module-native-protocol-unix auth-anonymous=1 socket=" + m_server.mid(5),
                                     "--load=" + kSinkModule + " " + kSinkArguments});
    }
    for (int i = 0; i < 100 && !Pactl({"info"}); ++i) {
        QTest::qWait(100);
    }
    return Pactl({"info"});
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

void NoSoundTest::SoundServerStartedLaterIsUsed() {
    const TempDir tmp;
    ScopedRecordingHost host;
    FakeShell shell;
    TRuvoAppForm form(shell);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTRY_VERIFY(form.StatusBarLabel()->text().contains("No sound output device"));
    if (!StartServer()) {
        QSKIP("no sound server can run here");
    }
    const std::string input = tmp.File("tone.wav");
    apptest::WriteMelodyWav(input, {40}, 1.0);
    form.OpenFile(FileNameFromEngine(input));
    QTRY_VERIFY_WITH_TIMEOUT(form.Player()->findChild<QToolButton*>("Play")->isEnabled(), 8000);
    QTRY_VERIFY(!form.StatusBarLabel()->text().contains("No sound output device"));
    form.Player()->PlayClick();
    QString streams;
    QTRY_VERIFY_WITH_TIMEOUT(Pactl({"list", "short", "sink-inputs"}, &streams) && !streams.isEmpty(), 3000);
    QVERIFY(host.Messages.empty() && host.Errors.empty());
}

void NoSoundTest::LostSinkEndsPlaybackWithAMessage() {
    if (!StartServer()) {
        QSKIP("no sound server can run here");
    }
    const TempDir tmp;
    ScopedRecordingHost host;
    FakeShell shell;
    TRuvoAppForm form(shell);
    const std::string input = tmp.File("tone.wav");
    apptest::WriteMelodyWav(input, {40}, 3.0);
    form.OpenFile(FileNameFromEngine(input));
    TPlayer* player = form.Player();
    QTRY_VERIFY(player->findChild<QToolButton*>("Play")->isEnabled());
    player->PlayClick();
    QTest::qWait(500);
    QVERIFY(player->IsPlaying());
    QVERIFY(Pactl({"unload-module", kSinkModule}));
    QTRY_VERIFY_WITH_TIMEOUT(!player->IsPlaying(), 5000);
    QTRY_COMPARE(form.StatusBarLabel()->text(), QString("Playback stopped: the sound output device was lost."));
    QVERIFY(!player->findChild<QToolButton*>("Stop")->isEnabled() && !player->findChild<QToolButton*>("Pause")->isEnabled());
    // The sink back: it plays again.
    QVERIFY(Pactl(QStringList{"load-module", kSinkModule} + kSinkArguments.split(' ')));
    QTRY_VERIFY_WITH_TIMEOUT(player->findChild<QToolButton*>("Play")->isEnabled(), 5000);
    player->PlayClick();
    QVERIFY(player->IsPlaying());
    QVERIFY(host.Messages.empty() && host.Errors.empty());
}

QTEST_MAIN(NoSoundTest)
#include "NoSoundTest.moc"
