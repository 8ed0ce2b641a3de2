// The document pipeline driven without windows: conversions, cancels at every kind of point,
// re-runs, recordings, the busy guard, the export and the clean-up of work files.

#include "app/DocumentPipeline.h"
#include "panes/NoteEdits.h"
#include "app/DocumentStatus.h"
#include "engine/FileIoError.h"
#include "engine/TMakeMidi.h"
#include "platform/fake/FakeShell.h"
#include "tests/app/AppTestSupport.h"
#include "tests/testsupport/MidiReader.h"
#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/Signals.h"
#include "tests/testsupport/WavWriter.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/TempDir.h"

#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>

using namespace ruvo;
using namespace ruvo::apptest;

class DocumentPipelineTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void ConvertsAndShowsNewDocument();
    void CancelLeavesPreviousDocument_data();
    void CancelLeavesPreviousDocument();
    void CancelOfFirstConversionLeavesNothing();
    void RejectedFileKeepsDocument();
    void FileEndingEarlyIsConvertedAsFarAsItGoes();
    void FileErrorsKeepDocumentAndLeaveNoWorkFile_data();
    void FileErrorsKeepDocumentAndLeaveNoWorkFile();
    void SecondDocumentReplacesFirstOnlyWhenComplete();
    void OnlyRecordingsOfThePlayerAreDeleted();
    void RecordingThatDoesNotBecomeDocumentIsDeleted();
    void RerunWithNewTempoReplacesNoteFiles();
    void CancelledRerunLeavesDocumentExactly_data();
    void CancelledRerunLeavesDocumentExactly();
    void TempoChoiceWithoutChangeDoesNothing();
    void MelodyChoiceReachesConversionsAndThresholdReruns();
    void CommandsAreRefusedWhileConverting();
    void InterleavedEditsAndRerunsUndoAndRedoExactly();
    void HistoryFilesGoWithTheDocument();
    void RecordingDuringConversionWaitsForIt();
    void ExportWritesAllButTheLastFrame();
    void ExportCancelledOrWithoutDocumentWritesNothing();
    void DropOpensFirstFileOnlyInEmptyWindow();
    void CloseDeletesWorkFilesButNotMidi();
    void RefreshTurnsZeroViewWidthIntoOne();
    void StatusTexts();

private:
    std::string Input(const char* name) const { return (m_inputs.path() + QLatin1Char('/') + name).toStdString(); }
    std::string TmpDir() const { return m_tmp->Path().string(); }
    // The folder of work files holds exactly the files the document names (plus `extra`).
    void ExpectOnlyDocumentFiles(const std::set<std::string>& extra = {});

    QTemporaryDir m_inputs;
    std::unique_ptr<testsupport::TempDir> m_tmp;
    std::unique_ptr<testsupport::ScopedRecordingHost> m_host;
    FakeView m_view;
    FakeProgress m_progress;
    FakeShell m_shell;
    std::unique_ptr<DocumentPipeline> m_pipeline;
};

void DocumentPipelineTest::initTestCase() {
    QVERIFY(m_inputs.isValid());
    // A: four notes, stereo, to the very end; B: a shorter mono melody.
    WriteMelodyWav(Input("a.wav"), {24, 28, 31, 36}, 0.5, 22050, 2, 16);
    WriteMelodyWav(Input("b.wav"), {40, 43, 47}, 0.5, 22050, 1, 16);
    WriteGarbage(Input("garbage.wav"));
}

void DocumentPipelineTest::init() {
    m_tmp = std::make_unique<testsupport::TempDir>();
    m_host = std::make_unique<testsupport::ScopedRecordingHost>();
    m_view = FakeView();
    m_progress = FakeProgress();
    m_shell = FakeShell();
    m_pipeline = std::make_unique<DocumentPipeline>(m_view, m_progress, m_shell);
}

void DocumentPipelineTest::cleanup() {
    // Whatever the test did, the document's end leaves no work file behind.
    m_pipeline.reset();
    const std::set<std::string> left = FilesIn(TmpDir());
    QVERIFY2(left.empty(),
             (std::to_string(left.size()) + " files left, first " + (left.empty() ? "" : *left.begin())).c_str());
    m_host.reset();
    m_tmp.reset();
}

void DocumentPipelineTest::ExpectOnlyDocumentFiles(const std::set<std::string>& extra) {
    std::set<std::string> expected = DocumentAndKeptFiles(*m_pipeline);
    expected.insert(extra.begin(), extra.end());
    QCOMPARE(FilesIn(TmpDir()), expected);
}

