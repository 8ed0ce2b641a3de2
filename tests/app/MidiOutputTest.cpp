// The MIDI output choice: the fallback to the built-in synthesizer when JACK fails, the
// remembered choice, and the player's MIDI playback sent to an output of its own.

#include "app/MidiOutputChoice.h"
#include "audio/MediaPlayer.h"
#include "platform/fake/FakeMidiOut.h"
#include "platform/fake/FakeSettingsStore.h"
#include "tests/posix/JackTestServer.h"
#include "tests/testsupport/TempDir.h"

#include <QAction>
#include <QElapsedTimer>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <fstream>

using namespace ruvo;

class MidiOutputTest : public QObject {
    Q_OBJECT

private slots:
    void fallsBackWithoutServerAndRemembers() {
        qputenv("JACK_DEFAULT_SERVER", "ruvo_no_server_here");
        FakeMidiOut builtIn;
        FakeSettingsStore settings;
        QMenu setting;
        TMidiOutputChoice choice(builtIn, settings);
        choice.AddMenu(setting);
        QSignalSpy faults(&choice, &TMidiOutputChoice::OnFault);
        setting.findChild<QAction*>(QStringLiteral("MidiOutputJack"))->trigger();
        QCOMPARE(faults.count(), 1);
        QCOMPARE(choice.Fault(), QStringLiteral("MIDI output: No JACK server is running. The built-in synthesizer plays instead."));
        QCOMPARE(choice.Open(), kMidiOpenOk);
        choice.ShortMsg(0x643c90);
        choice.Close();
        QCOMPARE(builtIn.Calls, (std::vector<std::string>{"open", "msg 0x643c90", "close"}));
        TMidiOutputChoice next(builtIn, settings);
        next.Restore();
        QVERIFY(next.Chosen() == MidiOutputKind::Jack);
    }

    void serverGoingAwayFallsBack() {
        test::JackTestServer server;  // points JACK_DEFAULT_SERVER at itself
        QVERIFY(server.Running());
        FakeMidiOut builtIn;
        FakeSettingsStore settings;
        TMidiOutputChoice choice(builtIn, settings);
        QVERIFY(choice.Choose(MidiOutputKind::Jack));
        QVERIFY(choice.External() != nullptr);
        QSignalSpy changes(&choice, &TMidiOutputChoice::OnOutputChanged);
        server.Kill();
        QVERIFY(changes.wait(5000));
        QVERIFY(choice.External() == nullptr);
        QVERIFY(choice.Fault().contains(QStringLiteral("The JACK server has gone away")));
    }

    void playerSendsMidiFileInTime() {
        // Format 0, 120 ticks a quarter, 500000 us a quarter; program 73, a note of 24 ticks
        // (0.1 s) ended by a note-on of velocity 0 in running status.
        const unsigned char bytes[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 120,
                                       'M', 'T', 'r', 'k', 0, 0, 0, 21, 0, 0xff, 0x51, 3, 0x07, 0xa1, 0x20,
                                       0, 0xc0, 73, 0, 0x90, 60, 100, 24, 60, 0, 0, 0xff, 0x2f, 0};
        const testsupport::TempDir dir;
        std::ofstream(dir.Path() / "a.mid", std::ios::binary).write(reinterpret_cast<const char*>(bytes), sizeof bytes);
        FakeMidiOut out;
        TMediaPlayer player;
        player.SetMidiOut(&out);
        player.SetFileName(QString::fromStdString((dir.Path() / "a.mid").string()));
        player.SetDeviceType(TMPDeviceTypes::dtSequencer);
        QSignalSpy notes(&player, &TMediaPlayer::OnNotify);
        QElapsedTimer clock;
        clock.start();
        QVERIFY2(player.Open() && player.Play(), qPrintable(player.ErrorMessage()));
        QVERIFY(notes.wait(2000));
        QVERIFY(clock.elapsed() >= 100);
        QVERIFY(notes.at(0).at(0).value<TMPNotifyValues>() == TMPNotifyValues::nvSuccessful);
        QCOMPARE(out.Calls, (std::vector<std::string>{"open", "msg 0x0049c0", "msg 0x643c90", "msg 0x003c90", "reset", "close"}));
    }
};

QTEST_MAIN(MidiOutputTest)
#include "MidiOutputTest.moc"
