// The program without any sound server (CTest points the client at a socket that does not
// exist): it starts, converts, says what is missing, disables what cannot work, and a key
// press or a forced Play or Rec only bring a message.

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
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

using namespace ruvo;
using namespace ruvo::testsupport;

class NoSoundTest : public QObject {
    Q_OBJECT

private slots:
    void EverythingButSoundWorksAndSaysWhatIsMissing();
};

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

QTEST_MAIN(NoSoundTest)
#include "NoSoundTest.moc"
