// The panes around the note grid on the real main window with a converted document: the
// selection clicks, the note grid's gestures checked against the files, the threshold and
// harmonic strips with their re-runs, a failed rewrite, a document of one frame, and
// screenshots for a look.

#include "app/DocumentPipeline.h"
#include "app/EditingPanes.h"
#include "app/Main.h"
#include "engine/Conversion.h"
#include "engine/TMakeMidi.h"
#include "engine/TNote.h"
#include "engine/UFile.h"
#include "panes/NoteGridEditor.h"
#include "panes/NoteGridFile.h"
#include "panes/KeyBoardPane.h"
#include "panes/PaintBox.h"
#include "panes/ThresholdPane.h"
#include "panes/StrCGrid.h"
#include "platform/fake/FakeShell.h"
#include "tests/app/AppTestSupport.h"
#include "tests/testsupport/MidiReader.h"
#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/TempDir.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QDialog>
#include <QDir>
#include <QImage>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <cstdio>
#include <memory>

using namespace ruvo;
using namespace ruvo::apptest;

namespace {

// What the two note files of the document should hold: every cell of the note table and of
// the grid file, changed by the test as each gesture should change them.
struct NoteModel {
    testsupport::Table Notes;
    std::vector<std::int8_t> Grid;

    NoteModel(std::size_t frames) : Notes(frames, std::vector<double>(kGridRows, 0.0)), Grid(frames * kGridRows, 0) {}
    double& Note(std::int32_t frame, std::int32_t row) {
        return Notes[static_cast<std::size_t>(frame)][static_cast<std::size_t>(RowToNote(row))];
    }
    std::int8_t& Byte(std::int32_t frame, std::int32_t row) {
        return Grid[static_cast<std::size_t>(frame) * kGridRows + static_cast<std::size_t>(row)];
    }
    void Set(std::int32_t first, std::int32_t last, std::int32_t row, double value, std::int8_t level) {
        for (std::int32_t f = first; f <= last; ++f) {
            Note(f, row) = value;
            Byte(f, row) = level;
        }
    }
};

// Answers every modal dialog (the alert before a re-run) with OK or Cancel.
class AlertAnswer : public QObject {
public:
    explicit AlertAnswer(bool accept) : m_accept(accept) {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                ++Seen;
                m_accept ? dialog->accept() : dialog->reject();
            }
        });
        m_timer.start(5);
    }
    int Seen = 0;

private:
    bool m_accept;
    QTimer m_timer;
};

// The note table a separate run of the note stage makes from doc's spectrum and side files.
testsupport::Table FreshNoteTable(const WavHead& doc) {
    WavHead rec = doc;
    const std::pair<std::string WavHead::*, const char*> renamed[] = {{&WavHead::Temp1FileName, "tm1"},
                                                                      {&WavHead::Temp2FileName, "tm2"},
                                                                      {&WavHead::NoteIntenFileName, "not"},
                                                                      {&WavHead::RawNoteFileName, "ioc"}};
    for (const auto& [field, prefix] : renamed) {
        GetTempName(prefix, rec.*field);
    }
    TNote note;
    const std::int32_t result = RunNoteStage(note, rec, 0, [](Tick) { return true; });
    testsupport::Table table =
        result == 0 ? testsupport::ReadTable(rec.NoteIntenFileName, kGridRows) : testsupport::Table{};
    for (const auto& [field, prefix] : renamed) {
        std::remove((rec.*field).c_str());
    }
    return table;
}

}  // namespace

class EditingPanesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void SelectionClicksInBothBoxes();
    void GridGesturesRewriteBothFiles();
    void OneFrameNoteZones();
    void DragPreviewAndReleaseOutside();
    void DropsOffTheCellsOrInPlaceChangeNothing();
    void ThresholdReleaseSetsSelectedMarginsAndReruns();
    void HarmonicClicksSetSelectedFramesAndRerun();
    void CancelledAlertKeepsRewrittenSideFile();
    void OneFrameDocumentPaintsAndClicks();
    void FailedRewriteIsShownAndFilesStayWhole();
    void MelodyDocumentStripsAndEdits();
    void EditMenuNamesAndTakesTheSteps();

private:
    QString InputQ(const char* name) const { return m_inputs.path() + QLatin1Char('/') + name; }
    std::string Input(const char* name) const { return InputQ(name).toStdString(); }
    WavHead& Doc() { return m_form->Pipeline().Doc; }
    void Open(const char* name);
    TStrColGrid* Grid() { return m_form->MidiDisp2(); }
    QWidget* Cells() { return m_form->MidiDisp2()->viewport(); }
    // A point inside cell (col, row), `dx` pixels from its left edge.
    QPoint At(std::int32_t col, std::int32_t row, int dx = 1) {
        const QRect cell = Grid()->CellRect(col, row);
        return {cell.x() + dx, cell.y() + cell.height() / 2};
    }
    // Writes the model into the document's files and shows them.
    void Load(const NoteModel& model);
    // Both files hold exactly the model.
    void ExpectFiles(const NoteModel& model);

    QTemporaryDir m_inputs;
    std::unique_ptr<testsupport::TempDir> m_tmp;
    std::unique_ptr<testsupport::ScopedRecordingHost> m_host;
    FakeShell m_shell;
    std::unique_ptr<TRuvoAppForm> m_form;
};

