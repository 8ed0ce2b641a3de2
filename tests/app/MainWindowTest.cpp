// The real main window on the offscreen platform: start-up state, a conversion through the
// real pipeline with its progress, cancel, the tempo and alert dialogs, the export through
// the save dialog, the note grid's cells, responsiveness during a conversion, and a
// screenshot for a look.

#include "app/About.h"
#include "app/Alert.h"
#include "app/DocumentPipeline.h"
#include "app/DocumentStatus.h"
#include "app/IntenPro.h"
#include "app/Main.h"
#include "app/uTenpo4.h"
#include "components/HistMenu.h"
#include "audio/PlayerFiles.h"
#include "audio/play.h"
#include "engine/TMakeMidi.h"
#include "panes/NoteEdits.h"
#include "panes/NoteGridFile.h"
#include "panes/StrCGrid.h"
#include "platform/fake/FakeShell.h"
#include "platform/qt/QtSettingsStore.h"
#include "platform/qt/PathConvert.h"
#include "platform/qt/TerminationSignals.h"
#include "tests/app/AppTestSupport.h"
#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/MidiReader.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/Signals.h"
#include "tests/testsupport/TempDir.h"
#include "tests/testsupport/WavWriter.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <cmath>
#include <deque>
#include <csignal>
#include <functional>
#include <memory>

using namespace ruvo;
using namespace ruvo::apptest;

namespace {

// Answers the modal dialogs that open, one step per dialog, from inside their event loops.
class ModalScript : public QObject {
public:
    using Step = std::function<void(QWidget*)>;
    ModalScript() {
        connect(&m_timer, &QTimer::timeout, this, &ModalScript::Poll);
        m_timer.start(5);
    }
    ModalScript& Then(Step step) {
        m_steps.push_back(std::move(step));
        return *this;
    }
    bool Finished() const { return m_steps.empty(); }
    QStringList Seen;  // class names of the dialogs met, in order

private:
    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible() || modal == m_last) {
            return;
        }
        m_last = modal;
        Seen << QString::fromLatin1(modal->metaObject()->className());
        Step step = std::move(m_steps.front());
        m_steps.pop_front();
        if (m_steps.empty()) {
            // Done: the dialogs of later scripts are theirs.
            m_timer.stop();
        }
        // Not from inside this timer's own call: a step may open a nested dialog, which the
        // timer must still see.
        QTimer::singleShot(0, modal, [step = std::move(step), modal] { step(modal); });
    }

    QTimer m_timer;
    std::deque<Step> m_steps;
    QPointer<QWidget> m_last;
};

// Records every new text that the progress label paints.
class PercentWatcher : public QObject {
public:
    explicit PercentWatcher(QLabel* percent) : m_percent(percent) { percent->installEventFilter(this); }
    QStringList Shown;
    std::function<void(const QString&)> OnShown;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_percent && event->type() == QEvent::Paint &&
            (Shown.isEmpty() || Shown.last() != m_percent->text())) {
            Shown << m_percent->text();
            if (OnShown) {
                OnShown(m_percent->text());
            }
        }
        return false;
    }

private:
    QLabel* m_percent;
};

QPushButton* Button(QWidget* dialog, const char* name) { return dialog->findChild<QPushButton*>(name); }

void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

// A radio button takes clicks on its mark and caption only, at its left end.
void Click(QRadioButton* button) { QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2)); }

// Types a name into the file dialog's name box, as the user would.
void Type(QFileDialog* files, const std::string& name) {
    auto* edit = files->findChild<QLineEdit*>("fileNameEdit");
    QVERIFY(edit);
    edit->setText(QString::fromStdString(name));
}

QString ExpectedSeconds(int frames) { return QString::number(frames * 1024.0 / 22050.0, 'f', 3); }

// Half a second of silence, then a tone with five harmonics at note 40 for two seconds.
void WriteLateToneWav(const std::string& path) {
    using namespace ruvo::testsupport;
    constexpr double kRate = 22050.0;
    const double harmonics[] = {8000.0, 4000.0, 2500.0, 1500.0, 1000.0};
    std::vector<double> signal = Silence(11025);
    Append(signal, HarmonicTone(NoteHz(40), 44100, kRate, harmonics));
    WavFormat format;
    format.SampleRate = 22050;
    WriteWav(path, format, Quantize(signal, 16));
}

// Per frame, the notes that sound in the document's note table.
std::vector<std::vector<int>> SoundingNotes(const WavHead& doc) {
    std::vector<std::vector<int>> frames;
    for (const std::vector<double>& record : testsupport::ReadTable(doc.NoteIntenFileName, 72)) {
        std::vector<int>& notes = frames.emplace_back();
        for (int n = 0; n < 72; ++n) {
            if (record[static_cast<std::size_t>(n)] > 0.0) {
                notes.push_back(n);
            }
        }
    }
    return frames;
}

// The menu's analysis marks, the tempo command and the mode panel agree with `mode`.
void ExpectModeShown(TRuvoAppForm& form, AnalysisMode mode, bool document) {
    const bool melody = mode == AnalysisMode::Melody;
    const bool chords = mode == AnalysisMode::Chords;
    QCOMPARE(form.MelodyAnalysis1()->isChecked(), melody);
    QCOMPARE(form.ChordsAnalysis1()->isChecked(), chords);
    QCOMPARE(form.ClassicAnalysis1()->isChecked(), !melody && !chords);
    QCOMPARE(form.Tenpomenu()->isEnabled(), !melody && !chords);
    QCOMPARE(form.TenpoBtn()->isEnabled(), !melody && !chords);
    QCOMPARE(form.Pipeline().ModeChoice, mode);
    if (document) {
        QCOMPARE(form.Pipeline().Doc.Mode, mode);
        const QString caption = "Ruvo - " + QString::fromStdString(form.Pipeline().Doc.FileName);
        QCOMPARE(form.windowTitle(), caption + (melody ? " (melody mode)" : chords ? " (chords mode)" : ""));
    }
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void StartUpState();
    void HintsReachTheStatusBar();
    void ConversionShowsDocument();
    void NoteGridCellsFollowGridFileAndSelection();
    void CancelKeepsShownDocument_data();
    void CancelKeepsShownDocument();
    void TempoDialogWithAndWithoutAlert();
    void AnalysisModeFromTheMenu();
    void KeepLeadingSilenceReachesExportAndPlayer();
    void ExportThroughSaveDialog();
    void DisplayPlayerMark();
    void AboutBoxIsCentred();
    void FileErrorIsShownAndDocumentStays();
    void CommandLineFileAtFirstActivation();
    void RecordingOfThePlayerBecomesTheDocument();
    void CloseQuestionForEachWayAndAnswer_data();
    void CloseQuestionForEachWayAndAnswer();
    void SavedRecordingSurvivesTheClose();
    void TerminationKeepsAnUnsavedRecording_data();
    void TerminationKeepsAnUnsavedRecording();
    void EarlierRecordingIsOfferedWithItsHeaderRepaired();
    void ClosingDuringConversionCancelsThenCloses();
    void WindowStaysResponsiveDuringConversion();
    void ShortcutsReachTheirCommands_data();
    void ShortcutsReachTheirCommands();
    void ChoicesOutlastTheRun();
    void ChordsModeGivesTheConvertersTable();
    void Screenshot();

private:
    std::string Input(const char* name) const { return (m_inputs.path() + QLatin1Char('/') + name).toStdString(); }
    QString InputQ(const char* name) const { return m_inputs.path() + QLatin1Char('/') + name; }
    void Open(const char* name) { m_form->OpenFile(InputQ(name)); }
    DocumentPipeline& Pipeline() { return m_form->Pipeline(); }
    void ExpectOnlyDocumentFiles();

    QTemporaryDir m_inputs;
    std::unique_ptr<testsupport::TempDir> m_tmp;
    std::unique_ptr<testsupport::ScopedRecordingHost> m_host;
    FakeShell m_shell;
    std::unique_ptr<TRuvoAppForm> m_form;
};

