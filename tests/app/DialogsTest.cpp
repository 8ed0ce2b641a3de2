// The small windows of the program: progress, tempo, alert, about and the player; the note
// symbols of the main window.

#include "app/About.h"
#include "app/HelpPages.h"
#include "app/IconDesign.h"
#include "app/Alert.h"
#include "app/IntenPro.h"
#include "app/NoteSymbols.h"
#include "app/uTenpo4.h"
#include "audio/play.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>

using namespace ruvo;

class DialogsTest : public QObject {
    Q_OBJECT

private slots:
    void ProgressStepSizes_data();
    void ProgressStepSizes();
    void ProgressShowsPercentOfEachStep();
    void ProgressWrapsPastTheMaximum();
    void ProgressCancel();
    void ProgressCentresOnMainWindow();
    void TempoDialogShowsAndTakesTheClass();
    void AlertShowsItsSixLines();
    void AboutBoxContents();
    void PlayerKeepsRecordAndCaption();
    void NoteSymbolListTakesTilesInReverse();
    void NoteSymbolPictureHasOneSymbolPerNote();
    void HelpPagesBesideTheProgramOrInstalled_data();
    void HelpPagesBesideTheProgramOrInstalled();
    void ProgramIconAtEverySize();
};

void DialogsTest::ProgressStepSizes_data() {
    QTest::addColumn<int>("steps");
    QTest::addColumn<int>("step");
    QTest::newRow("new file") << 25 << 4;
    QTest::newRow("re-run") << 16 << 7;
    QTest::newRow("one") << 1 << 100;  // 100.5: the tie goes to the even 100
}

void DialogsTest::ProgressStepSizes() {
    QFETCH(int, steps);
    QFETCH(int, step);
    QCOMPARE(TIntenCalProgress::StepFor(steps), step);
}