void DocumentPipelineTest::ConvertsAndShowsNewDocument() {
    QCOMPARE(m_pipeline->OpenDocument(Input("a.wav")), 0);
    const WavHead& doc = m_pipeline->Doc;
    QVERIFY(m_pipeline->HasDocument());
    QCOMPARE(doc.FileName, Input("a.wav"));
    QCOMPARE(doc.SampleRate, 22050);
    QCOMPARE(doc.Channels, 2);
    QCOMPARE(doc.BitsPerSample, 16);
    QVERIFY(doc.FrameCount > 40);
    // Ten work files, each a real file in the temporary folder.
    QCOMPARE(WorkFiles(doc).size(), std::size_t{10});
    ExpectOnlyDocumentFiles();
    // A fresh grid build: 100 columns at most, everything selected.
    QCOMPARE(doc.ViewStart, 0);
    QCOMPARE(doc.ViewWidth, std::min(doc.FrameCount, 100));
    QCOMPARE(doc.SelEnd, doc.FrameCount);
    QVERIFY(doc.PeakNoteValue >= 0.1);
    // 25 steps on the bar's scale, 21 made: 5 in the WAV stage, 16 in the note stage.
    QCOMPARE(m_progress.StartSteps, std::vector<std::int32_t>{25});
    QCOMPARE(m_progress.Point.Steps, 21);
    // Events ran after every spectrum frame.
    QVERIFY(m_progress.Point.Frames > doc.FrameCount);
    QVERIFY(!m_progress.Visible);
    QVERIFY(m_view.PlayerVisible);
    QVERIFY(m_view.SaveMidiEnabled);
    QCOMPARE(m_view.GridBuilds, 1);
    QCOMPARE(m_view.LastShownFile, Input("a.wav"));
    QVERIFY(m_view.GridFills > 0);
    QVERIFY(m_host->Errors.empty());
    // Between runs the working record names only the document's files.
    QCOMPARE(WorkFiles(m_pipeline->Work), WorkFiles(doc));
}

void DocumentPipelineTest::CancelLeavesPreviousDocument_data() {
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("frame");
    QTest::newRow("after the WAV check") << 1 << -1;
    QTest::newRow("after the second preparation pass") << 3 << -1;
    QTest::newRow("in the spectrum pass") << -1 << 10;
    QTest::newRow("after the spectrum pass") << 5 << -1;
    QTest::newRow("after the first note step") << 6 << -1;
    QTest::newRow("in the middle of the note stage") << 14 << -1;
    QTest::newRow("after the last note step") << 21 << -1;
}

void DocumentPipelineTest::CancelLeavesPreviousDocument() {
    QFETCH(int, step);
    QFETCH(int, frame);
    QCOMPARE(m_pipeline->OpenDocument(Input("a.wav")), 0);
    const WavHead before = m_pipeline->Doc;
    const auto contents = Contents(before);

    m_progress.CancelOnStart = 2;
    m_progress.CancelAtStep = step;
    m_progress.CancelAtFrame = frame;
    m_view.SaveMidiEnabled = false;
    QCOMPARE(m_pipeline->OpenDocument(Input("b.wav")), -1);

    QVERIFY(SameRecord(m_pipeline->Doc, before));
    QVERIFY(Contents(m_pipeline->Doc) == contents);
    ExpectOnlyDocumentFiles();
    QVERIFY(!m_progress.Visible);
    QVERIFY(m_view.PlayerVisible);
    QVERIFY(!m_view.SaveMidiEnabled);
    QCOMPARE(m_view.LastShownFile, Input("a.wav"));
    QCOMPARE(WorkFiles(m_pipeline->Work), WorkFiles(before));
    // Nothing of the cancelled run shows up later either: a new conversion works.
    m_progress.CancelAtStep = -1;
    m_progress.CancelAtFrame = -1;
    QCOMPARE(m_pipeline->OpenDocument(Input("b.wav")), 0);
    ExpectOnlyDocumentFiles();
}

void DocumentPipelineTest::CancelOfFirstConversionLeavesNothing() {
    m_progress.CancelAtStep = 10;
    QCOMPARE(m_pipeline->OpenDocument(Input("a.wav")), -1);
    QVERIFY(!m_pipeline->HasDocument());
    QVERIFY(FilesIn(TmpDir()).empty());
    QVERIFY(m_pipeline->Doc.FileName.empty());
}