void MainWindowTest::initTestCase() {
    QVERIFY(m_inputs.isValid());
    // Ten seconds, stereo: four notes that lie in the rows the grid shows after a build.
    WriteMelodyWav(Input("ten.wav"), {33, 36, 40, 43}, 2.5, 22050, 2, 16);
    WriteMelodyWav(Input("short.wav"), {38, 45}, 0.7, 22050, 1, 16);
    // Five minutes: the spectrum pass lasts long enough to cancel in it, even in an optimised build.
    WriteMelodyWav(Input("long.wav"), {30, 34, 37, 41, 44, 41, 37, 34}, 37.5, 22050, 1, 16);
}

void MainWindowTest::init() {
    m_tmp = std::make_unique<testsupport::TempDir>();
    m_host = std::make_unique<testsupport::ScopedRecordingHost>();
    m_shell = FakeShell();
    m_form = std::make_unique<TRuvoAppForm>(m_shell);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void MainWindowTest::cleanup() {
    m_form.reset();
    const std::set<std::string> left = FilesIn(m_tmp->Path().string());
    QVERIFY2(left.empty(), (std::to_string(left.size()) + " work files left").c_str());
    m_host.reset();
    m_tmp.reset();
}

void MainWindowTest::ExpectOnlyDocumentFiles() {
    QCOMPARE(FilesIn(m_tmp->Path().string()), DocumentAndKeptFiles(Pipeline()));
}

void MainWindowTest::StartUpState() {
    QCOMPARE(m_form->windowTitle(), QString("Ruvo"));
    QCOMPARE(m_form->font().family(), QString("Times New Roman"));
    QCOMPARE(m_form->font().pixelSize(), 13);
    QVERIFY(!m_form->SaveMidi()->isEnabled());
    QVERIFY(!m_form->FileSaveMidiFile()->isEnabled());
    QVERIFY(m_form->Player()->isVisible());
    QVERIFY(m_form->Displayalert1()->isChecked());
    QVERIFY(m_form->Displayplayer1()->isChecked());
    QVERIFY(!m_form->Progress()->isVisible());
    QVERIFY(!m_form->AboutBox()->isVisible());
    QCOMPARE(Pipeline().TempoChoice, kTempoFast);
    QCOMPARE(Pipeline().Doc.TempoClass, kTempoFast);
    QCOMPARE(Pipeline().Doc.ViewWidth, 1);
    QCOMPARE(Pipeline().Doc.ThresholdDefault, 0.4);

    QStringList menus;
    for (const QAction* menu : m_form->menuBar()->actions()) {
        menus << menu->text();
    }
    QCOMPARE(menus, QStringList({"&File", "&Edit", "&Setting", "&View", "&Help"}));
    QCOMPARE(m_form->FileOpenItem()->text(), QString("&Open..."));
    QCOMPARE(m_form->FileOpenItem()->statusTip(), QString("既存のﾌｧｲﾙを開く"));
    QCOMPARE(m_form->FileSaveMidiFile()->text(), QString("&Save Midi file..."));
    QCOMPARE(m_form->FileExitItem()->text(), QString("E&xit"));
    QCOMPARE(m_form->FileExitItem()->shortcut(), QKeySequence(Qt::ALT | Qt::Key_X));
    QCOMPARE(m_form->FileExitItem()->statusTip(), QString("ｱﾌﾟﾘｹｰｼｮﾝの終了"));
    QCOMPARE(m_form->Tenpomenu()->text(), QString("&Tempo..."));
    QCOMPARE(m_form->Displayalert1()->text(), QString("Display alert"));
    QCOMPARE(m_form->Displayplayer1()->text(), QString("Display player"));
    QCOMPARE(m_form->AboutApplication1()->text(), QString("&About Application..."));
    QCOMPARE(m_form->HelpBrouser1()->text(), QString("&Help Browser"));

    struct Expected {
        QToolButton* Button;
        int Left;
        const char* Tip;
        const char* Status;
    };
    for (const Expected& expected : {Expected{m_form->OpenBtn(), 11, "Open", "Open Wav File."},
                                     Expected{m_form->SaveMidi(), 39, "Save Midi", "Save Midi file."},
                                     Expected{m_form->TenpoBtn(), 90, "Tempo", "Set music's tempo for conversion."},
                                     Expected{m_form->ExitBtn(), 140, "Exit", "Exit from the application."}}) {
        QCOMPARE(expected.Button->x(), expected.Left);
        QCOMPARE(expected.Button->toolTip(), QString(expected.Tip));
        QCOMPARE(expected.Button->statusTip(), QString(expected.Status));
        QCOMPARE(expected.Button->parentWidget()->objectName(), QString("SpeedPanel"));
    }
    // The text's widths, shared out when the bar is narrower than they are.
    const std::array<int, kWavInfoPanels> widths =
        StatusPanelWidths(m_form->WavInfoPanel(0)->parentWidget()->width(), {});
    int left = 0;
    for (std::size_t i = 0; i < 7; ++i) {
        QLabel* panel = m_form->WavInfoPanel(i);
        QCOMPARE(panel->x(), left);
        QCOMPARE(panel->alignment() & Qt::AlignRight, Qt::AlignRight);
        QVERIFY(panel->text().isEmpty());
        left += widths[i];
    }
    QCOMPARE(m_form->MidiDisp2()->geometry(), QRect(135, 168, 475, 217));
    QVERIFY(!m_form->MididispbackUp()->isVisible());
    QCOMPARE(m_form->MidiDisp2()->Color(), QColor(0, 0, 255));
    QCOMPARE(m_form->OnpuImageList().size(), std::size_t{72});
}

void MainWindowTest::HintsReachTheStatusBar() {
    QStatusTipEvent buttonTip(m_form->OpenBtn()->statusTip());
    QApplication::sendEvent(m_form->OpenBtn(), &buttonTip);
    QCOMPARE(m_form->StatusBarLabel()->text(), QString("Open Wav File."));
    // A highlighted menu item sends its hint to the menu bar, which hands it on.
    m_form->FileExitItem()->showStatusText(m_form->menuBar());
    QCOMPARE(m_form->StatusBarLabel()->text(), QString("ｱﾌﾟﾘｹｰｼｮﾝの終了"));
}

void MainWindowTest::ConversionShowsDocument() {
    PercentWatcher percent(m_form->Progress()->Percent());
    QSignalSpy progressShown(m_form->Progress(), &QWidget::windowTitleChanged);
    Open("ten.wav");
    const WavHead& doc = Pipeline().Doc;
    QVERIFY(Pipeline().HasDocument());
    QVERIFY(m_host->Errors.empty());
    QCOMPARE(m_form->windowTitle(), "Ruvo - " + InputQ("ten.wav"));
    QVERIFY(m_form->SaveMidi()->isEnabled());
    QVERIFY(m_form->FileSaveMidiFile()->isEnabled());
    QVERIFY(m_form->Player()->isVisible());
    QCOMPARE(m_form->Player()->windowTitle(), "Player-" + InputQ("ten.wav"));
    QVERIFY(!m_form->Progress()->isVisible());

    QStringList steps;
    for (int i = 1; i <= 21; ++i) {
        steps << QString::number(4 * i) + "%";
    }
    QCOMPARE(percent.Shown, steps);

    QVERIFY(doc.FrameCount >= 214 && doc.FrameCount <= 216);
    QCOMPARE(m_form->WavInfoPanel(0)->text(), QString("Start: 0.000 sec"));
    QCOMPARE(m_form->WavInfoPanel(1)->text(), QString("Width: 4.644 sec"));
    QCOMPARE(m_form->WavInfoPanel(2)->text(), "Total: " + ExpectedSeconds(doc.FrameCount) + " sec");
    QCOMPARE(m_form->WavInfoPanel(3)->text(), QString("22050 samples/sec"));
    QCOMPARE(m_form->WavInfoPanel(4)->text(), QString("16 bits/sample"));
    QCOMPARE(m_form->WavInfoPanel(5)->text(), QString("Stereo"));
    QCOMPARE(m_form->WavInfoPanel(6)->text(), QString());

    // Grid metrics: one column per frame, 100 columns in view, row 25 at the top.
    TStrColGrid* grid = m_form->MidiDisp2();
    QCOMPARE(grid->ColCount(), doc.FrameCount);
    QCOMPARE(grid->DefaultColWidth(), 4);  // Round((475 - 10) / 100) - 1
    QCOMPARE(grid->TopRow(), 25);
    QCOMPARE(m_form->MididispbackUp()->RowCount(), 3);
    QCOMPARE(m_form->MididispbackUp()->ColCount(), doc.FrameCount);
    ExpectOnlyDocumentFiles();

    // The same file again after scrolling: the new document starts at its first column.
    grid->SetLeftCol(50);
    m_form->FormActivate();
    QCOMPARE(m_form->WavInfoPanel(0)->text(), "Start: " + ExpectedSeconds(50) + " sec");
    Open("ten.wav");
    QCOMPARE(grid->LeftCol(), 0);
    QCOMPARE(Pipeline().Doc.ViewStart, 0);
    QCOMPARE(m_form->WavInfoPanel(0)->text(), QString("Start: 0.000 sec"));

    // A second file replaces it; the window then shows the new one.
    Open("short.wav");
    QCOMPARE(m_form->windowTitle(), "Ruvo - " + InputQ("short.wav"));
    QCOMPARE(m_form->WavInfoPanel(5)->text(), QString("Mono"));
    QCOMPARE(m_form->WavInfoPanel(2)->text(), "Total: " + ExpectedSeconds(Pipeline().Doc.FrameCount) + " sec");
    ExpectOnlyDocumentFiles();
}

void MainWindowTest::NoteGridCellsFollowGridFileAndSelection() {
    Open("ten.wav");
    WavHead& doc = Pipeline().Doc;
    const std::vector<std::int8_t> levels = testsupport::ReadSigned(doc.MidiGridFileName);
    QCOMPARE(levels.size(), static_cast<std::size_t>(doc.FrameCount) * 72);
    TStrColGrid* grid = m_form->MidiDisp2();
    int notes = 0;
    for (int col = 0; col < doc.FrameCount; ++col) {
        for (int row = 0; row < 72; ++row) {
            const std::int8_t level = levels[static_cast<std::size_t>(col) * 72 + static_cast<std::size_t>(row)];
            notes += level > 0 ? 1 : 0;
            QCOMPARE(grid->CellColor(col, row).rgb(), GridLevelColor(level));
            QCOMPARE(grid->CellStyle(col, row), Qt::SolidPattern);  // all selected after a build
        }
    }
    QVERIFY(notes > 100);

    // Select columns 0..3 and widen the columns; cells after the selection are hatched.
    doc.SelStart = 0;
    doc.SelEnd = 3;
    doc.ViewWidth = 10;
    m_form->FormActivate();
    QCOMPARE(grid->DefaultColWidth(), 45);  // Round(46.5) - 1, the tie going to the even 46
    QCOMPARE(grid->CellStyle(3, 38), Qt::SolidPattern);
    QCOMPARE(grid->CellStyle(4, 38), Qt::DiagCrossPattern);

    // Row 38 is note 33, the first note of the melody, which sounds over these columns.
    const int row = 38;
    QVERIFY(levels[2 * 72 + row] > 0 && levels[6 * 72 + row] > 0);
    const QImage image = grid->viewport()->grab().toImage();
    const auto colours = [&](int col) {
        const QRect cell = grid->CellRect(col, row);
        std::set<QRgb> seen;
        for (int y = cell.top(); y <= cell.bottom(); ++y) {
            for (int x = cell.left(); x <= cell.right(); ++x) {
                seen.insert(image.pixel(x, y) & 0xffffffu);
            }
        }
        return seen;
    };
    const QRgb solidColour = GridLevelColor(levels[2 * 72 + row]) & 0xffffffu;
    const QRgb hatchColour = GridLevelColor(levels[6 * 72 + row]) & 0xffffffu;
    const QRgb blue = qRgb(0, 0, 255) & 0xffffffu;
    QVERIFY(!grid->CellRect(2, row).isEmpty());
    QCOMPARE(colours(2), std::set<QRgb>{solidColour});
    const std::set<QRgb> hatched = colours(6);
    QVERIFY(hatched.count(blue) == 1);
    QVERIFY(hatched.count(hatchColour) == 1);
}

void MainWindowTest::CancelKeepsShownDocument_data() {
    QTest::addColumn<QString>("at");
    QTest::newRow("WAV stage") << "8%";
    QTest::newRow("after the spectrum") << "20%";
    QTest::newRow("note stage") << "48%";
    QTest::newRow("last step") << "84%";
}

void MainWindowTest::CancelKeepsShownDocument() {
    QFETCH(QString, at);
    Open("short.wav");
    const WavHead before = Pipeline().Doc;
    const auto contents = Contents(before);
    const QString caption = m_form->windowTitle();
    const QString total = m_form->WavInfoPanel(2)->text();

    PercentWatcher percent(m_form->Progress()->Percent());
    percent.OnShown = [&](const QString& text) {
        if (text == at) {
            // A click as the user would make it, at the next chance events run.
            QTimer::singleShot(0, m_form->Progress()->Cancel(), [this] { Click(m_form->Progress()->Cancel()); });
        }
    };
    Open("ten.wav");
    QVERIFY(SameRecord(Pipeline().Doc, before));
    QVERIFY(Contents(Pipeline().Doc) == contents);
    ExpectOnlyDocumentFiles();
    QCOMPARE(m_form->windowTitle(), caption);
    QCOMPARE(m_form->WavInfoPanel(2)->text(), total);
    QVERIFY(!m_form->Progress()->isVisible());
    QVERIFY(m_form->Player()->isVisible());
    QCOMPARE(m_form->Player()->windowTitle(), "Player-" + InputQ("short.wav"));
    QVERIFY(!Pipeline().Busy());
}

void MainWindowTest::TempoDialogWithAndWithoutAlert() {
    // Without a document the choice only waits.
    ModalScript noDocument;
    noDocument.Then([](QWidget* dialog) {
        auto* tempo = qobject_cast<TTempo2*>(dialog);
        QVERIFY(tempo);
        Click(tempo->Slow());
        Click(Button(tempo, "OKBtn"));
    });
    m_form->TenpomenuClick();
    QCOMPARE(Pipeline().TempoChoice, kTempoSlow);
    QCOMPARE(noDocument.Seen, QStringList({"ruvo::TTempo2"}));

    Open("short.wav");
    QCOMPARE(Pipeline().Doc.TempoClass, kTempoFast);
    const std::string notesBefore = Pipeline().Doc.NoteIntenFileName;

    // The dialog opens on the document's class; Medium, then OK in the alert: a re-run.
    ModalScript medium;
    bool showedFast = false;
    QString alertText;
    medium
        .Then([&](QWidget* dialog) {
            auto* tempo = qobject_cast<TTempo2*>(dialog);
            showedFast = tempo->Fast()->isChecked() && !tempo->Slow()->isChecked();
            Click(tempo->Medium());
            Click(Button(tempo, "OKBtn"));
        })
        .Then([&](QWidget* dialog) {
            alertText = qobject_cast<TAlertDialog*>(dialog)->Memo()->toPlainText();
            Click(Button(dialog, "OKBtn"));
        });
    m_form->TenpomenuClick();
    QVERIFY(showedFast);
    QCOMPARE(medium.Seen, QStringList({"ruvo::TTempo2", "ruvo::TAlertDialog"}));
    QVERIFY(alertText.startsWith("Following operations will be "));
    QCOMPARE(Pipeline().Doc.TempoClass, kTempoMedium);
    QVERIFY(Pipeline().Doc.NoteIntenFileName != notesBefore);
    ExpectOnlyDocumentFiles();

    // Slow, then Cancel in the alert: nothing changes but the choice.
    const WavHead before = Pipeline().Doc;
    PercentWatcher percent(m_form->Progress()->Percent());
    ModalScript declined;
    declined
        .Then([](QWidget* dialog) {
            auto* tempo = qobject_cast<TTempo2*>(dialog);
            QVERIFY(tempo->Medium()->isChecked());
            Click(tempo->Slow());
            Click(Button(tempo, "OKBtn"));
        })
        .Then([](QWidget* dialog) { Click(Button(dialog, "CancelBtn")); });
    m_form->TenpomenuClick();
    QVERIFY(declined.Finished());
    QVERIFY(SameRecord(Pipeline().Doc, before));
    QCOMPARE(Pipeline().TempoChoice, kTempoSlow);
    QVERIFY(percent.Shown.isEmpty());

    // Without the alert the re-run starts at once; a re-run shows steps of 7.
    m_form->Displayalert1()->trigger();
    QVERIFY(!m_form->Displayalert1()->isChecked());
    ModalScript silent;
    silent.Then([](QWidget* dialog) {
        auto* tempo = qobject_cast<TTempo2*>(dialog);
        Click(tempo->Fast());
        Click(Button(tempo, "OKBtn"));
    });
    m_form->TenpomenuClick();
    QCOMPARE(silent.Seen, QStringList({"ruvo::TTempo2"}));
    QCOMPARE(Pipeline().Doc.TempoClass, kTempoFast);
    QCOMPARE(percent.Shown.first(), QString("7%"));
    QCOMPARE(percent.Shown.size(), 16);

    // The class the document already has: nothing runs.
    percent.Shown.clear();
    ModalScript same;
    same.Then([](QWidget* dialog) { Click(Button(dialog, "OKBtn")); });
    m_form->TenpomenuClick();
    QVERIFY(percent.Shown.isEmpty());
    QCOMPARE(Pipeline().Doc.TempoClass, kTempoFast);
}

void MainWindowTest::AnalysisModeFromTheMenu() {
    QStringList items;
    for (const QAction* item : m_form->menuBar()->actions().at(2)->menu()->actions()) {
        items << item->text();
    }
    QCOMPARE(items, QStringList({"&Tempo...", "Tempo and &meter...", "&Classic analysis", "&Melody (one voice)",
                                 "C&hords (several voices)", "",
                                 "&Keep leading silence", "", "&Beat lines", "Display alert", "Display player",
                                 "MIDI &output"}));
    for (const QAction* item : {m_form->ClassicAnalysis1(), m_form->MelodyAnalysis1(), m_form->ChordsAnalysis1(),
                                m_form->KeepLeadingSilence1()}) {
        QVERIFY(!item->statusTip().isEmpty());
    }
    ExpectModeShown(*m_form, AnalysisMode::Classic, false);

    // Without a document the choice waits for the next conversion: no alert, nothing runs.
    WriteLateToneWav(Input("tone.wav"));
    {
        ModalScript none;
        none.Then([](QWidget*) { QFAIL("no dialog expected"); });
        m_form->MelodyAnalysis1()->trigger();
        QCOMPARE(none.Seen, QStringList());
    }
    ExpectModeShown(*m_form, AnalysisMode::Melody, false);
    QCOMPARE(m_form->TenpoBtn()->statusTip(), QString("Melody mode does not use the tempo; choose Classic analysis "
                                                      "to set it."));

    // A melody document of a held tone: one note per frame, all of them the tone's.
    Open("tone.wav");
    ExpectModeShown(*m_form, AnalysisMode::Melody, true);
    int voiced = 0;
    for (const std::vector<int>& notes : SoundingNotes(Pipeline().Doc)) {
        QVERIFY(notes.size() <= 1);
        if (!notes.empty()) {
            QCOMPARE(notes[0], 40);
            ++voiced;
        }
    }
    QVERIFY2(voiced >= 38 && voiced <= 44, QByteArray::number(voiced));  // two seconds are 43 frames
    const WavHead melodyDoc = Pipeline().Doc;
    const auto melodyFiles = Contents(melodyDoc);

    // Back to Classic: the alert, then a re-run of the same recording in classic mode.
    ModalScript toClassic;
    toClassic.Then([](QWidget* dialog) { Click(Button(dialog, "OKBtn")); });
    m_form->ClassicAnalysis1()->trigger();
    QCOMPARE(toClassic.Seen, QStringList({"ruvo::TAlertDialog"}));
    ExpectModeShown(*m_form, AnalysisMode::Classic, true);
    QCOMPARE(Pipeline().Doc.IntenFileName, melodyDoc.IntenFileName);
    QVERIFY(Pipeline().Doc.NoteIntenFileName != melodyDoc.NoteIntenFileName);
    ExpectOnlyDocumentFiles();

    // Declined in the alert, and cancelled in the progress: the classic document stays, with
    // its mode and its marks.
    const WavHead classicDoc = Pipeline().Doc;
    const auto classicFiles = Contents(classicDoc);
    ModalScript declined;
    declined.Then([](QWidget* dialog) { Click(Button(dialog, "CancelBtn")); });
    m_form->MelodyAnalysis1()->trigger();
    QVERIFY(declined.Finished());
    QVERIFY(SameRecord(Pipeline().Doc, classicDoc));
    ExpectModeShown(*m_form, AnalysisMode::Classic, true);

    PercentWatcher percent(m_form->Progress()->Percent());
    percent.OnShown = [&](const QString& text) {
        if (text == "49%") {
            QTimer::singleShot(0, m_form->Progress()->Cancel(), [this] { Click(m_form->Progress()->Cancel()); });
        }
    };
    ModalScript cancelled;
    cancelled.Then([](QWidget* dialog) { Click(Button(dialog, "OKBtn")); });
    m_form->MelodyAnalysis1()->trigger();
    QVERIFY(percent.Shown.contains("49%"));
    QVERIFY(SameRecord(Pipeline().Doc, classicDoc));
    QVERIFY(Contents(Pipeline().Doc) == classicFiles);
    ExpectModeShown(*m_form, AnalysisMode::Classic, true);
    ExpectOnlyDocumentFiles();

    // Completed: the same table as the fresh melody conversion made.
    percent.OnShown = nullptr;
    ModalScript accepted;
    accepted.Then([](QWidget* dialog) { Click(Button(dialog, "OKBtn")); });
    m_form->MelodyAnalysis1()->trigger();
    ExpectModeShown(*m_form, AnalysisMode::Melody, true);
    QCOMPARE(ReadAll(Pipeline().Doc.NoteIntenFileName), melodyFiles.at(melodyDoc.NoteIntenFileName));
    ExpectOnlyDocumentFiles();
}

void MainWindowTest::KeepLeadingSilenceReachesExportAndPlayer() {
    WriteLateToneWav(Input("late.wav"));
    Open("late.wav");
    const auto firstStart = [this](const std::string& name) {
        const auto notes = testsupport::TrackNotes(testsupport::ReadMidiFile(name).Tracks.at(1));
        return notes.empty() ? std::int64_t{-1} : notes.front().StartTick;
    };
    const auto save = [this](const std::string& name) {
        ModalScript script;
        script.Then([&](QWidget* dialog) {
            Type(qobject_cast<QFileDialog*>(dialog), name);
            static_cast<QDialog*>(dialog)->accept();
        });
        m_form->FileSaveMidi();
        QVERIFY(script.Finished());
    };
    QVERIFY(!m_form->KeepLeadingSilence1()->isChecked());
    save(Input("at-once.mid"));
    QCOMPARE(firstStart(Input("at-once.mid")), std::int64_t{0});

    m_form->KeepLeadingSilence1()->trigger();
    QVERIFY(m_form->Player()->Record().KeepLeadingSilence);
    save(Input("in-time.mid"));
    // The tone starts after half a second: about 11 frames of 15 ticks.
    const std::int64_t start = firstStart(Input("in-time.mid"));
    QVERIFY2(start >= 9 * 15 && start <= 13 * 15, QByteArray::number(start));

    // The setting outlives the document: the next one keeps it, until it is unchecked.
    Open("short.wav");
    QVERIFY(Pipeline().Doc.KeepLeadingSilence);
    QVERIFY(m_form->Player()->Record().KeepLeadingSilence);
    m_form->KeepLeadingSilence1()->trigger();
    QVERIFY(!m_form->Player()->Record().KeepLeadingSilence);
}

void MainWindowTest::ExportThroughSaveDialog() {
    Open("ten.wav");
    const std::string out = Input("song.mid");
    std::filesystem::remove(out);
    QStringList filters;
    ModalScript save;
    save.Then([&](QWidget* dialog) {
        auto* files = qobject_cast<QFileDialog*>(dialog);
        QVERIFY(files);
        filters = files->nameFilters();
        QCOMPARE(files->acceptMode(), QFileDialog::AcceptSave);
        Type(files, out);
        static_cast<QDialog*>(files)->accept();
    });
    m_form->FileSaveMidi();
    QCOMPARE(filters, QStringList({"Midi file(*.mid)"}));
    QCOMPARE(Pipeline().Doc.MidiFileName, out);
    WavHead reference = Pipeline().Doc;
    reference.MidiFileName = Input("reference.mid");
    std::string written;
    TMakeMidi().ConvMidi(kMidiToUserFile, reference, 0, reference.FrameCount - 1, written);
    QCOMPARE(ReadAll(out), ReadAll(reference.MidiFileName));

    // An existing name asks first; No keeps the file, and the dialog is then cancelled.
    testsupport::WriteSigned(out, std::vector<std::int8_t>{1, 2, 3});
    ModalScript refuse;
    refuse
        .Then([&](QWidget* dialog) {
            auto* files = qobject_cast<QFileDialog*>(dialog);
            // The dialog offers the last name chosen.
            QCOMPARE(files->selectedFiles().value(0), QString::fromStdString(out));
            static_cast<QDialog*>(files)->accept();
        })
        .Then([](QWidget* box) {
            auto* question = qobject_cast<QMessageBox*>(box);
            QVERIFY(question);
            question->button(QMessageBox::No)->click();
        })
        .Then([](QWidget* dialog) { qobject_cast<QDialog*>(dialog)->reject(); });
    m_form->FileSaveMidi();
    QVERIFY2(refuse.Finished(), qPrintable(refuse.Seen.join(' ')));
    QCOMPARE(ReadAll(out), std::string("\x01\x02\x03"));

    // A name typed without extension gets ".mid"; the document's own sound file is refused
    // with a message (answering Yes to the replace question), and stays as it was.
    const std::string sound = ReadAll(Input("ten.wav"));
    for (const std::string& typedName : {Input("tune"), Input("ten.wav")}) {
        ModalScript typed;
        typed.Then([&](QWidget* dialog) {
            Type(qobject_cast<QFileDialog*>(dialog), typedName);
            static_cast<QDialog*>(dialog)->accept();
        });
        if (Exists(typedName)) {
            typed.Then([](QWidget* box) { qobject_cast<QMessageBox*>(box)->button(QMessageBox::Yes)->click(); });
        }
        m_form->FileSaveMidi();
        QVERIFY(typed.Finished());
    }
    QVERIFY(!Exists(Input("tune")));
    QCOMPARE(ReadAll(Input("tune.mid")), ReadAll(reference.MidiFileName));
    QCOMPARE(ReadAll(Input("ten.wav")), sound);
    QCOMPARE(m_host->Errors,
             std::vector<std::string>{"The MIDI file " + Input("ten.wav") +
                                      " would replace the document's sound file; choose another name."});
    QCOMPARE(Pipeline().Doc.MidiFileName, Input("tune.mid"));
}

void MainWindowTest::DisplayPlayerMark() {
    m_form->Displayplayer1()->trigger();
    QVERIFY(!m_form->Displayplayer1()->isChecked());
    QVERIFY(!m_form->Player()->isVisible());
    // A conversion shows the player again at its end; the mark stays as it is.
    Open("short.wav");
    QVERIFY(m_form->Player()->isVisible());
    QVERIFY(!m_form->Displayplayer1()->isChecked());
    m_form->Displayplayer1()->trigger();
    QVERIFY(m_form->Displayplayer1()->isChecked());
    QVERIFY(m_form->Player()->isVisible());
    m_form->Displayplayer1()->trigger();
    QVERIFY(!m_form->Player()->isVisible());
}

void MainWindowTest::AboutBoxIsCentred() {
    m_form->move(40, 30);
    m_form->AboutApplication1()->trigger();
    TAboutBox* box = m_form->AboutBox();
    QVERIFY(box->isVisible());
    QVERIFY(!box->isModal());
    const QRect main = m_form->frameGeometry();
    const QRect own = box->frameGeometry();
    QCOMPARE(own.left(), static_cast<int>(std::nearbyint(main.left() + main.width() * 0.5 - own.width() * 0.5)));
    QCOMPARE(own.top(), static_cast<int>(std::nearbyint(main.top() + main.height() * 0.5 - own.height() * 0.5)));
}

void MainWindowTest::FileErrorIsShownAndDocumentStays() {
    Open("short.wav");
    const WavHead before = Pipeline().Doc;
    Open("no-such-file.wav");
    QCOMPARE(m_host->Errors.size(), std::size_t{1});
    QVERIFY(QString::fromStdString(m_host->Errors[0]).contains("no-such-file.wav"));
    // A file the check refuses: the progress window is gone before the box, which names it.
    struct ProgressAtBox : testsupport::RecordingHost {
        QWidget* Progress = nullptr;
        std::vector<bool> Shown;
        void ErrorBox(const std::string& text) override {
            Shown.push_back(Progress->isVisible());
            RecordingHost::ErrorBox(text);
        }
    } host;
    host.Progress = m_form->Progress();
    const ScopedEngineHost scope(host);
    testsupport::WriteSigned(Input("noise.wav"), std::vector<std::int8_t>(400, 7));
    Open("noise.wav");
    QCOMPARE(host.Shown, std::vector<bool>{false});
    QVERIFY(host.Errors.at(0).starts_with(Input("noise.wav") + ":\n"));
    QVERIFY(SameRecord(Pipeline().Doc, before));
    QCOMPARE(m_form->windowTitle(), "Ruvo - " + InputQ("short.wav"));
    QVERIFY(!m_form->Progress()->isVisible());
    QVERIFY(m_form->Player()->isVisible());
    ExpectOnlyDocumentFiles();
}

void MainWindowTest::CommandLineFileAtFirstActivation() {
    m_form.reset();
    m_form = std::make_unique<TRuvoAppForm>(m_shell, InputQ("short.wav"));
    PercentWatcher percent(m_form->Progress()->Percent());
    m_form->show();
    QTRY_COMPARE(m_form->windowTitle(), "Ruvo - " + InputQ("short.wav"));
    QVERIFY(Pipeline().CmdLineDone());
    const int shown = static_cast<int>(percent.Shown.size());
    m_form->FormActivate();
    m_form->FormActivate();
    QCOMPARE(static_cast<int>(percent.Shown.size()), shown);
    ExpectOnlyDocumentFiles();
    // A name that is not valid UTF-8 opens as its bytes.
    const std::string latin1 = Input("") + "caf\xe9.wav";
    std::filesystem::copy_file(Input("short.wav"), latin1);
    m_form = std::make_unique<TRuvoAppForm>(m_shell, FileNameFromEngine(latin1));
    m_form->show();
    QTRY_COMPARE(Pipeline().Doc.FileName, latin1);
}

void MainWindowTest::RecordingOfThePlayerBecomesTheDocument() {
    Open("short.wav");
    // The player's record after a recording: its WAV among the work files, nothing analysed.
    const std::string recording = m_tmp->File("rwf0042.tmp");
    std::filesystem::copy_file(Input("ten.wav"), recording);
    WavHead record;
    record.FileName = recording;
    m_form->Player()->SetRecord(record);
    emit m_form->Player()->OnRecordingDone();
    // The notification is posted: nothing happens before the event loop delivers it.
    QVERIFY(Pipeline().Doc.FileName != recording);
    QTRY_COMPARE(m_form->windowTitle(), QString("Ruvo - Recording 1"));
    QVERIFY(Pipeline().DocIsRecording());
    // The save dialog offers the recording's name in the home folder, not its work file's.
    ModalScript offered;
    offered.Then([](QWidget* dialog) {
        QCOMPARE(qobject_cast<QFileDialog*>(dialog)->selectedFiles().value(0), QDir::homePath() + "/Recording 1.mid");
        static_cast<QDialog*>(dialog)->reject();
    });
    m_form->FileSaveMidi();
    QVERIFY(offered.Finished());
    // Replaced by a file from disk after Discard, the recording goes; the file from disk stays.
    ModalScript discard;
    discard.Then([](QWidget* box) {
        auto* question = qobject_cast<QMessageBox*>(box);
        QVERIFY(question);
        QVERIFY(question->text().startsWith("Save the recording rwf0042.tmp before closing?"));
        question->button(QMessageBox::Discard)->click();
    });
    Open("short.wav");
    QVERIFY(discard.Finished());
    QVERIFY(!Exists(recording));
    ExpectOnlyDocumentFiles();
    // Exit closes the window, which deletes the document's work files.
    QSignalSpy closed(m_form.get(), &TRuvoAppForm::OnClosed);
    Click(m_form->ExitBtn());
    QCOMPARE(closed.count(), 1);
    QVERIFY(FilesIn(m_tmp->Path().string()).empty());
    QVERIFY(Exists(Input("short.wav")));
}

namespace {

enum class CloseWay { ExitItem, CloseBox, AltX, ExitButton, OpenFile, Recording };

}  // namespace

void MainWindowTest::CloseQuestionForEachWayAndAnswer_data() {
    QTest::addColumn<int>("way");
    QTest::addColumn<int>("answer");
    const std::pair<const char*, CloseWay> ways[] = {
        {"Exit item", CloseWay::ExitItem}, {"close box", CloseWay::CloseBox}, {"Alt+X", CloseWay::AltX},
        {"Exit button", CloseWay::ExitButton}, {"open", CloseWay::OpenFile}, {"recording", CloseWay::Recording}};
    const std::pair<const char*, QMessageBox::StandardButton> answers[] = {
        {"Save", QMessageBox::Save}, {"Discard", QMessageBox::Discard}, {"Cancel", QMessageBox::Cancel}};
    for (const auto& [wayName, way] : ways) {
        for (const auto& [answerName, answer] : answers) {
            // A recording that arrives must go somewhere: its question has no Cancel.
            if (way != CloseWay::Recording || answer != QMessageBox::Cancel) {
                QTest::addRow("%s, %s", wayName, answerName) << static_cast<int>(way) << static_cast<int>(answer);
            }
        }
    }
}

// An edit not saved as MIDI: every way of closing or replacing the document asks once; Save
// exports first, Discard goes on, Cancel keeps the document and the window.
void MainWindowTest::CloseQuestionForEachWayAndAnswer() {
    QFETCH(int, way);
    QFETCH(int, answer);
    const auto closeWay = static_cast<CloseWay>(way);
    Open("ten.wav");
    Pipeline().CommitNoteEdit(NoteEdit::SetRun(3, 7, 30, Pipeline().Doc.PeakNoteValue), "Add note");
    const std::string before = Pipeline().Doc.FileName;
    const std::string saved = Input("saved.mid");
    std::filesystem::remove(saved);
    QStringList buttons;
    ModalScript script;
    script.Then([&](QWidget* box) {
        auto* question = qobject_cast<QMessageBox*>(box);
        QVERIFY(question);
        // Nothing closes when a recording replaces the document.
        QCOMPARE(question->text(), closeWay == CloseWay::Recording
                                       ? QString("Save the MIDI file of ten.wav before the new recording replaces it?")
                                       : QString("Save the MIDI file of ten.wav before closing?"));
        for (QAbstractButton* button : question->buttons()) {
            buttons << button->text();
        }
        question->button(static_cast<QMessageBox::StandardButton>(answer))->click();
    });
    if (answer == QMessageBox::Save) {
        script.Then([&](QWidget* dialog) {
            Type(qobject_cast<QFileDialog*>(dialog), saved);
            static_cast<QDialog*>(dialog)->accept();
        });
    }
    QSignalSpy closed(m_form.get(), &TRuvoAppForm::OnClosed);
    std::string recording;
    switch (closeWay) {
        case CloseWay::ExitItem: m_form->FileExitItem()->trigger(); break;
        case CloseWay::CloseBox: m_form->close(); break;
        case CloseWay::AltX:
            QCOMPARE(m_form->FileExitItem()->shortcut(), QKeySequence(Qt::ALT | Qt::Key_X));
            m_form->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
            QTest::keyClick(m_form->windowHandle(), Qt::Key_X, Qt::AltModifier);
            break;
        case CloseWay::ExitButton: Click(m_form->ExitBtn()); break;
        case CloseWay::OpenFile: Open("short.wav"); break;
        case CloseWay::Recording: {
            recording = m_tmp->File("rwf0043.tmp");
            std::filesystem::copy_file(Input("short.wav"), recording);
            WavHead record;
            record.FileName = recording;
            m_form->Player()->SetRecord(record);
            emit m_form->Player()->OnRecordingDone();
            QTRY_VERIFY(Pipeline().Doc.FileName == recording);
            break;
        }
    }
    QTRY_VERIFY2(script.Finished(), qPrintable(script.Seen.join(' ')));
    QCOMPARE(buttons.size(), closeWay == CloseWay::Recording ? 2 : 3);
    QCOMPARE(Exists(saved), answer == QMessageBox::Save);
    const bool closes = closeWay != CloseWay::OpenFile && closeWay != CloseWay::Recording;
    if (answer == QMessageBox::Cancel) {
        QCOMPARE(closed.count(), 0);
        QCOMPARE(Pipeline().Doc.FileName, before);
        QCOMPARE(Pipeline().History().UndoName(), std::string("Add note"));
        return;
    }
    if (closes) {
        QCOMPARE(closed.count(), 1);
        QVERIFY(FilesIn(m_tmp->Path().string()).empty());
        return;
    }
    QCOMPARE(closed.count(), 0);
    QVERIFY(Pipeline().Doc.FileName != before);
    QVERIFY(!Pipeline().History().CanUndo());
    std::set<std::string> expected = DocumentAndKeptFiles(Pipeline());
    if (!recording.empty()) {
        expected.insert("rwf0043.tmp");
    }
    QCOMPARE(FilesIn(m_tmp->Path().string()), expected);
}

// "Save recording as..." makes the recording the user's file: the document reads it from
// there, nothing asks at the close, and the file stays.
void MainWindowTest::SavedRecordingSurvivesTheClose() {
    QVERIFY(!m_form->FileSaveRecordingItem()->isEnabled());
    const std::string recording = m_tmp->File("rwf0044.tmp");
    std::filesystem::copy_file(Input("ten.wav"), recording);
    const std::string take = ReadAll(recording);
    WavHead record;
    record.FileName = recording;
    m_form->Player()->SetRecord(record);
    emit m_form->Player()->OnRecordingDone();
    QTRY_VERIFY(Pipeline().DocIsRecording());
    QVERIFY(m_form->FileSaveRecordingItem()->isEnabled());
    QVERIFY(Pipeline().Modified());

    const std::string kept = Input("take.wav");
    std::filesystem::remove(kept);
    ModalScript save;
    save.Then([&](QWidget* dialog) {
        auto* files = qobject_cast<QFileDialog*>(dialog);
        QVERIFY(files);
        QCOMPARE(files->nameFilters(), QStringList({"WAV file (*.wav)"}));
        Type(files, kept);
        static_cast<QDialog*>(files)->accept();
    });
    m_form->FileSaveRecordingItem()->trigger();
    QVERIFY(save.Finished());
    QCOMPARE(ReadAll(kept), take);
    QCOMPARE(Pipeline().Doc.FileName, kept);
    QVERIFY(!Exists(recording));
    QVERIFY(!m_form->FileSaveRecordingItem()->isEnabled());
    QVERIFY(!Pipeline().Modified());
    QVERIFY(m_form->windowTitle().endsWith("take.wav"));
    QCOMPARE(m_form->HistoryMenu1()->List().At(0), QString::fromStdString(kept));

    QSignalSpy closed(m_form.get(), &TRuvoAppForm::OnClosed);
    m_form->close();
    QCOMPARE(closed.count(), 1);
    QCOMPARE(ReadAll(kept), take);
    QVERIFY(FilesIn(m_tmp->Path().string()).empty());
}

void MainWindowTest::TerminationKeepsAnUnsavedRecording_data() {
    QTest::addColumn<QString>("command");
    for (const char* command : {"", "FileExitItem", "FileSaveMidiFile", "FileSaveRecordingItem", "MelodyAnalysis1"}) {
        QTest::newRow(*command != '\0' ? command : "no dialog") << QString::fromLatin1(command);
    }
}

// A termination signal closes without asking, and the recording outlives the program through
// the keep function (the work folder's, which moves it into the temporary folder). While a
// command waits on the user (close question, save dialogs, alert), its dialog goes and the
// window closes within a second.
void MainWindowTest::TerminationKeepsAnUnsavedRecording() {
    QFETCH(QString, command);
    const std::string recording = m_tmp->File("rwf0045.tmp");
    std::filesystem::copy_file(Input("short.wav"), recording);
    WavHead record;
    record.FileName = recording;
    m_form->Player()->SetRecord(record);
    emit m_form->Player()->OnRecordingDone();
    QTRY_VERIFY(Pipeline().DocIsRecording());
    Pipeline().CommitNoteEdit(NoteEdit::SetRun(3, 7, 30, 1.0), "Add note");
    const std::string moved = Input("rwf0045.tmp");
    QSignalSpy closed(m_form.get(), &TRuvoAppForm::OnClosed);
    const auto keep = [&](const std::string& name) {
        std::filesystem::rename(name, moved);
        return moved;
    };
    TerminationSignals termination;
    connect(&termination, &TerminationSignals::OnTerminationRequested, m_form.get(),
            [&] { m_form->CloseWithoutAsking(keep); });
    QElapsedTimer clock;
    ModalScript script;
    script.Then([&](QWidget*) { clock.start(); std::raise(SIGTERM); });
    command.isEmpty() ? m_form->CloseWithoutAsking(keep) : m_form->findChild<QAction*>(command)->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 1000);
    QVERIFY(command.isEmpty() || clock.elapsed() < 1000);
    QVERIFY(Exists(moved));
    QVERIFY(FilesIn(m_tmp->Path().string()).empty());
    std::filesystem::remove(moved);
}