void EditingPanesTest::initTestCase() {
    QVERIFY(m_inputs.isValid());
    // Four notes of 2.5 s in the rows that the grid shows after a build: 215 frames.
    WriteMelodyWav(Input("ten.wav"), {33, 36, 40, 43}, 2.5, 22050, 1, 16);
}

void EditingPanesTest::init() {
    m_tmp = std::make_unique<testsupport::TempDir>();
    m_host = std::make_unique<testsupport::ScopedRecordingHost>();
    m_form = std::make_unique<TRuvoAppForm>(m_shell);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void EditingPanesTest::cleanup() {
    m_form.reset();
    QVERIFY(FilesIn(m_tmp->Path().string()).empty());
    m_host.reset();
    m_tmp.reset();
}

void EditingPanesTest::Open(const char* name) {
    m_form->OpenFile(InputQ(name));
    QVERIFY(m_form->Pipeline().HasDocument());
    QVERIFY(m_host->Errors.empty());
}

void EditingPanesTest::SelectionClicksInBothBoxes() {
    Open("ten.wav");
    TPaintBox* wav = m_form->Panes().WavDisp();
    TPaintBox* overview = m_form->Panes().SelectRgn();
    QCOMPARE(wav->geometry(), QRect(136, 34, 457, 94));
    QCOMPARE(overview->geometry(), QRect(88, 144, 537, 16));
    QCOMPARE(Doc().ViewWidth, 100);

    // Frame = Round(X / (457 / 99)) + ViewStart.
    QTest::mouseClick(wav, Qt::LeftButton, {}, QPoint(100, 40));
    QCOMPARE(Doc().SelStart, 22);
    QTest::mouseClick(wav, Qt::RightButton, {}, QPoint(300, 40));
    QCOMPARE(Doc().SelEnd, 65);
    QTest::mouseClick(wav, Qt::MiddleButton, {}, QPoint(10, 40));
    QCOMPARE(Doc().SelStart, 22);
    QCOMPARE(Doc().SelEnd, 65);
    const QImage picture = wav->grab().toImage();
    QCOMPARE(picture.pixel(50, 2), qRgb(0, 0, 128));
    QCOMPARE(picture.pixel(200, 2), qRgb(128, 0, 128));

    // The right end of the overview is the last frame; a start clicked past the end, or an
    // end before the start, would reverse the selection, which is put in order and shown.
    const int frames = Doc().FrameCount;
    const auto overviewFrame = [frames](int x) { return static_cast<int>(std::nearbyint(x / (537.0 / (frames - 1)))); };
    QTest::mouseClick(overview, Qt::LeftButton, {}, QPoint(536, 8));
    QCOMPARE(Doc().SelStart, 65);
    QCOMPARE(Doc().SelEnd, frames - 1);
    QTest::mouseClick(overview, Qt::RightButton, {}, QPoint(30, 8));
    QCOMPARE(Doc().SelStart, overviewFrame(30));
    QCOMPARE(Doc().SelEnd, 65);
    const QImage strip = overview->grab().toImage();
    QVERIFY(strip.pixel(40, 2) != qRgb(0, 0, 128));  // shown: not the unselected blue

    // A left drag selects what it spans, either way, in both boxes; the press alone is a click.
    const struct {
        TPaintBox* Box;
        int From, To;
        int Start, End;
    } drags[] = {{wav, 100, 300, 22, 65}, {wav, 300, 100, 22, 65}, {wav, 300, 900, 65, 195},  // past the box: frames beyond the view
                 {wav, 300, 5000, 65, frames - 1},
                 {overview, 400, 50, overviewFrame(50), overviewFrame(400)}};
    for (const auto& drag : drags) {
        QTest::mousePress(drag.Box, Qt::LeftButton, {}, QPoint(drag.From, 8));
        QTest::mouseMove(drag.Box, QPoint((drag.From + drag.To) / 2, 8));
        QTest::mouseMove(drag.Box, QPoint(drag.To, 8));
        QTest::mouseRelease(drag.Box, Qt::LeftButton, {}, QPoint(drag.To, 8));
        QCOMPARE(Doc().SelStart, drag.Start);
        QCOMPARE(Doc().SelEnd, drag.End);
    }
    QVERIFY(m_host->Errors.empty());
}

void EditingPanesTest::Load(const NoteModel& model) {
    testsupport::WriteTable(Doc().NoteIntenFileName, model.Notes);
    testsupport::WriteSigned(Doc().MidiGridFileName, model.Grid);
    m_form->Pipeline().RefreshDocumentView();
}

void EditingPanesTest::ExpectFiles(const NoteModel& model) {
    QVERIFY(testsupport::ReadTable(Doc().NoteIntenFileName, kGridRows) == model.Notes);
    QVERIFY(testsupport::ReadSigned(Doc().MidiGridFileName) == model.Grid);
    QCOMPARE(FilesIn(m_tmp->Path().string()), DocumentAndKeptFiles(m_form->Pipeline()));
}

void EditingPanesTest::GridGesturesRewriteBothFiles() {
    Open("ten.wav");
    const std::int32_t frames = Doc().FrameCount;
    const double peak = Doc().PeakNoteValue;
    NoteModel model(static_cast<std::size_t>(frames));
    model.Set(frames - 6, frames - 1, 27, -1.0, -1);  // an erased run up to the last column
    for (std::int32_t f = 20; f <= 29; ++f) {         // a note of many colours in 20 .. 29
        model.Set(f, f, 29, 0.5 + f, static_cast<std::int8_t>(5 + 9 * (f - 20)));
    }
    for (std::int32_t f = 10; f <= 14; ++f) {  // five distinct values in 10 .. 14
        model.Set(f, f, 30, 2.0 + f, static_cast<std::int8_t>(40 + f));
    }
    model.Set(5, 10, 31, 3.0, 60);
    model.Set(60, 64, 34, 4.0, 80);  // a note above another that spans more columns
    model.Set(58, 66, 37, 5.0, 20);
    Load(model);
    QCOMPARE(Grid()->TopRow(), 25);
    QCOMPARE(Grid()->DefaultColWidth(), 4);  // Round(465 / 100) - 1

    // Delete: a right click anywhere on the note silences the whole run.
    QTest::mouseClick(Cells(), Qt::RightButton, {}, At(24, 29));
    model.Set(20, 29, 29, 0.0, 0);
    ExpectFiles(model);
    QCOMPARE(Grid()->CellColor(22, 29).rgb(), qRgb(0, 0, 255));

    // Shift with overlap: grabbed in its left fifth, dropped two columns later.
    QTest::mousePress(Cells(), Qt::LeftButton, {}, At(10, 30));
    QCOMPARE(static_cast<int>(m_form->Panes().NoteGridEditor().Drag().Mode), static_cast<int>(DragMode::dmShift));
    QTest::mouseMove(Cells(), At(12, 30));
    QTest::mouseRelease(Cells(), Qt::LeftButton, {}, At(12, 30));
    const NoteModel beforeShift = model;
    model.Set(10, 11, 30, 0.0, 0);
    for (std::int32_t f = 12; f <= 16; ++f) {
        model.Note(f, 30) = 2.0 + (f - 2);
        model.Byte(f, 30) = static_cast<std::int8_t>(40 + (f - 2));
    }
    ExpectFiles(model);
    QCOMPARE(m_form->Panes().NoteGridEditor().Drag().Active, 0);

    // Lengthen 5 .. 10 to 14 (grabbed in its right fifth), then shorten it to 7.
    QTest::mousePress(Cells(), Qt::LeftButton, {}, At(10, 31, 3));
    QCOMPARE(static_cast<int>(m_form->Panes().NoteGridEditor().Drag().Mode), static_cast<int>(DragMode::dmLength));
    QTest::mouseMove(Cells(), At(14, 31));
    QTest::mouseRelease(Cells(), Qt::LeftButton, {}, At(14, 31));
    model.Set(10, 14, 31, 110.0, 110);
    ExpectFiles(model);
    QCOMPARE(Grid()->CellColor(9, 31).rgb(), GridLevelColor(60));
    QCOMPARE(Grid()->CellColor(12, 31).rgb(), qRgb(255, 255, 255));
    QTest::mousePress(Cells(), Qt::LeftButton, {}, At(14, 31, 3));
    QTest::mouseMove(Cells(), At(7, 31));
    QTest::mouseRelease(Cells(), Qt::LeftButton, {}, At(7, 31));
    model.Set(8, 14, 31, 0.0, 0);
    ExpectFiles(model);

    // A vertical drop swaps the rows over the note's columns, with the note lying below.
    QTest::mousePress(Cells(), Qt::LeftButton, {}, At(62, 34));
    QCOMPARE(static_cast<int>(m_form->Panes().NoteGridEditor().Drag().Mode), static_cast<int>(DragMode::dmPitch));
    QTest::mouseMove(Cells(), At(62, 36));
    QTest::mouseMove(Cells(), At(62, 37));
    QTest::mouseRelease(Cells(), Qt::LeftButton, {}, At(62, 37));
    for (std::int32_t f = 60; f <= 64; ++f) {
        std::swap(model.Note(f, 34), model.Note(f, 37));
        std::swap(model.Byte(f, 34), model.Byte(f, 37));
    }
    ExpectFiles(model);

    // Near the end: an added note has the three frames left; an erased run that reaches the
    // last column is restored without it.
    Grid()->SetLeftCol(frames);
    QCOMPARE(Doc().ViewStart, Grid()->LeftCol());
    QTest::mouseClick(Cells(), Qt::LeftButton, {}, At(frames - 3, 28));
    model.Set(frames - 3, frames - 1, 28, peak, 110);
    ExpectFiles(model);
    QTest::mouseClick(Cells(), Qt::LeftButton, {}, At(frames - 4, 27));
    model.Set(frames - 6, frames - 2, 27, peak, 110);
    ExpectFiles(model);
    QCOMPARE(Grid()->CellColor(frames - 1, 27).rgb(), qRgb(0, 0, 0));

    // A press right of the last column hits no cell: nothing changes, and no box.
    const QRect last = Grid()->CellRect(frames - 1, 30);
    QTest::mouseClick(Cells(), Qt::LeftButton, {}, QPoint(last.right() + 3, last.center().y()));
    QVERIFY(m_host->Errors.empty());
    ExpectFiles(model);
    Q_UNUSED(beforeShift);
}

// A one-frame note 20 pixels wide: its left 0.3 shifts it, its right 0.3 moves its end, the
// middle moves its pitch; a drop where it was grabbed changes no value.
void EditingPanesTest::OneFrameNoteZones() {
    Open("ten.wav");
    NoteModel model(static_cast<std::size_t>(Doc().FrameCount));
    model.Set(50, 50, 33, 7.0, 90);
    Doc().ViewWidth = 22;
    Load(model);
    Grid()->SetLeftCol(40);
    QCOMPARE(Grid()->DefaultColWidth(), 20);  // Round(465 / 22) - 1
    const struct {
        int Dx;
        DragMode Mode;
    } cases[] = {{0, DragMode::dmShift},  {6, DragMode::dmShift},   {7, DragMode::dmPitch},
                 {13, DragMode::dmPitch}, {14, DragMode::dmLength}, {19, DragMode::dmLength}};
    for (const auto& c : cases) {
        QTest::mousePress(Cells(), Qt::LeftButton, {}, At(50, 33, c.Dx));
        QCOMPARE(static_cast<int>(m_form->Panes().NoteGridEditor().Drag().Mode), static_cast<int>(c.Mode));
        QTest::mouseRelease(Cells(), Qt::LeftButton, {}, At(50, 33, c.Dx));
        QCOMPARE(m_form->Panes().NoteGridEditor().Drag().Active, 0);
        ExpectFiles(model);
    }
    QVERIFY(m_host->Errors.empty());
}

// The preview during a drag, a release outside the grid that keeps the drag alive, a press
// that is then ignored, and the release inside that commits; screenshots of both moments.
void EditingPanesTest::DragPreviewAndReleaseOutside() {
    Open("ten.wav");
    NoteModel model(static_cast<std::size_t>(Doc().FrameCount));
    model.Set(20, 27, 30, 6.0, 95);
    Load(model);
    TNoteGridEditor& editor = m_form->Panes().NoteGridEditor();

    QTest::mousePress(Cells(), Qt::LeftButton, {}, At(23, 30));
    QTest::mouseMove(Cells(), At(23, 33));
    QCOMPARE(editor.SymbolRow(), 33);
    QCOMPARE(editor.Drag().CurRow, 33);
    // The ghost in the scratch grid's own colour on row 33; the note still on row 30.
    const QRgb ghost = m_form->MididispbackUp()->Color().rgb();
    QCOMPARE(Grid()->CellColor(22, 33).rgb(), ghost);
    QCOMPARE(Grid()->CellColor(22, 30).rgb(), qRgb(255, 255, 0));
    m_form->grab().save(QString::fromLocal8Bit(qgetenv("RUVO_TEST_OUTPUT_DIR")) + "/drag-preview.png");

    QTest::mouseRelease(Cells(), Qt::LeftButton, {}, QPoint(-20, 10));
    QCOMPARE(editor.Drag().Active, 1);
    ExpectFiles(model);
    QTest::mousePress(Cells(), Qt::LeftButton, {}, At(23, 35));  // ignored: the drag goes on
    QTest::mouseMove(Cells(), At(23, 35));
    QTest::mouseRelease(Cells(), Qt::LeftButton, {}, At(23, 35));
    QCOMPARE(editor.Drag().Active, 0);
    for (std::int32_t f = 20; f <= 27; ++f) {
        std::swap(model.Note(f, 30), model.Note(f, 35));
        std::swap(model.Byte(f, 30), model.Byte(f, 35));
    }
    ExpectFiles(model);
    QCOMPARE(Grid()->CellColor(22, 33).rgb(), qRgb(0, 0, 255));  // the preview is gone
    QCOMPARE(Grid()->CellColor(22, 35).rgb(), qRgb(255, 255, 0));
    m_form->grab().save(QString::fromLocal8Bit(qgetenv("RUVO_TEST_OUTPUT_DIR")) + "/after-edit.png");

    // A shift whose end would pass the last column stops there (no box); the release commits it.
    const std::int32_t frames = Doc().FrameCount;
    model.Set(frames - 12, frames - 9, 31, 6.0, 95);
    Load(model);
    Grid()->SetLeftCol(frames);
    QTest::mousePress(Cells(), Qt::LeftButton, {}, At(frames - 12, 31));
    QTest::mouseMove(Cells(), At(frames - 6, 31));
    QCOMPARE(editor.Drag().CurStart, frames - 6);
    QTest::mouseMove(Cells(), At(frames - 1, 31, 6));
    QCOMPARE(editor.Drag().CurStart, frames - 4);
    QCOMPARE(editor.Drag().CurEnd, frames - 1);
    QTest::mouseRelease(Cells(), Qt::LeftButton, {}, At(frames - 2, 31));
    model.Set(frames - 12, frames - 9, 31, 0.0, 0);
    model.Set(frames - 4, frames - 1, 31, 6.0, 95);
    ExpectFiles(model);
}

// Drops in place record no step, drops over a scroll bar keep the drag
// (finished where it began), an end dragged before its start stops there, an open ends a drag.
void EditingPanesTest::DropsOffTheCellsOrInPlaceChangeNothing() {
    Open("ten.wav");
    NoteModel model(static_cast<std::size_t>(Doc().FrameCount));
    model.Set(10, 14, 30, 4.0, 80);
    model.Set(20, 27, 30, 6.0, 95);
    Load(model);
    const QPoint vbar(Cells()->width() + 4, At(23, 30).y()), hbar(At(23, 30).x(), Cells()->height() + 4);
    const std::pair<QPoint, QPoint> drops[] = {{At(27, 30, 3), vbar}, {At(23, 30), hbar}, {At(23, 30), At(23, 30)},
                                               {At(20, 30, 0), At(20, 30, 0)}, {At(27, 30, 3), At(12, 30)}};
    for (const auto& [grab, to] : drops) {
        for (const auto& [from, at] : {std::pair{grab, to}, std::pair{to, grab}}) {
            QTest::mousePress(Cells(), Qt::LeftButton, {}, from);
            QTest::mouseMove(Cells(), at);
            QTest::mouseRelease(Cells(), Qt::LeftButton, {}, at);
        }
        QCOMPARE(m_form->Pipeline().History().UndoName(), std::string(to == At(12, 30) ? "Shorten note" : ""));
    }
    model.Set(21, 27, 30, 0.0, 0);
    ExpectFiles(model);
    m_form->EditUndoItem()->trigger();  // unchanged again: the open asks nothing
    QTest::mousePress(Cells(), Qt::LeftButton, {}, At(12, 30));
    QTest::mouseRelease(Cells(), Qt::LeftButton, {}, hbar);
    Open("ten.wav");
    QCOMPARE(m_form->Panes().NoteGridEditor().Drag().Active, 0);
    QVERIFY(m_host->Errors.empty());
}

void EditingPanesTest::ThresholdReleaseSetsSelectedMarginsAndReruns() {
    Open("ten.wav");
    m_form->Displayalert1()->setChecked(false);
    Doc().SelStart = 10;
    Doc().SelEnd = 20;
    TPaintBox* strip = m_form->Panes().ThreadValue();
    QCOMPARE(strip->geometry(), QRect(135, 422, 455, 38));
    const struct {
        int Y;
        double Fraction;  // of the peak above the floor
    } releases[] = {{0, 1.0}, {38, 0.0}};
    for (const auto& release : releases) {
        std::vector<double> expected = testsupport::ReadDoubles(Doc().ThresholdFileName);
        const double peak = Doc().PeakNoteValue;
        for (std::size_t f = 10; f <= 20; ++f) {
            expected[f] = (peak - 0.000001) * release.Fraction + 0.000001;
        }
        // The status bar tells the margin at the pointer, then the one the drag will set.
        const double margin = expected[10];
        emit strip->OnMouseMove(Qt::NoButton, 100, release.Y);
        QCOMPARE(m_form->StatusBarLabel()->text(), QString::asprintf("Margin %.3f at the pointer", margin));
        QTest::mousePress(strip, Qt::LeftButton, {}, QPoint(100, 20));
        QCOMPARE(m_form->Panes().ThresholdPane().ThresholdDrag(), 1);
        QTest::mouseMove(strip, QPoint(120, release.Y));
        QCOMPARE(m_form->StatusBarLabel()->text(), QString::asprintf("Margin %.3f to be set on frames 10-20", margin));
        QTest::mouseRelease(strip, Qt::LeftButton, {}, QPoint(120, release.Y));
        QCOMPARE(m_form->Panes().ThresholdPane().ThresholdDrag(), 0);
        QVERIFY(testsupport::ReadDoubles(Doc().ThresholdFileName) == expected);
        QVERIFY(testsupport::ReadTable(Doc().NoteIntenFileName, kGridRows) == FreshNoteTable(Doc()));
    }
    QCOMPARE(testsupport::ReadDoubles(Doc().ThresholdFileName)[20], 0.000001);
    QVERIFY(m_host->Errors.empty());
    QCOMPARE(FilesIn(m_tmp->Path().string()), DocumentAndKeptFiles(m_form->Pipeline()));
}

void EditingPanesTest::HarmonicClicksSetSelectedFramesAndRerun() {
    Open("ten.wav");
    m_form->Displayalert1()->setChecked(false);
    Doc().SelStart = 10;
    Doc().SelEnd = 20;
    TPaintBox* strip = m_form->Panes().DoubleNote();
    QCOMPARE(strip->geometry(), QRect(135, 408, 455, 15));
    const struct {
        Qt::MouseButton Button;
        double Value;
    } clicks[] = {{Qt::RightButton, 1.0}, {Qt::LeftButton, 0.0}, {Qt::MiddleButton, 1.0}};
    for (const auto& click : clicks) {
        std::vector<double> expected = testsupport::ReadDoubles(Doc().HarmonicFileName);
        for (std::size_t f = 10; f <= 20; ++f) {
            expected[f] = click.Value;
        }
        QTest::mouseClick(strip, click.Button, {}, QPoint(30, 7));
        QVERIFY(testsupport::ReadDoubles(Doc().HarmonicFileName) == expected);
        QVERIFY(testsupport::ReadTable(Doc().NoteIntenFileName, kGridRows) == FreshNoteTable(Doc()));
    }
    // Red where the selected frames keep their harmonics: frames 10 .. 20 of 100 in view.
    const QImage picture = strip->grab().toImage();
    QCOMPARE(picture.pixel(68, 7), qRgb(255, 0, 0));
    QCOMPARE(picture.pixel(200, 7), qRgb(0, 0, 128));
    QVERIFY(m_host->Errors.empty());
}

// Cancel in the alert: the side file stays rewritten for the next re-run, the note table and
// the grid's edits stay as they were.
void EditingPanesTest::CancelledAlertKeepsRewrittenSideFile() {
    Open("ten.wav");
    Doc().SelStart = 5;
    Doc().SelEnd = 8;
    const WavHead before = Doc();
    const std::string notes = ReadAll(Doc().NoteIntenFileName);
    AlertAnswer cancel(false);
    QTest::mouseClick(m_form->Panes().DoubleNote(), Qt::RightButton, {}, QPoint(30, 7));
    QCOMPARE(cancel.Seen, 1);
    const std::vector<double> keep = testsupport::ReadDoubles(Doc().HarmonicFileName);
    QCOMPARE(keep[5], 1.0);
    QCOMPARE(keep[9], 0.0);
    QCOMPARE(ReadAll(Doc().NoteIntenFileName), notes);
    // The rewritten side file is a new file; the previous one is kept for undo.
    QVERIFY(Doc().HarmonicFileName != before.HarmonicFileName);
    WavHead expected = before;
    expected.HarmonicFileName = Doc().HarmonicFileName;
    QVERIFY(SameRecord(Doc(), expected));
    QCOMPARE(m_form->Pipeline().History().UndoName(), std::string("Harmonic tone"));
}

// A document of a single frame (made from a converted one): every pane paints, and every
// click and gesture works without dividing by zero.
void EditingPanesTest::OneFrameDocumentPaintsAndClicks() {
    Open("ten.wav");
    testsupport::WriteDoubles(Doc().NormFileName, std::vector<double>(1024, 1000.0));
    testsupport::WriteDoubles(Doc().ThresholdFileName, std::vector<double>{0.4});
    testsupport::WriteDoubles(Doc().HarmonicFileName, std::vector<double>{0.0});
    NoteModel model(1);
    Doc().FrameCount = 1;
    Doc().ViewStart = 0;
    Doc().ViewWidth = 1;
    Doc().SelStart = 0;
    Doc().SelEnd = 1;
    Load(model);
    const QImage window = m_form->grab().toImage();
    QCOMPARE(m_form->Panes().WavDisp()->grab().toImage().pixel(200, 5), qRgb(128, 0, 128));
    QCOMPARE(m_form->Panes().DoubleNote()->grab().toImage().pixel(200, 5), qRgb(255, 255, 255));
    Q_UNUSED(window);

    QTest::mouseClick(m_form->Panes().WavDisp(), Qt::LeftButton, {}, QPoint(300, 40));
    QCOMPARE(Doc().SelStart, 0);
    QTest::mouseClick(m_form->Panes().SelectRgn(), Qt::RightButton, {}, QPoint(300, 8));
    QCOMPARE(Doc().SelEnd, 0);
    AlertAnswer cancel(false);
    TPaintBox* threshold = m_form->Panes().ThreadValue();
    QTest::mousePress(threshold, Qt::LeftButton, {}, QPoint(100, 10));
    QTest::mouseMove(threshold, QPoint(120, 0));
    QTest::mouseRelease(threshold, Qt::LeftButton, {}, QPoint(120, 0));
    (void)threshold->grab();
    QTest::mouseClick(m_form->Panes().DoubleNote(), Qt::RightButton, {}, QPoint(30, 7));
    QCOMPARE(cancel.Seen, 2);
    QCOMPARE(testsupport::ReadDoubles(Doc().HarmonicFileName), std::vector<double>{1.0});
    QCOMPARE(testsupport::ReadDoubles(Doc().ThresholdFileName).size(), std::size_t{1});

    // A note added in the only column is one frame long.
    QTest::mouseClick(Cells(), Qt::LeftButton, {}, At(0, 30));
    model.Set(0, 0, 30, Doc().PeakNoteValue, 110);
    ExpectFiles(model);
    QVERIFY(m_host->Errors.empty());
}

// The new version of the note table cannot be made (a folder that holds a file stands in its
// way): the error is shown, both files keep their contents, and the view shows them again.
void EditingPanesTest::FailedRewriteIsShownAndFilesStayWhole() {
    Open("ten.wav");
    NoteModel model(static_cast<std::size_t>(Doc().FrameCount));
    model.Set(20, 24, 30, 6.0, 95);
    Load(model);
    const std::string blocker = Doc().NoteIntenFileName + ".new";
    QVERIFY(QDir().mkpath(QString::fromStdString(blocker)));
    testsupport::WriteDoubles(blocker + "/x", std::vector<double>{1.0});
    QTest::mouseClick(Cells(), Qt::RightButton, {}, At(22, 30));
    QCOMPARE(m_host->Errors.size(), std::size_t{1});
    QVERIFY(QDir(QString::fromStdString(blocker)).removeRecursively());
    ExpectFiles(model);
    QCOMPARE(Grid()->CellColor(22, 30).rgb(), qRgb(255, 255, 0));
    QCOMPARE(m_form->Panes().NoteGridEditor().Drag().Active, 0);
}

// A document of the melody analysis: the harmonic strip is greyed and refuses clicks, the
// threshold strip re-runs in melody mode, grid edits and the export work on its files as on
// a classic document's; back in classic mode the strips are as before.
void EditingPanesTest::MelodyDocumentStripsAndEdits() {
    m_form->Displayalert1()->setChecked(false);
    m_form->MelodyAnalysis1()->trigger();
    Open("ten.wav");
    QCOMPARE(Doc().Mode, AnalysisMode::Melody);
    TPaintBox* harmonics = m_form->Panes().DoubleNote();
    TPaintBox* threshold = m_form->Panes().ThreadValue();
    QVERIFY(!harmonics->isEnabled());
    QVERIFY(harmonics->statusTip().startsWith("Melody mode keeps one note per frame"));
    QVERIFY(threshold->statusTip().startsWith("Melody mode: a higher line widens the voicing window"));
    QVERIFY(harmonics->grab().toImage().pixel(200, 7) != qRgb(0, 0, 128));  // not the live navy
    const std::string sideFile = ReadAll(Doc().HarmonicFileName);
    const std::string notes = ReadAll(Doc().NoteIntenFileName);
    QTest::mouseClick(harmonics, Qt::RightButton, {}, QPoint(30, 7));
    QCOMPARE(ReadAll(Doc().HarmonicFileName), sideFile);
    QCOMPARE(ReadAll(Doc().NoteIntenFileName), notes);

    // A right click deletes the first note's run (note 33, row 38) from both files; the
    // export then starts with the second note, key 69.
    QVERIFY(Grid()->CellColor(30, 38).rgb() != qRgb(0, 0, 255));
    QTest::mouseClick(Cells(), Qt::RightButton, {}, At(30, 38));
    for (const std::vector<double>& frame : testsupport::ReadTable(Doc().NoteIntenFileName, kGridRows)) {
        QVERIFY(frame[33] <= 0.0);
    }
    QCOMPARE(Grid()->CellColor(30, 38).rgb(), qRgb(0, 0, 255));
    WavHead exported = Doc();
    exported.MidiFileName = m_tmp->File("melody.mid");
    std::string name;
    TMakeMidi().ConvMidi(kMidiToUserFile, exported, 0, exported.FrameCount - 1, name);
    const auto midiNotes = testsupport::TrackNotes(testsupport::ReadMidiFile(exported.MidiFileName).Tracks.at(1));
    QVERIFY(midiNotes.size() >= 3);
    QCOMPARE(midiNotes.front().Key, 69);
    std::filesystem::remove(exported.MidiFileName);

    // The threshold strip: the selected margins drop to the floor; the re-run (which drops
    // the grid's edits) stays melodic.
    Doc().SelStart = 10;
    Doc().SelEnd = 20;
    QTest::mousePress(threshold, Qt::LeftButton, {}, QPoint(100, 20));
    QTest::mouseMove(threshold, QPoint(120, 38));
    QTest::mouseRelease(threshold, Qt::LeftButton, {}, QPoint(120, 38));
    QCOMPARE(testsupport::ReadDoubles(Doc().ThresholdFileName)[15], 0.000001);
    QCOMPARE(Doc().Mode, AnalysisMode::Melody);
    const testsupport::Table table = testsupport::ReadTable(Doc().NoteIntenFileName, kGridRows);
    QVERIFY(table == FreshNoteTable(Doc()));
    const auto sounding = [](const std::vector<double>& frame) {
        return std::count_if(frame.begin(), frame.end(), [](double v) { return v > 0.0; });
    };
    int voicedInEdit = 0;
    for (std::size_t f = 0; f < table.size(); ++f) {
        QVERIFY(sounding(table[f]) <= 1);
        voicedInEdit += f >= 11 && f <= 19 && sounding(table[f]) == 1 ? 1 : 0;
    }
    // A window of no width leaves at most the loudest frame voiced; outside it nothing changed.
    QVERIFY2(voicedInEdit <= 1, QByteArray::number(voicedInEdit));
    QCOMPARE(sounding(table[40]), 1);

    // Classic again (the alert is off): the strips take their classic state and hints.
    m_form->ClassicAnalysis1()->trigger();
    QCOMPARE(Doc().Mode, AnalysisMode::Classic);
    QVERIFY(harmonics->isEnabled());
    QVERIFY(harmonics->statusTip().startsWith("White means harmonic tones erased"));
    QVERIFY(threshold->statusTip().startsWith("Posiblility of remaind tone"));
    QVERIFY(m_host->Errors.empty());
}

// The Edit menu sits between File and Setting; its items name the step they take, are
// disabled without one, and give back the files of a grid gesture and of a threshold re-run.
void EditingPanesTest::EditMenuNamesAndTakesTheSteps() {
    QTest::mouseClick(m_form->Panes().ThreadValue(), Qt::LeftButton, {}, QPoint(100, 20));
    QCOMPARE(m_form->Panes().ThresholdPane().ThresholdDrag(), 0);  // no document, no drag
    Open("ten.wav");
    m_form->Displayalert1()->setChecked(false);
    QStringList menus;
    for (QAction* menu : m_form->menuBar()->actions()) {
        menus << menu->text();
    }
    QCOMPARE(menus.mid(0, 3), (QStringList{"&File", "&Edit", "&Setting"}));
    QAction* undo = m_form->EditUndoItem();
    QAction* redo = m_form->EditRedoItem();
    QCOMPARE(undo->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
    QCOMPARE(redo->shortcuts(),
             (QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)}));
    QVERIFY(!undo->isEnabled());
    QVERIFY(!redo->isEnabled());

    NoteModel model(static_cast<std::size_t>(Doc().FrameCount));
    Load(model);
    QWheelEvent wheel({5, 5}, {}, {}, {0, -120}, Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(m_form->KeyBoard()->viewport(), &wheel);
    QCOMPARE(Grid()->TopRow(), 28);
    QTest::mouseClick(Cells(), Qt::LeftButton, {}, At(3, 30));
    NoteModel added = model;
    added.Set(3, 7, 30, Doc().PeakNoteValue, 110);
    ExpectFiles(added);
    QCOMPARE(undo->text(), QStringLiteral("&Undo Add note"));
    QVERIFY(undo->isEnabled());
    undo->trigger();
    ExpectFiles(model);
    QCOMPARE(Grid()->TopRow(), 28);  // undo and redo keep the rows in view, or show the cells
    QCOMPARE(undo->text(), QStringLiteral("&Undo"));
    QVERIFY(!undo->isEnabled());
    QCOMPARE(redo->text(), QStringLiteral("&Redo Add note"));
    QVERIFY(redo->statusTip().endsWith(QStringLiteral(": Add note.")));
    Grid()->SetTopRow(40);
    redo->trigger();
    ExpectFiles(added);
    QCOMPARE(Grid()->TopRow(), 30);

    const WavHead beforeRerun = Doc();
    TPaintBox* strip = m_form->Panes().ThreadValue();
    QTest::mousePress(strip, Qt::LeftButton, {}, QPoint(100, 20));
    QTest::mouseRelease(strip, Qt::LeftButton, {}, QPoint(120, 0));
    QCOMPARE(undo->text(), QStringLiteral("&Undo Threshold"));
    QVERIFY(Doc().NoteIntenFileName != beforeRerun.NoteIntenFileName);
    undo->trigger();
    QCOMPARE(Doc().NoteIntenFileName, beforeRerun.NoteIntenFileName);
    QCOMPARE(Doc().ThresholdFileName, beforeRerun.ThresholdFileName);
    ExpectFiles(added);
    QCOMPARE(redo->text(), QStringLiteral("&Redo Threshold"));
    QVERIFY(m_host->Errors.empty());
}

QTEST_MAIN(EditingPanesTest)
#include "EditingPanesTest.moc"
