// The import in the document pipeline and the window: the question before a rescue, the
// converted copy as the document's WAV file (deleted with it) under the original name, and
// every way a rescue can end early leaving no file behind.

#include "app/DocumentPipeline.h"
#include "app/DocumentStatus.h"
#include "app/Main.h"
#include "audio/play.h"
#include "platform/fake/FakeShell.h"
#include "tests/app/AppTestSupport.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/TempDir.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <memory>

using namespace ruvo;
using namespace ruvo::apptest;

class DocumentImportTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void RescuedFileBecomesDocumentUnderItsOwnName();
    void DeclinedOfferChangesNothing();
    void ImportDoesNotAskAndRerunKeepsTheCopy();
    void RescueEndingEarlyLeavesNoCopy_data();
    void RescueEndingEarlyLeavesNoCopy();
    void WindowAsksAndShowsTheOriginalName();

private:
    std::string Input(const char* name) const { return (m_inputs.path() + QLatin1Char('/') + name).toStdString(); }
    std::string TmpDir() const { return m_tmp->Path().string(); }

    QTemporaryDir m_inputs;
    std::unique_ptr<testsupport::TempDir> m_tmp;
    std::unique_ptr<testsupport::ScopedRecordingHost> m_host;
    FakeView m_view;
    FakeProgress m_progress;
    FakeShell m_shell;
    std::unique_ptr<DocumentPipeline> m_pipeline;
};

void DocumentImportTest::initTestCase() {
    QVERIFY(m_inputs.isValid());
    WriteMelodyWav(Input("48k.wav"), {24, 28, 31}, 0.5, 48000, 2, 16);
    WriteMelodyWav(Input("short48k.wav"), {24}, 0.3, 48000, 1, 16);
    WriteMelodyWav(Input("b.wav"), {40, 43}, 0.5, 22050, 1, 16);
}

void DocumentImportTest::init() {
    m_tmp = std::make_unique<testsupport::TempDir>();
    m_host = std::make_unique<testsupport::ScopedRecordingHost>();
    m_view = FakeView();
    m_progress = FakeProgress();
    m_pipeline = std::make_unique<DocumentPipeline>(m_view, m_progress, m_shell);
}

void DocumentImportTest::cleanup() {
    m_pipeline.reset();
    QCOMPARE(FilesIn(TmpDir()), std::set<std::string>{});
    m_host.reset();
    m_tmp.reset();
}

void DocumentImportTest::RescuedFileBecomesDocumentUnderItsOwnName() {
    const std::string input = Input("48k.wav");
    QCOMPARE(m_pipeline->OpenDocument(input), 0);
    QCOMPARE(m_view.ImportQuestions.size(), std::size_t{1});
    const std::string& question = m_view.ImportQuestions.front();
    QVERIFY2(question.find(input) != std::string::npos, question.c_str());
    QVERIFY2(question.find("This file is 48000 Hz, 16-bit WAV.") != std::string::npos, question.c_str());
    QVERIFY2(question.find("Analyse a copy converted to 44100 Hz, 16-bit?") != std::string::npos, question.c_str());
    QVERIFY(m_host->Errors.empty());

    const WavHead& doc = m_pipeline->Doc;
    const std::string copy = doc.FileName;
    QCOMPARE(std::filesystem::path(copy).parent_path().string(), TmpDir());
    QVERIFY(std::filesystem::path(copy).filename().string().starts_with("imp"));
    QCOMPARE(doc.SampleRate, 44100);
    QCOMPARE(m_pipeline->DocumentName(), input);
    QCOMPARE(CaptionText(doc, m_pipeline->DocumentName()), "Ruvo - " + input);
    std::set<std::string> expected = WorkFileNames(doc);
    expected.insert(std::filesystem::path(copy).filename().string());
    QCOMPARE(FilesIn(TmpDir()), expected);

    // An accepted WAV file takes the check's path: no question, and the copy goes with the
    // document it belonged to.
    QCOMPARE(m_pipeline->OpenDocument(Input("b.wav")), 0);
    QCOMPARE(m_view.ImportQuestions.size(), std::size_t{1});
    QCOMPARE(m_pipeline->Doc.FileName, Input("b.wav"));
    QCOMPARE(m_pipeline->DocumentName(), Input("b.wav"));
    QVERIFY(!Exists(copy));
    QVERIFY(Exists(input));
    QCOMPARE(FilesIn(TmpDir()), WorkFileNames(m_pipeline->Doc));
}