// A take of a run that was killed, its header still announcing nothing, is offered at the
// start; Open makes it the document with the length that reached the file.
void MainWindowTest::EarlierRecordingIsOfferedWithItsHeaderRepaired() {
    const std::string take = m_tmp->File("rwf0047.tmp");
    std::filesystem::copy_file(Input("short.wav"), take);
    FinishRecordingHeader(take, 0);
    ModalScript script;
    script.Then([&](QWidget* box) {
        auto* question = qobject_cast<QMessageBox*>(box);
        QVERIFY(question);
        QCOMPARE(question->text(), QString("A recording from an earlier run was found: open, save or discard it?"));
        for (QAbstractButton* button : question->buttons()) {
            if (button->text() == "&Open") button->click();
        }
    });
    m_form->OfferEarlierRecordings({take});
    QTRY_VERIFY(script.Finished());
    QTRY_VERIFY(Pipeline().DocIsRecording());
    QCOMPARE(Pipeline().Doc.FileName, take);
    QCOMPARE(std::uintmax_t(Pipeline().Doc.SampleCount), (testsupport::FileSize(take) - 44) / 2);
}

void MainWindowTest::ClosingDuringConversionCancelsThenCloses() {
    Open("short.wav");
    QSignalSpy closed(m_form.get(), &TRuvoAppForm::OnClosed);
    PercentWatcher percent(m_form->Progress()->Percent());
    percent.OnShown = [&](const QString& text) {
        if (text == "48%") {
            QTimer::singleShot(0, m_form.get(), [this] { m_form->close(); });
        }
    };
    Open("ten.wav");
    // The close waited for the conversion to unwind; the window closes right after.
    QTRY_COMPARE(closed.count(), 1);
    QVERIFY(!m_form->isVisible());
    QVERIFY(FilesIn(m_tmp->Path().string()).empty());
    QVERIFY(Exists(Input("short.wav")));
}

