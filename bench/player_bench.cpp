// Timings of the player at the test sound server, run by hand (not a test):
//   ruvo_player_bench FILE.wav wav|midi [SelStart SelEnd]
// converts FILE.wav in a main window, plays the selection (all of it by default) as WAV or
// MIDI to its end, and prints Play to first sound at the sink, the time the Play click took,
// the sound's length and the longest gap (no sample above 1000 for 5 ms or more) inside it.

#include "app/DocumentPipeline.h"
#include "app/Main.h"
#include "audio/play.h"
#include "engine/WavProc.h"
#include "platform/fake/FakeShell.h"
#include "platform/qt/PathConvert.h"
#include "tests/audio/SinkCapture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRadioButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

using namespace ruvo;
using namespace ruvo::testsupport;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILE.wav wav|midi [SelStart SelEnd]\n", argv[0]);
        return 2;
    }
    const bool midi = QString::fromLatin1(argv[2]) == "midi";
    FakeShell shell;
    TRuvoAppForm form(shell);
    TPlayer standalone;
    TPlayer* player = &standalone;
    if (midi) {
        // MIDI needs the note table: a conversion in the main window.
        form.show();
        form.OpenFile(QString::fromLocal8Bit(argv[1]));
        if (!form.Pipeline().HasDocument()) {
            std::fprintf(stderr, "not converted\n");
            return 1;
        }
        if (argc >= 5) {
            form.Pipeline().Doc.SelStart = std::atoi(argv[3]);
            form.Pipeline().Doc.SelEnd = std::atoi(argv[4]);
        }
        form.Pipeline().RefreshStatus();
        player = form.Player();
        player->findChild<QRadioButton*>("Midi")->setChecked(true);
    } else {
        // A WAV excerpt needs only the file's description; the selection is all of it.
        TWavProc check;
        check.SetMaxTime(6000);
        WavHead rec;
        if (check.CheckWavFile(argv[1], WavHead(), rec) != 0) {
            std::fprintf(stderr, "not a WAV file\n");
            return 1;
        }
        rec.SelStart = argc >= 5 ? std::atoi(argv[3]) : 0;
        rec.SelEnd = argc >= 5 ? std::atoi(argv[4])
                               : static_cast<std::int32_t>(std::int64_t{rec.SampleCount} * 22050 / rec.SampleRate / 1024);
        standalone.SetRecord(rec);
    }

    SinkCapture capture;
    if (!capture.WaitStarted()) {
        std::fprintf(stderr, "no capture\n");
        return 1;
    }
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
    QEventLoop loop;
    QObject::connect(player, &TPlayer::OnPlaybackFinished, &loop, &QEventLoop::quit);
    const auto playedAt = static_cast<std::int64_t>(capture.Count());
    QElapsedTimer click;
    click.start();
    player->PlayClick();
    const double clickMs = static_cast<double>(click.nsecsElapsed()) / 1e6;
    loop.exec();
    const std::vector<std::int16_t>& s = capture.Samples();
    const std::int64_t onset = FirstAbove(s, static_cast<std::size_t>(playedAt), 1000);
    const std::int64_t end = LastAbove(s, 1000);
    std::int64_t longestGap = 0;
    std::int64_t gapAt = 0;
    std::int64_t run = 0;
    for (std::int64_t i = onset; i >= 0 && i <= end; ++i) {
        run = std::abs(int{s[static_cast<std::size_t>(i)]}) > 1000 ? 0 : run + 1;
        if (run > longestGap) {
            longestGap = run;
            gapAt = i - run - onset;
        }
    }
    const auto ms = [](std::int64_t n) { return static_cast<double>(n) * 1000.0 / kCaptureRate; };
    std::printf("%s: Play to sound %.1f ms (PlayClick itself %.1f ms), %.1f s of sound, longest quiet run %.1f ms at %.2f s\n",
                argv[2], ms(onset - playedAt), clickMs, ms(end - onset) / 1000.0, ms(longestGap), ms(gapAt) / 1000.0);
    return 0;
}