void DialogsTest::ProgressShowsPercentOfEachStep() {
    TIntenCalProgress progress(nullptr);
    QCOMPARE(progress.windowTitle(), QString("Conversion..."));
    QCOMPARE(progress.Percent()->text(), QString("Percent"));
    QCOMPARE(progress.Percent()->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    QCOMPARE(progress.Cancel()->text(), QString("Cancel"));
    QVERIFY(progress.Cancel()->isDefault());
    QVERIFY(!progress.isModal());
    QVERIFY(progress.windowFlags() & Qt::WindowStaysOnTopHint);

    progress.ProgressStart(25);
    // The label keeps its old text until the first step.
    QCOMPARE(progress.Percent()->text(), QString("Percent"));
    QCOMPARE(progress.IntProgress()->minimum(), 0);
    QCOMPARE(progress.IntProgress()->maximum(), 100);
    QStringList shown;
    for (int i = 0; i < 21; ++i) {
        progress.ProgressStep();
        shown << progress.Percent()->text();
    }
    QCOMPARE(shown.first(), QString("4%"));
    QCOMPARE(shown.at(1), QString("8%"));
    QCOMPARE(shown.last(), QString("84%"));
    QCOMPARE(progress.IntProgress()->value(), 84);
}

void DialogsTest::ProgressWrapsPastTheMaximum() {
    QCOMPARE(TIntenCalProgress::Stepped(93, 7, 0, 100), 100);
    TIntenCalProgress progress(nullptr);
    progress.ProgressStart(16);
    for (int i = 0; i < 16; ++i) {
        progress.ProgressStep();
    }
    // 14 steps reach 98, the 15th wraps to 5, the 16th makes 12.
    QCOMPARE(progress.Percent()->text(), QString("12%"));
}

void DialogsTest::ProgressCancel() {
    TIntenCalProgress progress(nullptr);
    progress.ProgressStart(25);
    progress.ProgressShow();
    progress.ProgressStep();
    QVERIFY(!progress.CancelRequested());
    QTest::mouseClick(progress.Cancel(), Qt::LeftButton);
    QVERIFY(progress.CancelRequested());
    QCOMPARE(progress.IntProgress()->value(), 0);
    QVERIFY(!progress.isVisible());
    // The next start clears the request.
    progress.ProgressStart(16);
    QVERIFY(!progress.CancelRequested());
    // The close box and Escape cancel as well.
    progress.ProgressShow();
    progress.close();
    QVERIFY(progress.CancelRequested());
    progress.ProgressStart(16);
    progress.ProgressShow();
    QTest::keyClick(&progress, Qt::Key_Escape);
    QVERIFY(progress.CancelRequested());
    // Enter presses the default button.
    progress.ProgressStart(16);
    progress.ProgressShow();
    QTest::keyClick(&progress, Qt::Key_Return);
    QVERIFY(progress.CancelRequested());
}

void DialogsTest::ProgressCentresOnMainWindow() {
    QWidget main;
    main.setGeometry(100, 120, 655, 552);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    TIntenCalProgress progress(&main);
    progress.ProgressStart(25);
    progress.ProgressShow();
    QVERIFY(QTest::qWaitForWindowExposed(&progress));
    const QRect outer = main.frameGeometry();
    const QRect own = progress.frameGeometry();
    QCOMPARE(own.left(), static_cast<int>(std::nearbyint(outer.left() + outer.width() * 0.5 - own.width() * 0.5)));
    QCOMPARE(own.top(), static_cast<int>(std::nearbyint(outer.top() + outer.height() * 0.5 - own.height() * 0.5)));
}

void DialogsTest::TempoDialogShowsAndTakesTheClass() {
    std::int32_t choice = 1;
    TTempo2 tempo;
    tempo.BindTempoChoice(choice);
    QCOMPARE(tempo.windowTitle(), QString("Tempo2"));
    QCOMPARE(tempo.Fast()->text(), QString("Fast"));
    QCOMPARE(tempo.Medium()->text(), QString("Medium"));
    QCOMPARE(tempo.Slow()->text(), QString("Slow"));

    tempo.SetTempo(2);
    QCOMPARE(choice, 2);
    QVERIFY(!tempo.Fast()->isChecked() && tempo.Medium()->isChecked() && !tempo.Slow()->isChecked());
    tempo.SetTempo(3);
    QVERIFY(!tempo.Fast()->isChecked() && !tempo.Medium()->isChecked() && tempo.Slow()->isChecked());
    // Any other value leaves none checked.
    tempo.SetTempo(7);
    QVERIFY(!tempo.Fast()->isChecked() && !tempo.Medium()->isChecked() && !tempo.Slow()->isChecked());
    QCOMPARE(tempo.GetTempo(), 7);

    tempo.SetTempo(1);
    tempo.Slow()->setChecked(true);
    auto* ok = tempo.findChild<QPushButton*>("OKBtn");
    auto* cancel = tempo.findChild<QPushButton*>("CancelBtn");
    QVERIFY(ok && cancel);
    QCOMPARE(ok->text(), QString("OK"));
    QCOMPARE(cancel->text(), QString("Cancel"));
    QVERIFY(ok->isDefault());
    QTimer::singleShot(0, cancel, [cancel] { QTest::mouseClick(cancel, Qt::LeftButton); });
    QCOMPARE(tempo.exec(), 0);
    QCOMPARE(choice, 1);  // Cancel leaves the choice alone
    QTimer::singleShot(0, ok, [ok] { QTest::mouseClick(ok, Qt::LeftButton); });
    QCOMPARE(tempo.exec(), 1);
    QCOMPARE(choice, 3);
}

void DialogsTest::AlertShowsItsSixLines() {
    TAlertDialog alert;
    QCOMPARE(alert.windowTitle(), QString("Alert"));
    const QStringList expected = {"Following operations will be ",      "cancelled.",
                                  "    Would you like to proceed?",     "",
                                  " Delete note, Add note, Move note ", "   and Change time length of note."};
    QCOMPARE(alert.Memo()->toPlainText(), expected.join('\n'));
    QVERIFY(alert.Memo()->isReadOnly());
    QCOMPARE(alert.Memo()->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    auto* ok = alert.findChild<QPushButton*>("OKBtn");
    auto* cancel = alert.findChild<QPushButton*>("CancelBtn");
    QVERIFY(ok && cancel && ok->isDefault());
    QTimer::singleShot(0, cancel, [cancel] { QTest::mouseClick(cancel, Qt::LeftButton); });
    QCOMPARE(alert.exec(), 0);
    QTimer::singleShot(0, &alert, [&alert] { QTest::keyClick(&alert, Qt::Key_Return); });
    QCOMPARE(alert.exec(), 1);
}

void DialogsTest::AboutBoxContents() {
    TAboutBox about;
    QCOMPARE(about.windowTitle(), QString("Version Information"));
    QCOMPARE(about.size(), QSize(204, 138));
    QStringList texts;
    for (const QLabel* label : about.findChildren<QLabel*>()) {
        texts << label->text();
    }
    QVERIFY(texts.contains("Ruvo"));
    QVERIFY(texts.contains("Version 2.00"));
    QVERIFY(texts.contains("The Software converts wav file to midi file."));
    QVERIFY(about.findChildren<QPushButton*>().isEmpty());
    QVERIFY(!about.findChild<QLabel*>("ProgramIcon")->pixmap().isNull());
}

void DialogsTest::PlayerKeepsRecordAndCaption() {
    TPlayer player;
    QCOMPARE(player.windowTitle(), QString("Player"));
    QSignalSpy recordingDone(&player, &TPlayer::OnRecordingDone);
    QVERIFY(recordingDone.isValid());

    WavHead record;
    record.FileName = "/music/ä song.wav";
    record.FrameCount = 215;
    player.SetRecord(record);
    QCOMPARE(player.windowTitle(), QString::fromUtf8("Player-/music/ä song.wav"));
    WavHead copy;
    player.GetRecord(copy);
    QCOMPARE(copy.FileName, record.FileName);
    QCOMPARE(copy.FrameCount, 215);
    // A later change of the caller's record does not reach the player's copy.
    record.FrameCount = 1;
    player.GetRecord(copy);
    QCOMPARE(copy.FrameCount, 215);
    QVERIFY(player.findChild<QRadioButton*>("Wav")->isChecked());
    QVERIFY(!player.findChild<QRadioButton*>("Midi")->isChecked());
    // Nothing plays yet: Pause and Stop wait for Play.
    for (const char* name : {"Pause", "Stop"}) {
        QVERIFY2(!player.findChild<QToolButton*>(name)->isEnabled(), name);
    }
}

void DialogsTest::NoteSymbolListTakesTilesInReverse() {
    // Tile t painted in (t, 10, 20) with one pure red pixel at (3, 3) and a grey last column
    // and row, which the list does not take.
    QImage picture(840, 780, QImage::Format_RGB32);
    for (int y = 0; y < 780; ++y) {
        for (int x = 0; x < 840; ++x) {
            const int tile = (y / 130) * 12 + x / 70;
            const bool edge = x % 70 == 69 || y % 130 == 129;
            const bool red = x % 70 == 3 && y % 130 == 3;
            picture.setPixel(x, y, red ? qRgb(255, 0, 0) : edge ? qRgb(200, 200, 200) : qRgb(tile, 10, 20));
        }
    }
    const std::vector<QPixmap> list = BuildNoteSymbolList(picture);
    QCOMPARE(list.size(), std::size_t{72});
    for (int i = 0; i < 72; ++i) {
        const QImage image = list[static_cast<std::size_t>(i)].toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.size(), QSize(70, 130));
        QCOMPARE(image.pixel(0, 0), qRgb(71 - i, 10, 20));
        QCOMPARE(image.pixel(68, 128), qRgb(71 - i, 10, 20));
        QCOMPARE(qAlpha(image.pixel(3, 3)), 0);
        QCOMPARE(qAlpha(image.pixel(69, 0)), 0);
        QCOMPARE(qAlpha(image.pixel(0, 129)), 0);
    }
}

void DialogsTest::NoteSymbolPictureHasOneSymbolPerNote() {
    const QImage picture = NoteSymbolPicture();
    QCOMPARE(picture.size(), QSize(840, 780));
    const std::vector<QPixmap> list = BuildNoteSymbolList(picture);
    std::set<QByteArray> distinct;
    for (const QPixmap& symbol : list) {
        const QImage image = symbol.toImage().convertToFormat(QImage::Format_ARGB32);
        int ink = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb pixel = image.pixel(x, y);
                // Only pure red is transparent: no reddish fringe may survive around the ink.
                QVERIFY(qAlpha(pixel) == 0 || qRed(pixel) != 255 || qGreen(pixel) != 0 || qBlue(pixel) != 0);
                ink += qAlpha(pixel) == 255 ? 1 : 0;
            }
        }
        QVERIFY(ink > 100);
        distinct.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
    }
    QCOMPARE(distinct.size(), std::size_t{72});
    const QByteArray folder = qgetenv("RUVO_TEST_OUTPUT_DIR");
    QVERIFY(picture.save((folder.isEmpty() ? QString(".") : QString::fromLocal8Bit(folder)) + "/note-symbols.png"));
}