void MainWindowTest::WindowStaysResponsiveDuringConversion() {
    // Events must run at least every frame: a timer shows how long the loop went without.
    QElapsedTimer clock;
    qint64 last = -1;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setInterval(2);
    connect(&ticker, &QTimer::timeout, this, [&] {
        const qint64 now = clock.elapsed();
        if (last >= 0) {
            longestGap = std::max(longestGap, now - last);
        }
        last = now;
    });
    qint64 clickedAt = -1;
    connect(m_form->Progress()->Cancel(), &QPushButton::clicked, this, [&] { clickedAt = clock.elapsed(); });
    int repaints = 0;
    PercentWatcher percent(m_form->Progress()->Percent());
    percent.OnShown = [&](const QString& text) {
        ++repaints;
        if (text == "16%") {
            // Start measuring in the spectrum pass, the longest stretch of the conversion.
            last = -1;
            ticker.start();
            QTimer::singleShot(100, m_form->Progress()->Cancel(), [this] { Click(m_form->Progress()->Cancel()); });
        }
    };
    clock.start();
    Open("long.wav");
    const qint64 cancelTook = clock.elapsed() - clickedAt;
    ticker.stop();
    qInfo("longest stretch without events: %lld ms; cancel to end of the run: %lld ms", longestGap, cancelTook);
    QVERIFY(clickedAt >= 0);
    QVERIFY(!Pipeline().HasDocument());
    // The targets are 50 ms; the bounds leave room for a machine busy with other work.
    QVERIFY2(longestGap < 250, QByteArray::number(longestGap).constData());
    QVERIFY2(cancelTook < 250, QByteArray::number(cancelTook).constData());
    QVERIFY(repaints >= 4);
}