void DocumentPipelineTest::FileEndingEarlyIsConvertedAsFarAsItGoes() {
    QCOMPARE(m_pipeline->OpenDocument(Input("a.wav")), 0);
    QVERIFY(m_view.StatusNotes.empty());
    // a.wav announces 2 s of 16-bit stereo; the copy ends after one second.
    const std::string cut = Input("cut.wav");
    std::filesystem::copy_file(Input("a.wav"), cut, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(cut, 44 + 4 * 22050);
    QCOMPARE(m_pipeline->OpenDocument(cut), 0);
    QCOMPARE(m_view.StatusNotes,
             std::vector<std::string>{"cut.wav: the header announces 2.0 s, the file holds 1.0 s; converting 1.0 s"});
    QCOMPARE(m_pipeline->Doc.FrameCount, 22050 / 1024);
}

void DocumentPipelineTest::RejectedFileKeepsDocument() {
    QCOMPARE(m_pipeline->OpenDocument(Input("a.wav")), 0);
    const WavHead before = m_pipeline->Doc;
    QCOMPARE(m_pipeline->OpenDocument(Input("garbage.wav")), -1);
    QCOMPARE(m_host->Errors.size(), std::size_t{1});
    QVERIFY(SameRecord(m_pipeline->Doc, before));
    ExpectOnlyDocumentFiles();
    QVERIFY(!m_progress.Visible);
    QVERIFY(m_view.PlayerVisible);
    // An empty name does nothing at all.
    const std::size_t starts = m_progress.StartSteps.size();
    QCOMPARE(m_pipeline->OpenDocument(""), -1);
    QCOMPARE(m_progress.StartSteps.size(), starts);
}

void DocumentPipelineTest::FileErrorsKeepDocumentAndLeaveNoWorkFile_data() {
    QTest::addColumn<QString>("where");
    QTest::newRow("missing file") << "missing";
    QTest::newRow("input gone after the check") << "wav";
    QTest::newRow("spectrum gone in the note stage") << "spectrum";
}

void DocumentPipelineTest::FileErrorsKeepDocumentAndLeaveNoWorkFile() {
    QFETCH(QString, where);
    QCOMPARE(m_pipeline->OpenDocument(Input("a.wav")), 0);
    const WavHead before = m_pipeline->Doc;
    const auto contents = Contents(before);

    const std::string victim = Input("victim.wav");
    std::filesystem::copy_file(Input("b.wav"), victim, std::filesystem::copy_options::overwrite_existing);
    m_progress.OnEvents = [&](const ProgressPoint& point) {
        if (point.Starts != 2) {
            return;
        }
        if (where == "wav" && point.Steps == 1) {
            std::remove(victim.c_str());
        }
        if (where == "spectrum" && point.Steps == 6) {
            std::remove(m_pipeline->Work.IntenFileName.c_str());
        }
    };
    const std::string name = where == "missing" ? Input("no-such.wav") : victim;
    QVERIFY_THROWS_EXCEPTION(FileIoError, (void)m_pipeline->OpenDocument(name));

    QVERIFY(SameRecord(m_pipeline->Doc, before));
    QVERIFY(Contents(m_pipeline->Doc) == contents);
    ExpectOnlyDocumentFiles();
    QVERIFY(!m_progress.Visible);
    QVERIFY(m_view.PlayerVisible);
    QVERIFY(!m_pipeline->Busy());
    QCOMPARE(m_view.LastShownFile, Input("a.wav"));
}

void DocumentPipelineTest::SecondDocumentReplacesFirstOnlyWhenComplete() {
    QCOMPARE(m_pipeline->OpenDocument(Input("a.wav")), 0);
    const std::set<std::string> first = WorkFiles(m_pipeline->Doc);
    bool firstStayedDuringRun = true;
    m_progress.OnEvents = [&](const ProgressPoint& point) {
        if (point.Starts == 2) {
            for (const std::string& file : first) {
                firstStayedDuringRun = firstStayedDuringRun && Exists(file);
            }
        }
    };
    QCOMPARE(m_pipeline->OpenDocument(Input("b.wav")), 0);
    QVERIFY(firstStayedDuringRun);
    for (const std::string& file : first) {
        QVERIFY2(!Exists(file), file.c_str());
    }
    QCOMPARE(m_pipeline->Doc.FileName, Input("b.wav"));
    ExpectOnlyDocumentFiles();
    // WAV files opened from disk are never deleted.
    QVERIFY(Exists(Input("a.wav")));
}

void DocumentPipelineTest::OnlyRecordingsOfThePlayerAreDeleted() {
    // A recording of the player lies among the work files.
    const std::string recording = m_tmp->File("rwf1234.tmp");
    std::filesystem::copy_file(Input("b.wav"), recording);
    QCOMPARE(m_pipeline->OpenRecording(recording), 0);
    QVERIFY(m_pipeline->DocIsRecording());
    ExpectOnlyDocumentFiles({"rwf1234.tmp"});
    // Opened again by name, the recording is converted anew and stays a recording.
    QCOMPARE(m_pipeline->OpenDocument(recording), 0);
    QVERIFY(Exists(recording));
    QVERIFY(m_pipeline->DocIsRecording());
    ExpectOnlyDocumentFiles({"rwf1234.tmp"});

    // A user's file whose name ends like a temporary one is not a recording.
    const std::string userFile = Input("melody.tmp");
    std::filesystem::copy_file(Input("a.wav"), userFile);
    QCOMPARE(m_pipeline->OpenDocument(userFile), 0);
    QVERIFY(!Exists(recording));
    QVERIFY(!m_pipeline->DocIsRecording());
    ExpectOnlyDocumentFiles();

    QCOMPARE(m_pipeline->OpenDocument(Input("b.wav")), 0);
    QVERIFY(Exists(userFile));

    // A recording that is the document goes when the program closes.
    const std::string second = m_tmp->File("rwf5678.tmp");
    std::filesystem::copy_file(Input("a.wav"), second);
    QCOMPARE(m_pipeline->OpenRecording(second), 0);
    m_pipeline->Close();
    QVERIFY(!Exists(second));
    QVERIFY(FilesIn(TmpDir()).empty());
}

void DocumentPipelineTest::RecordingThatDoesNotBecomeDocumentIsDeleted() {
    QCOMPARE(m_pipeline->OpenDocument(Input("a.wav")), 0);
    const WavHead before = m_pipeline->Doc;

    const std::string cancelled = m_tmp->File("rwf0001.tmp");
    std::filesystem::copy_file(Input("b.wav"), cancelled);
    m_progress.CancelOnStart = 2;
    m_progress.CancelAtStep = 8;
    QCOMPARE(m_pipeline->OpenRecording(cancelled), -1);
    QVERIFY(!Exists(cancelled));

    const std::string rejected = m_tmp->File("rwf0002.tmp");
    WriteGarbage(rejected);
    QCOMPARE(m_pipeline->OpenRecording(rejected), -1);
    QVERIFY(!Exists(rejected));

    QVERIFY(SameRecord(m_pipeline->Doc, before));
    QVERIFY(!m_pipeline->DocIsRecording());
    ExpectOnlyDocumentFiles();
}

void DocumentPipelineTest::RerunWithNewTempoReplacesNoteFiles() {
    QCOMPARE(m_pipeline->OpenDocument(Input("a.wav")), 0);
    const WavHead before = m_pipeline->Doc;
    m_pipeline->TempoChoice = kTempoMedium;
    QCOMPARE(m_pipeline->ApplyTempoChoice(), 0);
    const WavHead& doc = m_pipeline->Doc;
    QCOMPARE(m_view.Alerts, 1);
    QCOMPARE(doc.TempoClass, kTempoMedium);
    QCOMPARE(m_progress.StartSteps.back(), 16);
    QCOMPARE(m_progress.Point.Steps, 16);
    // The note stage wrote new files; the spectrum and the side files are the document's own.
    QVERIFY(doc.NoteIntenFileName != before.NoteIntenFileName);
    QVERIFY(doc.RawNoteFileName != before.RawNoteFileName);
    QVERIFY(doc.MidiGridFileName != before.MidiGridFileName);
    QCOMPARE(doc.IntenFileName, before.IntenFileName);
    QCOMPARE(doc.ThresholdFileName, before.ThresholdFileName);
    QCOMPARE(doc.HarmonicFileName, before.HarmonicFileName);
    // A re-run keeps the view and the selection.
    QCOMPARE(doc.ViewWidth, before.ViewWidth);
    QCOMPARE(doc.SelEnd, before.SelEnd);
    ExpectOnlyDocumentFiles();
    // The previous files are kept for undo, which swaps them back with the tempo class.
    QCOMPARE(m_pipeline->History().UndoName(), std::string("Tempo"));
    QVERIFY(Exists(before.NoteIntenFileName));
    QCOMPARE(m_view.GridBuilds, 2);
    QVERIFY(m_view.PlayerVisible);
    QCOMPARE(m_pipeline->Undo(), 0);
    // The scratch tables are not part of the state: they are the latest run's.
    WavHead expected = before;
    expected.Temp1FileName = doc.Temp1FileName;
    expected.Temp2FileName = doc.Temp2FileName;
    QVERIFY(SameRecord(doc, expected));
    QCOMPARE(m_pipeline->TempoChoice, kTempoFast);
    ExpectOnlyDocumentFiles();
}

void DocumentPipelineTest::CancelledRerunLeavesDocumentExactly_data() {
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("alertAnswer");
    QTest::newRow("alert declined") << -1 << false;
    QTest::newRow("after the first step") << 1 << true;
    QTest::newRow("in the middle") << 8 << true;
    QTest::newRow("after the last step") << 16 << true;
}

void DocumentPipelineTest::CancelledRerunLeavesDocumentExactly() {
    QFETCH(int, step);
    QFETCH(bool, alertAnswer);
    QCOMPARE(m_pipeline->OpenDocument(Input("a.wav")), 0);
    const WavHead before = m_pipeline->Doc;
    const auto contents = Contents(before);
    const std::size_t starts = m_progress.StartSteps.size();

    m_view.AlertAnswer = alertAnswer;
    m_progress.CancelOnStart = 2;
    m_progress.CancelAtStep = step;
    m_pipeline->TempoChoice = kTempoSlow;
    QCOMPARE(m_pipeline->RerunNoteStage(), -1);

    QVERIFY(SameRecord(m_pipeline->Doc, before));
    QCOMPARE(m_pipeline->Doc.TempoClass, kTempoFast);
    QVERIFY(Contents(m_pipeline->Doc) == contents);
    ExpectOnlyDocumentFiles();
    // The dialog's choice stays for a later re-run.
    QCOMPARE(m_pipeline->TempoChoice, kTempoSlow);
    QVERIFY(!m_progress.Visible);
    QVERIFY(m_view.PlayerVisible);
    QCOMPARE(m_progress.StartSteps.size(), alertAnswer ? starts + 1 : starts);
}

void DocumentPipelineTest::TempoChoiceWithoutChangeDoesNothing() {
    // Without a document the choice only waits.
    m_pipeline->TempoChoice = kTempoSlow;
    QCOMPARE(m_pipeline->ApplyTempoChoice(), 0);
    QCOMPARE(m_view.Alerts, 0);
    QCOMPARE(m_pipeline->Doc.TempoClass, kTempoFast);
    // A new file is converted with the class the document record carries, not the choice.
    QCOMPARE(m_pipeline->OpenDocument(Input("b.wav")), 0);
    QCOMPARE(m_pipeline->Doc.TempoClass, kTempoFast);
    m_pipeline->TempoChoice = kTempoFast;
    QCOMPARE(m_pipeline->ApplyTempoChoice(), 0);
    QCOMPARE(m_view.Alerts, 0);
    QCOMPARE(m_progress.StartSteps.size(), std::size_t{1});
}

void DocumentPipelineTest::MelodyChoiceReachesConversionsAndThresholdReruns() {
    // A loud note, then one 20 dB softer: a narrow margin drops the soft one.
    std::vector<double> signal = testsupport::SineAtNote(40, 15435, 22050.0, 12000.0);
    testsupport::Append(signal, testsupport::SineAtNote(47, 15435, 22050.0, 1200.0));
    testsupport::WriteWav(Input("soft.wav"), testsupport::WavFormat{}, testsupport::Quantize(signal, 16));
    constexpr double kNarrow = 0.1;
    // The table a fresh conversion makes in `mode` with every margin narrow.
    const auto freshTable = [this](AnalysisMode mode) {
        m_pipeline->ModeChoice = mode;
        m_pipeline->Doc.ThresholdDefault = kNarrow;
        if (m_pipeline->OpenDocument(Input("soft.wav")) != 0) {
            return std::string();
        }
        m_pipeline->Doc.ThresholdDefault = 0.4;
        return ReadAll(m_pipeline->Doc.NoteIntenFileName);
    };
    const std::string classic = freshTable(AnalysisMode::Classic);
    const std::string melody = freshTable(AnalysisMode::Melody);
    QVERIFY(!classic.empty() && classic != melody);

    // Without a document the choice waits; the next conversion uses it.
    m_pipeline->Close();
    QCOMPARE(m_pipeline->ApplyModeChoice(AnalysisMode::Melody), 0);
    QCOMPARE(m_view.Alerts, 0);
    QCOMPARE(m_pipeline->OpenDocument(Input("soft.wav")), 0);
    QCOMPARE(m_pipeline->Doc.Mode, AnalysisMode::Melody);

    // A threshold edit over the whole file, as the threshold strip writes it, re-runs in
    // melody mode: the table is the one a fresh melody conversion makes at that margin.
    const WavHead& doc = m_pipeline->Doc;
    const std::string atDefault = ReadAll(doc.NoteIntenFileName);
    testsupport::WriteDoubles(doc.ThresholdFileName,
                              std::vector<double>(static_cast<std::size_t>(doc.FrameCount), kNarrow));
    QCOMPARE(m_pipeline->RerunNoteStage(), 0);
    QCOMPARE(doc.Mode, AnalysisMode::Melody);
    QCOMPARE(ReadAll(doc.NoteIntenFileName), melody);
    QVERIFY(melody != atDefault);
    ExpectOnlyDocumentFiles();
}

namespace {

// What a step must give back: the record's analysis names and fields and the bytes of the
// files the user sees.
struct Shown {
    WavHead Doc;
    std::string Notes;
    std::string Grid;
    std::string Threshold;
    bool operator==(const Shown& other) const {
        return SameAnalysis(other) && Notes == other.Notes && Grid == other.Grid && Threshold == other.Threshold;
    }
    bool SameAnalysis(const Shown& other) const {
        return Doc.NoteIntenFileName == other.Doc.NoteIntenFileName &&
               Doc.MidiGridFileName == other.Doc.MidiGridFileName &&
               Doc.RawNoteFileName == other.Doc.RawNoteFileName &&
               Doc.ThresholdFileName == other.Doc.ThresholdFileName && Doc.PeakNoteValue == other.Doc.PeakNoteValue &&
               Doc.TempoClass == other.Doc.TempoClass;
    }
};

Shown Snapshot(const WavHead& doc) {
    return {doc, ReadAll(doc.NoteIntenFileName), ReadAll(doc.MidiGridFileName), ReadAll(doc.ThresholdFileName)};
}

}  // namespace

// Edit, threshold re-run, edit; undo three times, redo twice: every state comes back exactly,
// and a new edit then drops the redo step with the files only it kept.
void DocumentPipelineTest::InterleavedEditsAndRerunsUndoAndRedoExactly() {
    QCOMPARE(m_pipeline->OpenDocument(Input("a.wav")), 0);
    const WavHead& doc = m_pipeline->Doc;
    std::vector<Shown> states{Snapshot(doc)};
    m_pipeline->CommitNoteEdit(NoteEdit::SetRun(5, 9, 40, doc.PeakNoteValue), "Add note");
    states.push_back(Snapshot(doc));
    QCOMPARE(m_pipeline->EditSideFile(SideFile::Threshold, 0, doc.FrameCount - 1, 0.05), 0);
    states.push_back(Snapshot(doc));
    QVERIFY(!states[2].SameAnalysis(states[1]));
    m_pipeline->CommitNoteEdit(NoteEdit::SetRun(0, doc.FrameCount - 1, 40, 0.0), "Delete note");
    states.push_back(Snapshot(doc));
    QVERIFY(states[3].Grid != states[2].Grid);
    QCOMPARE(m_pipeline->History().UndoName(), std::string("Delete note"));
    QVERIFY(m_pipeline->Modified());

    for (int state = 2; state >= 0; --state) {
        QCOMPARE(m_pipeline->Undo(), 0);
        QVERIFY(Snapshot(doc) == states[static_cast<std::size_t>(state)]);
        ExpectOnlyDocumentFiles();
    }
    QCOMPARE(m_pipeline->Undo(), -1);
    QVERIFY(!m_pipeline->Modified());
    QCOMPARE(m_pipeline->History().RedoName(), std::string("Add note"));
    QCOMPARE(m_pipeline->Redo(), 0);
    QCOMPARE(m_pipeline->History().RedoName(), std::string("Threshold"));
    QCOMPARE(m_pipeline->Redo(), 0);
    QVERIFY(Snapshot(doc) == states[2]);
    QCOMPARE(m_pipeline->Work.NoteIntenFileName, doc.NoteIntenFileName);

    // Undo the re-run again and edit: the re-run's files go at once.
    QCOMPARE(m_pipeline->Undo(), 0);
    const std::set<std::string> withRedo = DocumentAndKeptFiles(*m_pipeline);
    m_pipeline->CommitNoteEdit(NoteEdit::SetRun(20, 22, 10, 3.0), "Add note");
    QVERIFY(!m_pipeline->History().CanRedo());
    QVERIFY(!Exists(states[2].Doc.NoteIntenFileName));
    QVERIFY(!Exists(states[2].Doc.ThresholdFileName));
    QVERIFY(DocumentAndKeptFiles(*m_pipeline).size() < withRedo.size());
    QCOMPARE(m_pipeline->History().StepCount(), std::size_t{2});
}

// The kept files are deleted with the document: a new document, a cancelled re-run (which
// adds none), a cancelled conversion (the document and its steps stay) and the close.
void DocumentPipelineTest::HistoryFilesGoWithTheDocument() {
    QCOMPARE(m_pipeline->OpenDocument(Input("a.wav")), 0);
    m_pipeline->TempoChoice = kTempoSlow;
    QCOMPARE(m_pipeline->ApplyTempoChoice(), 0);
    QVERIFY(!m_pipeline->History().KeptFiles().empty());
    const std::set<std::string> kept = DocumentAndKeptFiles(*m_pipeline);

    m_progress.CancelOnStart = static_cast<std::int32_t>(m_progress.StartSteps.size()) + 1;
    m_progress.CancelAtStep = 5;
    m_pipeline->TempoChoice = kTempoMedium;
    QCOMPARE(m_pipeline->ApplyTempoChoice(), -1);
    QCOMPARE(FilesIn(TmpDir()), kept);
    m_progress.CancelOnStart = static_cast<std::int32_t>(m_progress.StartSteps.size()) + 1;
    QCOMPARE(m_pipeline->OpenDocument(Input("b.wav")), -1);
    QCOMPARE(FilesIn(TmpDir()), kept);
    QCOMPARE(m_pipeline->History().UndoName(), std::string("Tempo"));

    m_progress.CancelAtStep = -1;
    QCOMPARE(m_pipeline->OpenDocument(Input("b.wav")), 0);
    QVERIFY(!m_pipeline->History().CanUndo());
    QCOMPARE(FilesIn(TmpDir()), WorkFileNames(m_pipeline->Doc));
    m_pipeline->TempoChoice = kTempoFast;
    QCOMPARE(m_pipeline->ApplyTempoChoice(), 0);
    m_pipeline->Close();
    QVERIFY(FilesIn(TmpDir()).empty());
}

void DocumentPipelineTest::CommandsAreRefusedWhileConverting() {
    QCOMPARE(m_pipeline->OpenDocument(Input("b.wav")), 0);
    m_view.MidiName = Input("refused.mid");
    m_pipeline->TempoChoice = kTempoSlow;
    std::vector<std::int32_t> answers;
    std::set<std::int32_t> asked;  // runs that were asked already
    m_progress.OnEvents = [&](const ProgressPoint& point) {
        // Once in the second conversion and once in the re-run, in the note stage (however
        // many times events run there).
        if (point.Starts < 2 || point.Steps != 8 || !asked.insert(point.Starts).second) {
            return;
        }
        QVERIFY(m_pipeline->Busy());
        answers.push_back(m_pipeline->OpenDocument(Input("a.wav")));
        answers.push_back(m_pipeline->RerunNoteStage());
        answers.push_back(m_pipeline->ApplyTempoChoice());
        answers.push_back(m_pipeline->FileSaveMidi());
        answers.push_back(m_pipeline->DropFiles({Input("a.wav")}));
        answers.push_back(m_pipeline->Undo());
        answers.push_back(m_pipeline->Redo());
        answers.push_back(m_pipeline->EditSideFile(SideFile::Threshold, 0, 3, 0.1));
        answers.push_back(m_pipeline->SaveRecordingAs());
        answers.push_back(m_pipeline->ConfirmClose());
    };
    // During a new conversion ...
    QCOMPARE(m_pipeline->OpenDocument(Input("b.wav")), 0);
    // ... and during a re-run.
    QCOMPARE(m_pipeline->RerunNoteStage(), 0);
    QCOMPARE(answers.size(), std::size_t{20});
    for (const std::int32_t answer : answers) {
        QCOMPARE(answer, kRefusedBusy);
    }
    QCOMPARE(m_view.Alerts, 1);  // only the re-run's own alert
    QCOMPARE(m_view.SaveDialogs, 0);
    QVERIFY(m_shell.Launched.empty());
    QVERIFY(!Exists(Input("refused.mid")));
    QCOMPARE(m_progress.StartSteps.size(), std::size_t{3});
    QCOMPARE(m_pipeline->Doc.FileName, Input("b.wav"));
    QVERIFY(!m_pipeline->Busy());
}

void DocumentPipelineTest::RecordingDuringConversionWaitsForIt() {
    const std::string recording = m_tmp->File("rwf4321.tmp");
    std::filesystem::copy_file(Input("b.wav"), recording);
    bool queued = false;
    m_progress.OnEvents = [&](const ProgressPoint& point) {
        if (point.Starts == 1 && point.Steps == 10 && !queued) {
            queued = true;
            QCOMPARE(m_pipeline->OpenRecording(recording), kRefusedBusy);
        }
    };
    QCOMPARE(m_pipeline->OpenDocument(Input("a.wav")), 0);
    QVERIFY(m_pipeline->HasPendingRecording());
    QCOMPARE(m_pipeline->Doc.FileName, Input("a.wav"));
    QCOMPARE(m_pipeline->OpenPendingRecording(), 0);
    QVERIFY(!m_pipeline->HasPendingRecording());
    QCOMPARE(m_pipeline->Doc.FileName, recording);
    QVERIFY(m_pipeline->DocIsRecording());
    ExpectOnlyDocumentFiles({"rwf4321.tmp"});

    // A recording still waiting when the program ends is deleted as well.
    const std::string waiting = m_tmp->File("rwf9999.tmp");
    std::filesystem::copy_file(Input("b.wav"), waiting);
    m_pipeline->QueueRecording(waiting);
    m_pipeline->Close();
    QVERIFY(!Exists(waiting));
    QVERIFY(!Exists(recording));
}

void DocumentPipelineTest::ExportWritesAllButTheLastFrame() {
    QCOMPARE(m_pipeline->OpenDocument(Input("a.wav")), 0);
    const std::string out = Input("export.mid");
    m_view.MidiName = out;
    QCOMPARE(m_pipeline->FileSaveMidi(), 0);
    QCOMPARE(m_pipeline->Doc.MidiFileName, out);

    // The engine's writer on the same note table, once up to FrameCount - 1 (exclusive).
    WavHead reference = m_pipeline->Doc;
    reference.MidiFileName = Input("reference.mid");
    std::string written = reference.MidiFileName;
    TMakeMidi().ConvMidi(kMidiToUserFile, reference, 0, reference.FrameCount - 1, written);
    QVERIFY(!written.empty());
    QCOMPARE(ReadAll(out), ReadAll(reference.MidiFileName));
    // The melody sounds to the end, so including the last frame would change the bytes.
    reference.MidiFileName = Input("whole.mid");
    TMakeMidi().ConvMidi(kMidiToUserFile, reference, 0, reference.FrameCount, written);
    QVERIFY(ReadAll(out) != ReadAll(reference.MidiFileName));

    const testsupport::MidiFile midi = testsupport::ReadMidiFile(out);
    QCOMPARE(midi.Format, 1);
    QCOMPARE(midi.Tracks.size(), std::size_t{2});
    QVERIFY(!testsupport::TrackNotes(midi.Tracks[1]).empty());
}

void DocumentPipelineTest::ExportCancelledOrWithoutDocumentWritesNothing() {
    m_view.MidiName = Input("never.mid");
    QCOMPARE(m_pipeline->FileSaveMidi(), -1);
    QCOMPARE(m_view.SaveDialogs, 0);

    QCOMPARE(m_pipeline->OpenDocument(Input("b.wav")), 0);
    m_pipeline->Doc.MidiFileName = "earlier.mid";
    m_view.MidiName.clear();
    QCOMPARE(m_pipeline->FileSaveMidi(), -1);
    QCOMPARE(m_view.SaveDialogs, 1);
    QCOMPARE(m_pipeline->Doc.MidiFileName, std::string("earlier.mid"));
    QVERIFY(!Exists(Input("never.mid")));
    QVERIFY(!Exists("earlier.mid"));
}

void DocumentPipelineTest::DropOpensFirstFileOnlyInEmptyWindow() {
    QCOMPARE(m_pipeline->DropFiles({Input("garbage.wav"), Input("a.wav")}), 0);
    QVERIFY(!m_pipeline->HasDocument());
    QCOMPARE(m_shell.Launched.size(), std::size_t{1});

    QCOMPARE(m_pipeline->DropFiles({Input("a.wav"), Input("b.wav")}), 0);
    QCOMPARE(m_pipeline->Doc.FileName, Input("a.wav"));
    QCOMPARE(m_shell.Launched.size(), std::size_t{2});
    QCOMPARE(m_shell.Launched.back(), std::filesystem::path(Input("b.wav")));

    QCOMPARE(m_pipeline->DropFiles({Input("b.wav")}), 0);
    QCOMPARE(m_pipeline->Doc.FileName, Input("a.wav"));
    QCOMPARE(m_shell.Launched.size(), std::size_t{3});
}

void DocumentPipelineTest::CloseDeletesWorkFilesButNotMidi() {
    QCOMPARE(m_pipeline->OpenDocument(Input("b.wav")), 0);
    m_view.MidiName = Input("kept.mid");
    QCOMPARE(m_pipeline->FileSaveMidi(), 0);
    m_pipeline->Close();
    QVERIFY(FilesIn(TmpDir()).empty());
    QVERIFY(Exists(Input("kept.mid")));
    QVERIFY(Exists(Input("b.wav")));
    QVERIFY(!m_pipeline->HasDocument());
}

void DocumentPipelineTest::RefreshTurnsZeroViewWidthIntoOne() {
    QCOMPARE(m_pipeline->OpenDocument(Input("b.wav")), 0);
    m_pipeline->Doc.ViewWidth = 0;
    m_pipeline->RefreshStatus();
    QCOMPARE(m_pipeline->Doc.ViewWidth, 1);
    // Only 0 lies below 1 in magnitude.
    m_pipeline->Doc.ViewWidth = -3;
    m_pipeline->RefreshStatus();
    QCOMPARE(m_pipeline->Doc.ViewWidth, -3);
}

void DocumentPipelineTest::StatusTexts() {
    QCOMPARE(FrameTimeText(0), std::string("0.000"));
    QCOMPARE(FrameTimeText(100), std::string("4.644"));
    // 215 frames are 9.98458 s: rounded, not cut.
    QCOMPARE(FrameTimeText(215), std::string("9.985"));
    QCOMPARE(FrameTimeText(129199), std::string("5999.990"));
}

QTEST_GUILESS_MAIN(DocumentPipelineTest)
#include "DocumentPipelineTest.moc"