void DocumentImportTest::DeclinedOfferChangesNothing() {
    QCOMPARE(m_pipeline->OpenDocument(Input("b.wav")), 0);
    const WavHead before = m_pipeline->Doc;
    m_view.ImportAnswer = false;
    QCOMPARE(m_pipeline->OpenDocument(Input("48k.wav")), -1);
    QCOMPARE(m_view.ImportQuestions.size(), std::size_t{1});
    QVERIFY(m_host->Errors.empty());
    QCOMPARE(m_progress.StartSteps.size(), std::size_t{1});  // no progress for a declined offer
    QVERIFY(SameRecord(m_pipeline->Doc, before));
    QCOMPARE(FilesIn(TmpDir()), WorkFileNames(before));
}

void DocumentImportTest::ImportDoesNotAskAndRerunKeepsTheCopy() {
    QCOMPARE(m_pipeline->ImportDocument(Input("48k.wav")), 0);
    QVERIFY(m_view.ImportQuestions.empty());
    const std::string copy = m_pipeline->Doc.FileName;
    m_pipeline->TempoChoice = kTempoSlow;
    QCOMPARE(m_pipeline->RerunNoteStage(), 0);
    QCOMPARE(m_pipeline->Doc.FileName, copy);
    QCOMPARE(m_pipeline->DocumentName(), Input("48k.wav"));
    QVERIFY(Exists(copy));
    // An accepted file through Import audio is not copied either.
    QCOMPARE(m_pipeline->ImportDocument(Input("b.wav")), 0);
    QCOMPARE(m_pipeline->Doc.FileName, Input("b.wav"));
    QVERIFY(!Exists(copy));
    m_pipeline->Close();
    QVERIFY(Exists(Input("b.wav")));
}

void DocumentImportTest::RescueEndingEarlyLeavesNoCopy_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("cancelAtFrame");
    QTest::addColumn<QString>("message");
    QTest::newRow("too short") << "short48k.wav" << -1
                               << "Recording time of this file must be longer than   0.550 sec.";
    QTest::newRow("cancelled during the import") << "48k.wav" << 1 << "";
}

void DocumentImportTest::RescueEndingEarlyLeavesNoCopy() {
    QFETCH(QString, file);
    QFETCH(int, cancelAtFrame);
    QFETCH(QString, message);
    QCOMPARE(m_pipeline->OpenDocument(Input("b.wav")), 0);
    const WavHead before = m_pipeline->Doc;
    m_progress.CancelOnStart = 2;
    m_progress.CancelAtFrame = cancelAtFrame;
    QCOMPARE(m_pipeline->ImportDocument(Input(file.toLatin1().constData())), -1);
    // The message names the file.
    const std::string named = Input(file.toLatin1().constData()) + ":\n" + message.toStdString();
    QCOMPARE(m_host->Errors, message.isEmpty() ? std::vector<std::string>{} : std::vector<std::string>{named});
    QVERIFY(SameRecord(m_pipeline->Doc, before));
    QCOMPARE(m_pipeline->DocumentName(), Input("b.wav"));
    QCOMPARE(FilesIn(TmpDir()), WorkFileNames(before));
}

void DocumentImportTest::WindowAsksAndShowsTheOriginalName() {
    TRuvoAppForm form(m_shell);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.FileImportAudioItem()->text(), QStringLiteral("&Import audio..."));
    QString asked;
    QTimer::singleShot(0, &form, [&asked] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box != nullptr);
        asked = box->text();
        box->button(QMessageBox::Yes)->click();
    });
    form.OpenFile(QString::fromStdString(Input("48k.wav")));
    QVERIFY2(asked.contains(QStringLiteral("44100 Hz, 16-bit")), qPrintable(asked));
    QCOMPARE(form.windowTitle(), QString::fromStdString("Ruvo - " + Input("48k.wav")));
    QCOMPARE(form.Player()->windowTitle(), QString::fromStdString("Player-" + Input("48k.wav")));
    const std::string copy = form.Pipeline().Doc.FileName;
    QVERIFY(Exists(copy));
    form.close();
    QVERIFY(!Exists(copy));
}

QTEST_MAIN(DocumentImportTest)
#include "DocumentImportTest.moc"