void MainWindowTest::ShortcutsReachTheirCommands_data() {
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<int>("wheel");  // with Ctrl, instead of the keys; in eighths of a degree
    QTest::addColumn<QString>("item");
    QTest::addColumn<int>("span");  // the sign of the time span's change
    const QKeySequence none;
    QTest::newRow("Ctrl+O") << QKeySequence(Qt::CTRL | Qt::Key_O) << 0 << "FileOpenItem" << 0;
    QTest::newRow("Ctrl+S") << QKeySequence(Qt::CTRL | Qt::Key_S) << 0 << "FileSaveMidiFile" << 0;
    QTest::newRow("Ctrl+Shift+S") << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S) << 0 << "FileSaveScoreItem" << 0;
    QTest::newRow("F1") << QKeySequence(Qt::Key_F1) << 0 << "HelpBrouser1" << 0;
    QTest::newRow("Space") << QKeySequence(Qt::Key_Space) << 0 << "PlayOrStopItem" << 0;
    QTest::newRow("+") << QKeySequence(Qt::Key_Plus) << 0 << "ZoomInItem" << -1;
    QTest::newRow("=") << QKeySequence(Qt::Key_Equal) << 0 << "ZoomInItem" << -1;
    QTest::newRow("-") << QKeySequence(Qt::Key_Minus) << 0 << "ZoomOutItem" << 1;
    QTest::newRow("Ctrl+wheel up") << none << 120 << "" << -1;
    QTest::newRow("Ctrl+wheel down") << none << -120 << "" << 1;
    QTest::newRow("Ctrl+Q") << QKeySequence(Qt::CTRL | Qt::Key_Q) << 0 << "FileExitItem" << 0;
}

