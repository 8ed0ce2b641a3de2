// The panes around the note grid on the real main window with a converted document: the
// selection clicks, the note grid's gestures checked against the files, the threshold and
// harmonic strips with their re-runs, a failed rewrite, a document of one frame, and
// screenshots for a look.

#include "app/DocumentPipeline.h"
#include "app/EditingPanes.h"
#include "app/Main.h"
#include "panes/PaintBox.h"
#include "platform/fake/FakeShell.h"
#include "tests/app/AppTestSupport.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/TempDir.h"

#include <QAction>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

using namespace ruvo;
using namespace ruvo::apptest;

class EditingPanesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void SelectionClicksInBothBoxes();

private:
    QString InputQ(const char* name) const { return m_inputs.path() + QLatin1Char('/') + name; }
    std::string Input(const char* name) const { return InputQ(name).toStdString(); }
    WavHead& Doc() { return m_form->Pipeline().Doc; }
    void Open(const char* name);

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

    // The right end of the overview is the last frame; a right click further left reverses
    // the selection, which stays as clicked.
    const int frames = Doc().FrameCount;
    QTest::mouseClick(overview, Qt::LeftButton, {}, QPoint(536, 8));
    QCOMPARE(Doc().SelStart, frames - 1);
    QTest::mouseClick(overview, Qt::RightButton, {}, QPoint(100, 8));
    QCOMPARE(Doc().SelEnd, static_cast<int>(std::nearbyint(100.0 / (537.0 / (frames - 1)))));
    QVERIFY(Doc().SelEnd < Doc().SelStart);
    const QImage strip = overview->grab().toImage();
    QCOMPARE(strip.pixel(300, 2), qRgb(0, 0, 128));  // a reversed selection shows no green
    QVERIFY(m_host->Errors.empty());
}

QTEST_MAIN(EditingPanesTest)
#include "EditingPanesTest.moc"