void DialogsTest::HelpPagesBesideTheProgramOrInstalled_data() {
    QTest::addColumn<QStringList>("pages");  // relative to the prefix; the program is in bin/
    QTest::addColumn<QString>("found");
    QTest::newRow("build tree") << QStringList{"bin/index.htm", "share/ruvo/help/index.htm"} << "bin/index.htm";
    QTest::newRow("build tree, help folder") << QStringList{"bin/help/index.htm"} << "bin/help/index.htm";
    QTest::newRow("installed") << QStringList{"share/ruvo/help/index.htm"} << "share/ruvo/help/index.htm";
    // Nothing found: the page beside the program, whose absence the browser then reports.
    QTest::newRow("none") << QStringList{} << "bin/index.htm";
}

void DialogsTest::HelpPagesBesideTheProgramOrInstalled() {
    QFETCH(QStringList, pages);
    QFETCH(QString, found);
    QTemporaryDir prefix;
    QVERIFY(prefix.isValid());
    const std::filesystem::path root = prefix.path().toStdString();
    std::filesystem::create_directories(root / "bin");
    for (const QString& page : pages) {
        std::filesystem::create_directories((root / page.toStdString()).parent_path());
        std::ofstream(root / page.toStdString()) << "<html></html>";
    }
    QCOMPARE(QString::fromStdString(HelpIndexPage(root / "bin").string()),
             QString::fromStdString((root / found.toStdString()).string()));
}

void DialogsTest::ProgramIconAtEverySize() {
    // Drawn, not blank: the corners stay clear and the middle is the rounded square's blue.
    for (const int size : {16, 48, 256}) {
        const QImage icon = ProgramIconImage(size);
        QCOMPARE(icon.size(), QSize(size, size));
        QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(icon.pixel(size / 2, size - size / 8)), 255);
    }
    const QString svg = ProgramIconSvg();
    QVERIFY(svg.contains("viewBox=\"0 0 64 64\""));
}

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