// Each shortcut typed on the window reaches its menu item; the zooms change the time span.
void MainWindowTest::ShortcutsReachTheirCommands() {
    QFETCH(QKeySequence, keys);
    QFETCH(int, wheel);
    QFETCH(QString, item);
    QFETCH(int, span);
    Open("ten.wav");
    Pipeline().Doc.ViewWidth = 100;
    m_shell.HtmlCommand = "/bin/sh --new-window %u";  // the help page opens without a box
    ModalScript script;  // the Open and Save dialogs are cancelled
    script.Then([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    auto* action = item.isEmpty() ? nullptr : m_form->findChild<QAction*>(item);
    QVERIFY(item.isEmpty() || action != nullptr);
    QSignalSpy triggered(action != nullptr ? action : m_form->FileOpenItem(), &QAction::triggered);
    if (wheel != 0) {
        QWidget* viewport = m_form->MidiDisp2()->viewport();
        const QPointF at(20, 20);
        QWheelEvent event(at, viewport->mapToGlobal(at), {}, QPoint(0, wheel), Qt::NoButton, Qt::ControlModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &event);
    } else {
        QApplication::setActiveWindow(m_form.get());  // the offscreen platform leaves none after the conversion
        QTest::keySequence(m_form->windowHandle(), keys);
    }
    QCOMPARE(triggered.count(), action != nullptr ? 1 : 0);
    const int change = Pipeline().Doc.ViewWidth - 100;
    QCOMPARE((change > 0) - (change < 0), span);
    QCOMPARE(m_shell.Started.size(), std::size_t{item == "HelpBrouser1" ? 1u : 0u});
}

// The analysis mode and "Keep leading silence" chosen in one run are those of the next, in a
// private settings file; the caption shows the mode of a document opened then.
void MainWindowTest::ChoicesOutlastTheRun() {
    QTemporaryDir config;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    {
        QtSettingsStore settings(QStringLiteral("RuvoTest"), QStringLiteral("ruvo"));
        TRuvoAppForm first(m_shell, settings);
        ExpectModeShown(first, AnalysisMode::Classic, false);
        QVERIFY(!first.KeepLeadingSilence1()->isChecked());
        first.MelodyAnalysis1()->trigger();
        first.KeepLeadingSilence1()->trigger();
        settings.Sync();
    }
    QtSettingsStore settings(QStringLiteral("RuvoTest"), QStringLiteral("ruvo"));
    TRuvoAppForm second(m_shell, settings);
    ExpectModeShown(second, AnalysisMode::Melody, false);
    QVERIFY(second.KeepLeadingSilence1()->isChecked());
    QVERIFY(second.Pipeline().Doc.KeepLeadingSilence);
    second.OpenFile(InputQ("short.wav"));
    ExpectModeShown(second, AnalysisMode::Melody, true);
}

// Chords mode chosen in the menu: a triad of harmonic tones shows its three rows, and the
// converter's chords mode writes the same note table for the same file.
void MainWindowTest::ChordsModeGivesTheConvertersTable() {
    using namespace ruvo::testsupport;
    const double partials[] = {3000.0, 2400.0, 1000.0, 700.0};
    std::vector<double> signal = Silence(6615);
    std::vector<double> triad(44100, 0.0);
    for (const int note : {27, 31, 34}) {
        const std::vector<double> tone = HarmonicTone(NoteHz(note), triad.size(), 22050.0, partials);
        for (std::size_t i = 0; i < triad.size(); ++i) triad[i] += tone[i];
    }
    Append(signal, triad);
    Append(signal, Silence(8820));
    WriteWav(Input("triad.wav"), WavFormat{}, Quantize(signal, 16));

    m_form->ChordsAnalysis1()->trigger();
    ExpectModeShown(*m_form, AnalysisMode::Chords, false);
    Open("triad.wav");
    ExpectModeShown(*m_form, AnalysisMode::Chords, true);
    std::set<int> rows;
    for (const std::vector<int>& notes : SoundingNotes(Pipeline().Doc)) rows.insert(notes.begin(), notes.end());
    for (const int row : {27, 31, 34}) QVERIFY2(rows.count(row) == 1, QByteArray::number(row));

    QProcess convert;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", m_inputs.path());
    convert.setProcessEnvironment(env);
    convert.start(QStringLiteral(RUVO_CONVERTER),
                  {"--mode", "chords", "--keep-work-files", "-o", InputQ("triad.mid"), InputQ("triad.wav")});
    QVERIFY(convert.waitForFinished(60000));
    QCOMPARE(convert.exitCode(), 0);
    QString table;
    for (const QString& name : QString::fromLocal8Bit(convert.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
        if (QFileInfo(name).fileName().startsWith("not")) table = name;
    }
    QVERIFY(!table.isEmpty());
    QCOMPARE(ReadAll(table.toStdString()), ReadAll(Pipeline().Doc.NoteIntenFileName));
}

void MainWindowTest::Screenshot() {
    Open("ten.wav");
    QApplication::processEvents();
    const QByteArray folder = qgetenv("RUVO_TEST_OUTPUT_DIR");
    const QString path = (folder.isEmpty() ? QString(".") : QString::fromLocal8Bit(folder)) + "/main-window.png";
    QVERIFY(m_form->grab().save(path));
    QVERIFY(m_form->Player()->grab().save(path.chopped(4) + "-player.png"));
    // The same recording in melody mode, to lay beside the classic one.
    m_form->Displayalert1()->trigger();
    m_form->MelodyAnalysis1()->trigger();
    QCOMPARE(Pipeline().Doc.Mode, AnalysisMode::Melody);
    QApplication::processEvents();
    QVERIFY(m_form->grab().save(path.chopped(4) + "-melody.png"));
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
