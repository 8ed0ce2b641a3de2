// The score in the real main window: its menu items, the tempo and meter form and its
// corrections as steps of the edit history (typed, tapped, a meter, a downbeat clicked on the
// time scale), the score following grid edits and re-runs, and "Save score".

#include "app/DocumentPipeline.h"
#include "app/Main.h"
#include "app/ScoreWindow.h"
#include "app/TempoMeterForm.h"
#include "panes/NoteEdits.h"
#include "panes/Scales.h"
#include "panes/StrCGrid.h"
#include "platform/fake/FakeShell.h"
#include "tests/app/AppTestSupport.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/Signals.h"
#include "tests/testsupport/TempDir.h"
#include "tests/testsupport/WavWriter.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <memory>

using namespace ruvo;
using namespace ruvo::apptest;

namespace {

// Answers the next modal dialog of type Dialog from inside its event loop.
template <typename Dialog>
void Answer(const std::function<void(Dialog*)>& step) {
    auto* poll = new QTimer;  // deleted by itself once it has answered
    QObject::connect(poll, &QTimer::timeout, poll, [poll, step] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (dialog != nullptr && dialog->isVisible()) {
            poll->stop();
            poll->deleteLater();
            step(dialog);
        }
    });
    poll->start(5);
}

}  // namespace

class ScoreWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void MenuItemsAndBeatLines();
    void PaintsGetTheScoreOfTheLatestState();
    void ChoicesAreUndoableSteps_data();
    void ChoicesAreUndoableSteps();
    void WindowKeysWorkFromTheBoxes_data();
    void WindowKeysWorkFromTheBoxes();
    void FoundTempoStaysBesideTheUsers_data();
    void FoundTempoStaysBesideTheUsers();
    void TapTempoFromTheLastIntervals_data();
    void TapTempoFromTheLastIntervals();
    void TapAndSpaceBarFillTheTempo();
    void ChoicesOutliveReRunsNotTheDocument();
    void ScoreFollowsGridEdits();
    void SaveScoreFailureShowsTheWritersMessage();
    void SaveScoreWritesTheChosenFormat_data();
    void SaveScoreWritesTheChosenFormat();

private:
    std::string Input(const char* name) const { return (m_inputs.path() + QLatin1Char('/') + name).toStdString(); }
    void Open(const char* name) { m_form->OpenFile(QString::fromStdString(Input(name))); }
    ScoreWindow& Side() { return *m_form->ScoreSide(); }
    TTempoMeterForm& Form() { return *Side().TempoMeterForm(); }
    std::vector<BeatPixel> GridLines() {
        return Side().Lines().Pixels(BeatLinePainter::GridView(*m_form->MidiDisp2()));
    }

    QTemporaryDir m_inputs;
    std::unique_ptr<testsupport::TempDir> m_tmp;
    std::unique_ptr<testsupport::ScopedRecordingHost> m_host;
    FakeShell m_shell;
    std::unique_ptr<TRuvoAppForm> m_form;
};

void ScoreWindowTest::initTestCase() {
    QVERIFY(m_inputs.isValid());
    WriteMelodyWav(Input("ten.wav"), {33, 36, 40, 43}, 2.5);
    testsupport::WavFormat format;
    format.SampleRate = 22050;
    testsupport::WriteWav(Input("silence.wav"), format, testsupport::Quantize(testsupport::Silence(44100), 16));
}

