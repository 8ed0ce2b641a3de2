#include "app/DocumentPipeline.h"

#include "app/DocumentImport.h"

#include "engine/Conversion.h"
#include "engine/EngineHost.h"
#include "engine/FileIoError.h"
#include "engine/RawFile.h"
#include "engine/UFile.h"
#include "engine/WorkFiles.h"
#include "panes/NoteEditCommand.h"
#include "panes/NoteEdits.h"
#include "panes/NoteGridFile.h"
#include "panes/RerunCommand.h"
#include "platform/IShell.h"
#include "platform/posix/PendingFile.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace ruvo {

namespace {

constexpr std::int32_t kNewFileSteps = 25;  // the bar's scale for a new file (21 steps are made)
constexpr std::int32_t kRerunSteps = kNoteStageSteps;

// The work files of a document record, in the order in which they are deleted.
constexpr std::array<std::string WavHead::*, 10> kWorkFileFields = {
    &WavHead::Temp1FileName,     &WavHead::Temp2FileName,    &WavHead::NormFileName,      &WavHead::IntenFileName,
    &WavHead::ThresholdFileName, &WavHead::HarmonicFileName, &WavHead::NoteIntenFileName, &WavHead::OctFileName,
    &WavHead::RawNoteFileName,   &WavHead::MidiGridFileName};

// Clears in `run` every work file name that `keep` names too, so that deleting what is left
// never touches a file of `keep`.
void ForgetSharedNames(WavHead& run, const WavHead& keep) {
    for (std::string WavHead::*field : kWorkFileFields) {
        std::string& name = run.*field;
        if (name.empty()) {
            continue;
        }
        for (std::string WavHead::*kept : kWorkFileFields) {
            if (keep.*kept == name) {
                name.clear();
                break;
            }
        }
    }
}

void RemoveFile(const std::string& name) {
    if (!name.empty()) {
        std::remove(name.c_str());
    }
}

// Both names lead to one file: the same name, or the same file under another spelling.
bool SameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) {
        return false;
    }
    std::error_code error;
    const std::filesystem::path left = std::filesystem::absolute(a, error).lexically_normal();
    const std::filesystem::path right = std::filesystem::absolute(b, error).lexically_normal();
    return left == right || std::filesystem::equivalent(a, b, error);
}

// The engine's messages during a conversion: the progress window goes before any box (it
// stays on top and would hide the modal box behind it), and the box names the file.
class ConversionMessages : public IEngineHost {
public:
    ConversionMessages(IProgressView& progress, std::string fileName)
        : m_outer(EngineHost()), m_progress(progress), m_fileName(std::move(fileName)), m_scope(*this) {}

    void ErrorBox(const std::string& text) override {
        m_progress.ProgressHide();
        m_outer.ErrorBox(Named(text));
    }
    void MessageBox(const std::string& text) override {
        m_progress.ProgressHide();
        m_outer.MessageBox(Named(text));
    }
    void ProcessEvents() override { m_outer.ProcessEvents(); }

private:
    std::string Named(const std::string& text) const {
        return m_fileName.empty() || text.find(m_fileName) != std::string::npos ? text : m_fileName + ":\n" + text;
    }

    IEngineHost& m_outer;
    IProgressView& m_progress;
    std::string m_fileName;
    ScopedEngineHost m_scope;
};

// Writes a copy of `from` whole beside `chosen` and puts it in place when complete.
void CopyToUserFile(const std::string& from, const std::string& chosen) {
    TPendingFile pending;
    if (const std::string reason = pending.Create(chosen); !reason.empty()) {
        throw FileIoError(chosen, "write", reason);
    }
    {
        RawFile in;
        RawFile out;
        in.Open(from, RawFile::Mode::Read);
        out.Open(pending.WritePath(), RawFile::Mode::Write);
        std::vector<char> chunk(std::size_t{1} << 20);
        while (const std::size_t got = in.Read(chunk.data(), chunk.size())) {
            out.Write(chunk.data(), got);
        }
        in.Close();
        out.Close();
    }
    if (const std::string reason = pending.Commit(); !reason.empty()) {
        throw FileIoError(chosen, "write", reason);
    }
}

}  // namespace