void ScoreWindowTest::init() {
    m_tmp = std::make_unique<testsupport::TempDir>();
    m_host = std::make_unique<testsupport::ScopedRecordingHost>();
    m_form = std::make_unique<TRuvoAppForm>(m_shell);
    m_form->Displayalert1()->setChecked(false);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void ScoreWindowTest::cleanup() {
    m_form.reset();
    QVERIFY(FilesIn(m_tmp->Path().string()).empty());
    m_host.reset();
    m_tmp.reset();
}

void ScoreWindowTest::MenuItemsAndBeatLines() {
    QStringList fileItems;
    for (const QAction* item : m_form->menuBar()->actions().at(0)->menu()->actions()) {
        fileItems << item->text();
    }
    QCOMPARE(fileItems.indexOf("Save &score..."), fileItems.indexOf("&Save Midi file...") + 1);
    QVERIFY(!Side().SaveScoreItem()->isEnabled());
    QVERIFY(Side().BeatLinesItem()->isChecked());

    Open("ten.wav");
    QVERIFY(Side().SaveScoreItem()->isEnabled());
    // At the grid's first zoom some bars and beats stand in view, bar 1 at the left edge.
    const std::vector<BeatPixel> shown = GridLines();
    QVERIFY(shown.size() >= 2);
    QCOMPARE(shown.front(), (BeatPixel{0, true}));
    Side().BeatLinesItem()->trigger();
    QVERIFY(GridLines().empty());
    Side().BeatLinesItem()->trigger();
    QCOMPARE(GridLines(), shown);
}

// The panes' paints take the score from the worker: never one of an earlier state of the
// document, and the same score as the one built at once.
void ScoreWindowTest::PaintsGetTheScoreOfTheLatestState() {
    Open("ten.wav");
    DocumentScore& score = Side().Score();
    QTRY_VERIFY(score.Ready());
    const std::vector<BeatPixel> shown = GridLines();
    ScoreChoices choices;
    choices.Bpm = 100.0;
    score.SetChoices(choices);
    QVERIFY(!score.Ready());
    QTRY_VERIFY(score.Ready());
    QCOMPARE(score.Current()->Tempo.front().Bpm, 100.0);
    score.SetChoices({});
    QTRY_VERIFY(score.Ready());
    QCOMPARE(GridLines(), shown);
}

void ScoreWindowTest::ChoicesAreUndoableSteps_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("step");  // empty: refused with a message
    QTest::newRow("typed tempo") << "tempo"
                                 << "100"
                                 << "Score tempo";
    QTest::newRow("tempo too fast") << "tempo"
                                    << "401"
                                    << "";
    QTest::newRow("tempo too slow") << "tempo"
                                    << "19.9"
                                    << "";
    QTest::newRow("not a tempo") << "tempo"
                                 << "fast"
                                 << "";
    QTest::newRow("meter 3/4") << "meter"
                               << "3/4"
                               << "Time signature";
    QTest::newRow("meter 6/8") << "meter"
                               << "6/8"
                               << "Time signature";
    QTest::newRow("meter 7/5") << "meter"
                               << "7/5"
                               << "";
    QTest::newRow("not a meter") << "meter"
                                 << "waltz"
                                 << "";
    QTest::newRow("downbeat clicked") << "downbeat"
                                      << "100"
                                      << "First downbeat";
}

void ScoreWindowTest::ChoicesAreUndoableSteps() {
    QFETCH(QString, what);
    QFETCH(QString, input);
    QFETCH(QString, step);
    Open("ten.wav");
    Side().TempoMeterItem()->trigger();
    QVERIFY(Form().isVisible());
    const std::vector<BeatPixel> before = GridLines();
    const std::size_t steps = m_form->Pipeline().History().StepCount();
    if (what == "tempo") {
        Form().TempoEdit()->setText(input);
        QTest::mouseClick(Form().ApplyTempoButton(), Qt::LeftButton);
    } else if (what == "meter") {
        Form().MeterBox()->lineEdit()->setText(input);
        QTest::keyClick(Form().MeterBox()->lineEdit(), Qt::Key_Return);
    } else {
        QTest::mouseClick(m_form->HTime(), Qt::LeftButton, {}, QPoint(input.toInt(), 5));
    }
    if (step.isEmpty()) {
        QVERIFY(!Form().MessageLabel()->text().isEmpty());
        QVERIFY(!Form().MessageLabel()->styleSheet().isEmpty());  // a refusal stands out
        QCOMPARE(m_form->Pipeline().History().StepCount(), steps);
        QVERIFY(SameChoices(Side().Score().Choices(), {}));
        return;
    }
    QVERIFY2(Form().MessageLabel()->text().isEmpty(), qPrintable(Form().MessageLabel()->text()));
    QCOMPARE(m_form->Pipeline().History().StepCount(), steps + 1);
    QCOMPARE(QString::fromStdString(m_form->Pipeline().History().UndoName()), step);
    const ScoreChoices chosen = Side().Score().Choices();
    if (what == "tempo") {
        QCOMPARE(chosen.Bpm.value_or(0.0), input.toDouble());
    } else if (what == "meter") {
        QCOMPARE(chosen.TimeSignature, ParseMeter(input.toStdString()));
    } else {
        QCOMPARE(chosen.DownbeatSeconds.value_or(-1.0), Side().TimeScaleSeconds(input.toInt()));
    }
    const std::vector<BeatPixel> after = GridLines();
    QVERIFY(after != before);

    m_form->EditUndoClick();
    QVERIFY(SameChoices(Side().Score().Choices(), {}));
    QCOMPARE(GridLines(), before);
    m_form->EditRedoClick();
    QVERIFY(SameChoices(Side().Score().Choices(), chosen));
    QCOMPARE(GridLines(), after);
}