class DocumentPipeline::BusyScope {
public:
    explicit BusyScope(DocumentPipeline& pipeline) : m_pipeline(pipeline) { m_pipeline.m_busy = true; }
    ~BusyScope() { m_pipeline.m_busy = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    DocumentPipeline& m_pipeline;
};

DocumentPipeline::DocumentPipeline(IDocumentView& view, IProgressView& progress, IShell& shell)
    : m_view(view), m_progress(progress), m_shell(shell) {}

DocumentPipeline::~DocumentPipeline() { Close(); }

std::int32_t DocumentPipeline::OpenDocument(const std::string& fileName, bool isRecording) {
    if (m_busy) {
        return kRefusedBusy;
    }
    // The document shown is replaced only when its unsaved work was saved or given up; a
    // recording that arrives must go somewhere, so its question cannot be cancelled.
    if (!fileName.empty() && ConfirmClose(!isRecording, isRecording) != 0) {
        // A take that could not replace the document (the program is ending) waits on.
        if (isRecording) {
            m_pendingRecordings.push_front(fileName);
        }
        return -1;
    }
    BusyScope busy(*this);
    const ConversionMessages messages(m_progress, fileName);
    m_view.HidePlayer();
    if (fileName.empty()) {
        m_view.ShowPlayer();
        return -1;
    }
    std::int32_t result = -1;
    try {
        if (AnalyseWave(fileName) == 0) {
            Work.Mode = ModeChoice;
            if (RunNoteStage(Work, 1) == 0) {
                // The grid file is built before the new document replaces the old one, so that
                // a failure here still leaves the old document with all its files. The working
                // record still names the old document's grid file: the build must not delete it.
                Work.MidiGridFileName.clear();
                result = BuildGridFile(Work, 1, [this] { m_progress.ProgressIdle(); });
            }
        }
    } catch (...) {
        m_progress.ProgressHide();
        // A take is not lost to a file error (a full disk): the user decides on it.
        const bool keepTake = isRecording && fileName != Doc.FileName && !m_ending;
        DiscardRun(fileName, isRecording && !keepTake);
        if (keepTake) {
            m_failedTakes.push_back(fileName);
        }
        RefreshDocumentView();
        m_view.ShowPlayer();
        throw;
    }
    if (result != 0) {
        DiscardRun(fileName, isRecording);
        RefreshDocumentView();
        m_view.ShowPlayer();
        return -1;
    }
    AdoptWork(isRecording, m_runCopyName.empty() ? std::string() : fileName);
    m_runCopyName.clear();
    // The old document's steps and the files they kept go with it.
    m_history.Clear();
    m_view.GridFileBuilt(true);
    if (!isRecording) {
        m_view.FileConverted(fileName);
    }
    RefreshDocumentView();
    m_view.EnableSaveMidi();
    m_view.ShowPlayer();
    return 0;
}

std::int32_t DocumentPipeline::ImportDocument(const std::string& fileName) {
    if (m_busy) {
        return kRefusedBusy;
    }
    m_importWithoutAsking = true;
    const std::int32_t result = OpenDocument(fileName);
    m_importWithoutAsking = false;
    return result;
}

std::int32_t DocumentPipeline::OpenRecording(const std::string& fileName) {
    if (m_busy) {
        QueueRecording(fileName);
        return kRefusedBusy;
    }
    return OpenDocument(fileName, true);
}

std::int32_t DocumentPipeline::OpenPendingRecording() {
    if (m_busy || m_pendingRecordings.empty()) {
        return kRefusedBusy;
    }
    const std::string fileName = m_pendingRecordings.front();
    m_pendingRecordings.pop_front();
    return OpenDocument(fileName, true);
}

std::int32_t DocumentPipeline::DropFiles(const std::vector<std::string>& fileNames) {
    if (m_busy) {
        return kRefusedBusy;
    }
    for (std::size_t i = 0; i < fileNames.size(); ++i) {
        if (i == 0 && !HasDocument()) {
            (void)OpenDocument(fileNames[i]);
        } else {
            m_shell.LaunchInstance(fileNames[i]);
        }
    }
    return 0;
}

std::int32_t DocumentPipeline::AnalyseWave(const std::string& fileName) {
    m_runCopyName.clear();
    DocumentImport import;
    const bool rescue = import.Rescuable(m_wavProc, fileName);
    if (import.Refused()) return -1;
    if (rescue && !m_importWithoutAsking && !m_view.ConfirmImport(import.Question())) {
        return -1;
    }
    m_progress.ProgressStart(kNewFileSteps);
    m_progress.ProgressShow();
    Work = Doc;
    if (rescue) {
        const std::int32_t written = import.WriteCopy(m_runCopyName, [this] {
            m_progress.ProgressIdle();
            return !m_progress.CancelRequested();
        });
        if (written != 0) {
            m_progress.ProgressHide();
            return -1;
        }
    }
    const TickFn tick = [this](Tick kind) {
        if (kind == Tick::Step) {
            m_progress.ProgressStep();
        } else {
            m_progress.ProgressIdle();
        }
        return !m_progress.CancelRequested();
    };
    const std::int32_t result = RunWaveStage(m_wavProc, m_runCopyName.empty() ? fileName : m_runCopyName, Work, tick);
    if (result == 0) {
        if (const std::string note = m_wavProc.ShortFileNotice(); !note.empty())
            m_view.ShowStatusNote(std::filesystem::path(fileName).filename().string() + ": " + note);
        return 0;
    }
    if (result == kCancelled) {
        (void)CheckCancel(Work);
    }
    m_progress.ProgressHide();
    return -1;
}

std::int32_t DocumentPipeline::RunNoteStage(WavHead& rec, std::int32_t fresh) {
    m_view.HidePlayer();
    // Events run inside each step, and the cancel is looked at right after them, so a
    // Cancel pressed during the last step still stops the run.
    const TickFn tick = [this](Tick kind) {
        if (m_progress.CancelRequested()) {
            return false;
        }
        if (kind == Tick::Step) {
            m_progress.ProgressStep();
        } else {
            m_progress.ProgressIdle();
        }
        return !m_progress.CancelRequested();
    };
    const std::int32_t result = ruvo::RunNoteStage(m_note, rec, fresh, tick);
    if (result != 0) {
        (void)CheckCancel(rec);
        m_progress.ProgressHide();
        m_view.ShowPlayer();
        return -1;
    }
    m_progress.ProgressHide();
    m_view.ShowPlayer();
    return 0;
}

std::int32_t DocumentPipeline::RerunNoteStage(const std::string& stepName) {
    if (m_busy) {
        return kRefusedBusy;
    }
    return Rerun(stepName, nullptr);
}

std::int32_t DocumentPipeline::EditSideFile(SideFile file, std::int32_t first, std::int32_t last, double value) {
    if (m_busy) {
        return kRefusedBusy;
    }
    const bool threshold = file == SideFile::Threshold;
    std::string WavHead::*field = threshold ? &WavHead::ThresholdFileName : &WavHead::HarmonicFileName;
    if (!HasDocument() || (Doc.*field).empty()) {
        return -1;
    }
    const AnalysisState before = AnalysisState::Of(Doc);
    // The edit goes into a copy under a new name: the previous file stays for undo.
    std::string edited;
    GetTempName(threshold ? "thr" : "bai", edited);
    if (edited.empty()) {
        return -1;
    }
    try {
        std::filesystem::copy_file(Doc.*field, edited, std::filesystem::copy_options::overwrite_existing);
        SetSideFileRun(edited, Doc.FrameCount, first, last, value);
    } catch (...) {
        RemoveFile(edited);
        throw;
    }
    Doc.*field = edited;
    Work.*field = edited;
    return Rerun(threshold ? "Threshold" : "Harmonic tone", &before);
}

void DocumentPipeline::CommitNoteEdit(const NoteEdit& edit, const std::string& stepName) {
    m_history.Push(NoteEditCommand::Apply(Doc, edit, stepName));
}

std::int32_t DocumentPipeline::PushStep(std::unique_ptr<IEditCommand> step) {
    if (m_busy) {
        return kRefusedBusy;
    }
    if (!HasDocument()) {
        return -1;
    }
    m_history.Push(std::move(step));
    return 0;
}

std::int32_t DocumentPipeline::Undo() { return StepHistory(&EditHistory::Undo); }

std::int32_t DocumentPipeline::Redo() { return StepHistory(&EditHistory::Redo); }

std::int32_t DocumentPipeline::StepHistory(bool (EditHistory::*step)(WavHead&)) {
    if (m_busy) {
        return kRefusedBusy;
    }
    bool done = false;
    try {
        done = (m_history.*step)(Doc);
    } catch (...) {
        RefreshDocumentView();
        throw;
    }
    if (!done) {
        return -1;
    }
    ShowHistoryStep();
    return 0;
}

void DocumentPipeline::ShowHistoryStep() {
    Work = Doc;
    TempoChoice = Doc.TempoClass;
    ModeChoice = Doc.Mode;
    m_view.GridFileBuilt(false);
    RefreshDocumentView();
}

bool DocumentPipeline::Modified() const { return HasDocument() && (m_history.Modified() || m_docIsRecording); }

std::int32_t DocumentPipeline::ConfirmClose(bool canCancel, bool byRecording) {
    if (m_busy) {
        return kRefusedBusy;
    }
    while (Modified()) {
        if (m_ending) {
            return -1;
        }
        const std::string name = std::filesystem::path(DocumentName()).filename().string();
        const bool recording = m_docIsRecording;
        const bool edits = m_history.Modified();
        // Nothing closes when a new recording takes the document's place.
        const std::string when = !byRecording         ? " before closing?"
                                 : recording && edits ? " before the new recording replaces them?"
                                                      : " before the new recording replaces it?";
        const std::string question = !recording ? "Save the MIDI file of " + name + when
                                     : edits    ? "Save the recording " + name + " and its MIDI file" + when
                                                : "Save the recording " + name + when;
        const CloseAnswer answer = m_view.AskSaveBeforeClose(question, canCancel);
        if (m_ending) {
            return -1;
        }
        switch (answer) {
            case CloseAnswer::Cancel:
                if (canCancel) {
                    return -1;
                }
                continue;
            case CloseAnswer::Discard: return 0;
            case CloseAnswer::Save: break;
        }
        if ((recording && SaveRecordingAs() != 0) || (edits && FileSaveMidi() != 0)) {
            if (canCancel) {
                return -1;
            }
            continue;
        }
        return 0;
    }
    return 0;
}

std::int32_t DocumentPipeline::SaveRecordingAs() {
    if (m_busy) {
        return kRefusedBusy;
    }
    if (!HasDocument() || !m_docIsRecording) {
        return -1;
    }
    BusyScope busy(*this);
    std::string chosen;
    if (!m_view.ChooseRecordingFileName(chosen) || chosen.empty() || chosen == Doc.FileName) {
        return -1;
    }
    CopyToUserFile(Doc.FileName, chosen);
    // The document reads its sound from the user's file now; the work file goes.
    RemoveFile(Doc.FileName);
    Doc.FileName = chosen;
    Work.FileName = chosen;
    m_docIsRecording = false;
    RefreshStatus();
    return 0;
}

std::int32_t DocumentPipeline::SaveTakeAs(const std::string& fileName) {
    if (m_busy) {
        return kRefusedBusy;
    }
    BusyScope busy(*this);
    std::string chosen;
    if (!m_view.ChooseRecordingFileName(chosen) || chosen.empty() || chosen == fileName) {
        return -1;
    }
    CopyToUserFile(fileName, chosen);
    RemoveFile(fileName);
    return 0;
}

std::vector<std::string> DocumentPipeline::ReleaseRecordings() {
    std::vector<std::string> names(m_pendingRecordings.begin(), m_pendingRecordings.end());
    names.insert(names.end(), m_failedTakes.begin(), m_failedTakes.end());
    m_pendingRecordings.clear();
    m_failedTakes.clear();
    if (m_docIsRecording && !Doc.FileName.empty()) {
        m_docIsRecording = false;
        names.insert(names.begin(), Doc.FileName);
    }
    return names;
}

std::int32_t DocumentPipeline::Rerun(const std::string& stepName, const AnalysisState* sideEditBefore) {
    if (!HasDocument()) {
        return -1;
    }
    BusyScope busy(*this);
    const ConversionMessages messages(m_progress, DocumentName());
    const AnalysisState before = sideEditBefore != nullptr ? *sideEditBefore : AnalysisState::Of(Doc);
    // A side file edited for a re-run that did not happen is a step of its own.
    const auto keepSideEdit = [&] {
        if (sideEditBefore != nullptr) {
            m_history.Push(std::make_unique<RerunCommand>(stepName, before, AnalysisState::Of(Doc)));
        }
    };
    if (!m_view.ConfirmRerun()) {
        keepSideEdit();
        return -1;
    }
    const std::int32_t previousTempo = Doc.TempoClass;
    const AnalysisMode previousMode = Doc.Mode;
    Doc.TempoClass = TempoChoice;
    Doc.Mode = ModeChoice;
    m_progress.ProgressStart(kRerunSteps);
    m_progress.ProgressShow();
    Work = Doc;
    std::int32_t result = -1;
    try {
        // The note stage rewrites the two tables and the note files; on new names the
        // document's own files stay as they were until the run has completed.
        if (GiveNoteFilesNewNames(Work) && RunNoteStage(Work, 0) == 0) {
            Work.MidiGridFileName.clear();
            result = BuildGridFile(Work, 0, [this] { m_progress.ProgressIdle(); });
        }
    } catch (...) {
        m_progress.ProgressHide();
        Doc.TempoClass = previousTempo;
        Doc.Mode = previousMode;
        DiscardRun({}, false);
        keepSideEdit();
        RefreshDocumentView();
        m_view.ShowPlayer();
        throw;
    }
    if (result != 0) {
        m_progress.ProgressHide();
        Doc.TempoClass = previousTempo;
        Doc.Mode = previousMode;
        DiscardRun({}, false);
        keepSideEdit();
        RefreshDocumentView();
        m_view.ShowPlayer();
        return -1;
    }
    // The previous analysis files stay with the step for undo; the scratch tables go.
    WavHead scratch = std::move(Doc);
    Doc = Work;
    AnalysisState{}.ApplyTo(scratch);
    ForgetSharedNames(scratch, Doc);
    DeleteWorkFiles(scratch, false);
    m_history.Push(std::make_unique<RerunCommand>(stepName, before, AnalysisState::Of(Doc)));
    m_view.GridFileBuilt(false);
    RefreshDocumentView();
    return 0;
}

std::int32_t DocumentPipeline::ApplyTempoChoice() {
    if (m_busy) {
        return kRefusedBusy;
    }
    if (TempoChoice == Doc.TempoClass || Doc.IntenFileName.empty()) {
        return 0;
    }
    return RerunNoteStage("Tempo");
}

std::int32_t DocumentPipeline::ApplyModeChoice(AnalysisMode mode) {
    if (m_busy) {
        return kRefusedBusy;
    }
    ModeChoice = mode;
    if (!HasDocument() || Doc.Mode == mode) {
        return 0;
    }
    const std::int32_t result =
        RerunNoteStage(mode == AnalysisMode::Melody   ? "Melody analysis"
                       : mode == AnalysisMode::Chords ? "Chords analysis"
                                                      : "Classic analysis");
    if (result != 0) {
        ModeChoice = Doc.Mode;
    }
    return result;
}

void DocumentPipeline::SetKeepLeadingSilence(bool keep) {
    Doc.KeepLeadingSilence = keep;
    Work.KeepLeadingSilence = keep;
}

std::int32_t DocumentPipeline::FileSaveMidi() {
    if (m_busy) {
        return kRefusedBusy;
    }
    if (!HasDocument()) {
        return -1;
    }
    // Busy from the dialog on: nothing may replace the document while it is being exported.
    BusyScope busy(*this);
    std::string chosen;
    if (!m_view.ChooseMidiFileName(chosen) || chosen.empty()) {
        return -1;
    }
    if (std::filesystem::path(chosen).extension().empty()) {
        chosen += ".mid";
    }
    // The document's sound is not the user's to lose through a MIDI export, as in the converter.
    if (SameFile(chosen, Doc.FileName) || SameFile(chosen, m_docImportedFrom)) {
        EngineHost().ErrorBox("The MIDI file " + chosen +
                              " would replace the document's sound file; choose another name.");
        return -1;
    }
    Doc.MidiFileName = chosen;
    // Written as a file without a name beside the chosen one and put in place only when
    // complete: a failure or a kill never leaves a partial file or damages an existing one.
    TPendingFile pending;
    if (const std::string reason = pending.Create(chosen); !reason.empty()) throw FileIoError(chosen, "write", reason);
    WavHead out = Doc;
    out.MidiFileName = pending.WritePath();
    // The writer empties the name when it fails and leaves it alone otherwise.
    std::string written = out.MidiFileName;
    try {
        // The end column is exclusive: the last analysis frame is not exported.
        m_midi.ConvMidi(kMidiToUserFile, out, 0, Doc.FrameCount - 1, written);
    } catch (const FileIoError& e) {
        throw FileIoError(e.Path() == out.MidiFileName ? chosen : e.Path(), e.Operation(), e.Reason());
    }
    if (written.empty()) return -1;
    if (const std::string reason = pending.Commit(); !reason.empty()) throw FileIoError(chosen, "write", reason);
    m_history.MarkSaved();
    return 0;
}

std::int32_t DocumentPipeline::CheckCancel(const WavHead& rec) {
    if (!m_progress.CancelRequested()) {
        return 0;
    }
    WavHead run = rec;
    ForgetSharedNames(run, Doc);
    DeleteWorkFiles(run, false);
    return -1;
}

void DocumentPipeline::DeleteWorkFiles(WavHead& rec, bool isRecording) { ruvo::DeleteWorkFiles(rec, isRecording); }

void DocumentPipeline::RefreshDocumentView() { Refresh(true); }

void DocumentPipeline::RefreshStatus() { Refresh(false); }

void DocumentPipeline::Refresh(bool fillGrid) {
    if (!m_commandLineFile.empty() && !m_cmdLineDone && !m_busy) {
        // The first refresh comes with the first activation of the window; the refresh
        // inside this conversion finds the flag set.
        m_cmdLineDone = true;
        (void)OpenDocument(m_commandLineFile);
    }
    if (HasDocument() && std::abs(Doc.ViewWidth) < 1) {
        Doc.ViewWidth = 1;
    }
    m_view.ShowDocument(Doc, fillGrid);
}

void DocumentPipeline::Close() {
    m_history.Clear();
    DeleteWorkFiles(Doc, DocWavIsWorkFile());
    m_docIsRecording = false;
    m_docImportedFrom.clear();
    // Between runs the working record names no file beyond the document's.
    DeleteWorkFiles(Work, false);
    for (const std::string& recording : m_pendingRecordings) {
        RemoveFile(recording);
    }
    m_pendingRecordings.clear();
    for (const std::string& take : m_failedTakes) {
        RemoveFile(take);
    }
    m_failedTakes.clear();
}

void DocumentPipeline::DiscardRun(const std::string& fileName, bool isRecording) {
    WavHead run = Work;
    ForgetSharedNames(run, Doc);
    DeleteWorkFiles(run, false);
    // A recording that did not become the document would be left behind unreachable.
    if (isRecording && fileName != Doc.FileName) {
        // Except when the program ends on a signal, which keeps every take.
        if (m_ending) {
            m_pendingRecordings.push_front(fileName);
        } else {
            RemoveFile(fileName);
        }
    }
    if (m_runCopyName != Doc.FileName) {
        RemoveFile(m_runCopyName);
    }
    m_runCopyName.clear();
    Work = Doc;
}

void DocumentPipeline::AdoptWork(bool isRecording, const std::string& importedFrom) {
    WavHead old = std::move(Doc);
    const bool oldWavIsWorkFile = DocWavIsWorkFile();
    Doc = Work;
    const bool sameWav = old.FileName == Doc.FileName;
    m_docIsRecording = isRecording || (m_docIsRecording && sameWav);
    if (!importedFrom.empty() || !sameWav) {
        m_docImportedFrom = importedFrom;
    }
    ForgetSharedNames(old, Doc);
    DeleteWorkFiles(old, oldWavIsWorkFile && !sameWav);
}

bool DocumentPipeline::GiveNoteFilesNewNames(WavHead& rec) {
    struct NewName {
        std::string WavHead::*Field;
        const char* Prefix;
    };
    static constexpr std::array<NewName, 4> kRewritten = {{{&WavHead::Temp1FileName, "tm1"},
                                                           {&WavHead::Temp2FileName, "tm2"},
                                                           {&WavHead::NoteIntenFileName, "not"},
                                                           {&WavHead::RawNoteFileName, "ioc"}}};
    for (const NewName& entry : kRewritten) {
        std::string name;
        GetTempName(entry.Prefix, name);
        if (name.empty()) {
            return false;
        }
        rec.*entry.Field = name;
    }
    return true;
}

}  // namespace ruvo