void ScoreWindowTest::WindowKeysWorkFromTheBoxes_data() {
    QTest::addColumn<bool>("meter");
    QTest::addColumn<QString>("input");
    QTest::newRow("tempo box") << false << "100";
    QTest::newRow("meter box") << true << "3/4";
}

// The focus stays in the box after Return: the window's undo, redo and save keys still work
// there, and the box losing its focus after an undo makes no step of its own.
void ScoreWindowTest::WindowKeysWorkFromTheBoxes() {
    QFETCH(bool, meter);
    QFETCH(QString, input);
    Open("ten.wav");
    Side().TempoMeterItem()->trigger();
    QVERIFY(QTest::qWaitForWindowExposed(&Form()));
    Form().activateWindow();
    QTRY_COMPARE(QGuiApplication::focusWindow(), Form().windowHandle());
    QWidget* box = meter ? static_cast<QWidget*>(Form().MeterBox()) : Form().TempoEdit();
    box->setFocus();
    (meter ? Form().MeterBox()->lineEdit() : Form().TempoEdit())->setText(input);
    QTest::keyClick(box, Qt::Key_Return);
    const ScoreChoices chosen = Side().Score().Choices();
    QVERIFY(!SameChoices(chosen, {}));
    const std::size_t steps = m_form->Pipeline().History().StepCount();
    QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(SameChoices(Side().Score().Choices(), {}));
    Form().TapButton()->setFocus();
    QCOMPARE(m_form->Pipeline().History().StepCount(), steps);
    QVERIFY(SameChoices(Side().Score().Choices(), {}));
    QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(SameChoices(Side().Score().Choices(), chosen));
    QSignalSpy saves(Side().SaveScoreItem(), &QAction::triggered);
    Answer<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    QTest::keyClick(box, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(saves.count(), 1);
}

void ScoreWindowTest::FoundTempoStaysBesideTheUsers_data() {
    QTest::addColumn<QString>("document");
    QTest::addColumn<bool>("notes");
    QTest::newRow("melody") << "ten.wav" << true;
    QTest::newRow("silence") << "silence.wav" << false;
}

void ScoreWindowTest::FoundTempoStaysBesideTheUsers() {
    QFETCH(QString, document);
    QFETCH(bool, notes);
    Open(document.toUtf8().constData());
    Side().TempoMeterItem()->trigger();
    const QString found = QString::number(Side().Score().Current()->Tempo.front().Bpm, 'f', 1) + " bpm";
    QCOMPARE(Form().FoundLabel()->text(), notes ? found : "None (no notes); the score of rests is at " + found);
    Form().TempoEdit()->setText("100");
    QTest::mouseClick(Form().ApplyTempoButton(), Qt::LeftButton);
    QCOMPARE(Form().FoundCaption()->text(), QString("Your tempo:"));
    QTRY_COMPARE(Form().FoundLabel()->text(),
                 "100.0 bpm (" + (notes ? "found: " + found : QString("none found: no notes")) + ")");
}

void ScoreWindowTest::TapTempoFromTheLastIntervals_data() {
    QTest::addColumn<std::vector<double>>("taps");
    QTest::addColumn<double>("bpm");  // 0: none yet
    QTest::newRow("one tap") << std::vector<double>{3.0} << 0.0;
    QTest::newRow("two taps") << std::vector<double>{0.0, 0.5} << 120.0;
    QTest::newRow("mean, not the last interval") << std::vector<double>{0.0, 0.6, 1.1, 1.8} << 100.0;
    QTest::newRow("a pause starts again") << std::vector<double>{0.0, 0.5, 3.0, 3.6} << 100.0;
    QTest::newRow("a pause, then one tap") << std::vector<double>{0.0, 0.5, 3.0} << 0.0;
    QTest::newRow("the last eight taps") << std::vector<double>{0.0, 1.0, 2.0, 2.5, 3.0, 3.5, 4.0, 4.5, 5.0, 5.5}
                                         << 120.0;
}

void ScoreWindowTest::TapTempoFromTheLastIntervals() {
    QFETCH(std::vector<double>, taps);
    QFETCH(double, bpm);
    TapTempo tapper;
    std::optional<double> found;
    for (const double at : taps) {
        found = tapper.Tap(at);
    }
    QCOMPARE(found.value_or(0.0), bpm);
}

void ScoreWindowTest::TapAndSpaceBarFillTheTempo() {
    Open("ten.wav");
    Side().TempoMeterItem()->trigger();
    QVERIFY(QTest::qWaitForWindowExposed(&Form()));
    const std::size_t steps = m_form->Pipeline().History().StepCount();
    // The space bar taps from the focus the form opens with.
    Form().activateWindow();
    QTest::keyClick(Form().focusWidget(), Qt::Key_Space);
    QTest::qWait(300);
    QTest::mouseClick(Form().TapButton(), Qt::LeftButton);
    QVERIFY2(Form().MessageLabel()->text().startsWith("2 taps"), qPrintable(Form().MessageLabel()->text()));
    QVERIFY(Form().MessageLabel()->styleSheet().isEmpty());  // progress is no refusal
    bool ok = false;
    const double tapped = Form().TempoEdit()->text().toDouble(&ok);
    // Two taps some 300 ms apart on a busy machine: within the range a tempo may have.
    QVERIFY2(ok && tapped >= 20.0 && tapped <= 210.0, qPrintable(Form().TempoEdit()->text()));
    QCOMPARE(m_form->Pipeline().History().StepCount(), steps);
    QTest::mouseClick(Form().ApplyTempoButton(), Qt::LeftButton);
    QCOMPARE(Side().Score().Choices().Bpm.value_or(0.0), tapped);
    QCOMPARE(m_form->Pipeline().History().StepCount(), steps + 1);
    // The window's undo item knows the step at once, and its shortcut works in the form.
    QVERIFY(m_form->EditUndoItem()->isEnabled());
    QTest::keyClick(&Form(), Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(!Side().Score().Choices().Bpm);
}

void ScoreWindowTest::ChoicesOutliveReRunsNotTheDocument() {
    Open("ten.wav");
    QCOMPARE(Side().Score().Choose({90.0, Meter{3, 4}, std::nullopt}, "Score tempo"), 0);
    m_form->AnalysisModeClick(AnalysisMode::Melody);
    QCOMPARE(m_form->Pipeline().Doc.Mode, AnalysisMode::Melody);
    QCOMPARE(Side().Score().Current()->Tempo.front().Bpm, 90.0);
    QCOMPARE(Side().Score().Current()->TimeSignature, (Meter{3, 4}));
    m_form->EditUndoClick();
    QCOMPARE(m_form->Pipeline().Doc.Mode, AnalysisMode::Classic);
    QCOMPARE(Side().Score().Choices().Bpm.value_or(0.0), 90.0);
    m_form->EditUndoClick();
    QVERIFY(SameChoices(Side().Score().Choices(), {}));
    Open("silence.wav");
    QVERIFY(SameChoices(Side().Score().Choices(), {}));
    QCOMPARE(m_form->Pipeline().History().StepCount(), std::size_t{0});
}

void ScoreWindowTest::ScoreFollowsGridEdits() {
    Open("ten.wav");
    const std::size_t notes = Side().Score().Current()->Notes.size();
    // A note far from the melody's rows, as the grid editor writes it.
    m_form->Pipeline().CommitNoteEdit(NoteEdit::SetRun(100, 110, 10, 3.0), "Add note");
    QCOMPARE(Side().Score().Current()->Notes.size(), notes + 1);
    m_form->EditUndoClick();
    QCOMPARE(Side().Score().Current()->Notes.size(), notes);
}

void ScoreWindowTest::SaveScoreFailureShowsTheWritersMessage() {
    Open("ten.wav");
    // A folder that does not exist: every writer fails there.
    const std::string target = Input("missing/ten.musicxml");
    std::string writersMessage;
    QVERIFY(WriteMusicXml(*Side().Score().Current(), target, writersMessage) != 0);
    Answer<QFileDialog>([&](QFileDialog* dialog) {
        dialog->selectFile(QString::fromStdString(target));
        static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
    });
    QCOMPARE(Side().FileSaveScore(), -1);
    QCOMPARE(m_host->Errors.size(), std::size_t{1});
    QVERIFY2(m_host->Errors[0].find(writersMessage) != std::string::npos, m_host->Errors[0].c_str());
    QVERIFY(!std::filesystem::exists(target));
}

void ScoreWindowTest::SaveScoreWritesTheChosenFormat_data() {
    QTest::addColumn<QString>("document");
    QTest::addColumn<int>("filter");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QByteArray>("begins");
    QTest::addColumn<QString>("status");
    QTest::newRow("MusicXML") << "ten.wav" << 0 << "ten.musicxml" << QByteArray("<?xml") << "Score saved";
    QTest::newRow("MIDI") << "ten.wav" << 1 << "ten.mid" << QByteArray("MThd") << "Score saved";
    QTest::newRow("no notes") << "silence.wav" << 0 << "silence.musicxml" << QByteArray("<?xml") << "no notes";
}

// Passes once the score module writes files; until then its writers refuse every file.
void ScoreWindowTest::SaveScoreWritesTheChosenFormat() {
    QFETCH(QString, document);
    QFETCH(int, filter);
    QFETCH(QString, written);
    QFETCH(QByteArray, begins);
    QFETCH(QString, status);
    Open(document.toUtf8().constData());
    std::string probe;
    if (WriteMusicXml(*Side().Score().Current(), Input("probe.musicxml"), probe) != 0) {
        QSKIP(("the score writers of this build write nothing: " + probe).c_str());
    }
    QString suggested;
    QStringList filters;
    Answer<QFileDialog>([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        suggested = dialog->selectedFiles().value(0);
        dialog->selectNameFilter(filters.value(filter));
        emit dialog->filterSelected(filters.value(filter));
        // The name without its extension: the filter gives it one.
        dialog->selectFile(QFileInfo(suggested).completeBaseName());
        static_cast<QDialog*>(dialog)->accept();
    });
    QCOMPARE(Side().FileSaveScore(), 0);
    QCOMPARE(filters, QStringList({"MusicXML (*.musicxml *.xml)", "MIDI in musical time (*.mid)"}));
    QCOMPARE(QFileInfo(suggested).fileName(), QFileInfo(document).completeBaseName() + ".musicxml");
    const std::string path = Input(written.toUtf8().constData());
    QVERIFY2(ReadAll(path).rfind(begins.toStdString(), 0) == 0, path.c_str());
    QVERIFY2(m_form->StatusBarLabel()->text().contains(status), qPrintable(m_form->StatusBarLabel()->text()));
    // Another document is offered its own name in that folder, never the last score's.
    const char* other = document == "ten.wav" ? "silence.wav" : "ten.wav";
    Open(other);
    Answer<QFileDialog>([&](QFileDialog* dialog) {
        suggested = dialog->selectedFiles().value(0);
        static_cast<QDialog*>(dialog)->reject();
    });
    QCOMPARE(Side().FileSaveScore(), -1);
    QCOMPARE(suggested, QString::fromStdString(Input(other)).replace(".wav", ".musicxml"));
}

QTEST_MAIN(ScoreWindowTest)
#include "ScoreWindowTest.moc"
