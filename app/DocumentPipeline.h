#pragma once
// DocumentPipeline: the main window's document and everything that turns a WAV file into it.
// Owns the document record `Doc`, the working record `Work` of a conversion in progress, the
// engine objects and the work files both records name (deleted by Close() or the destructor).
// Runs every conversion on the UI thread, letting window events run between its steps; while
// one runs, every command that would start another or change the document is refused.
// Owned by the main window; tests drive it through fake views.

#include "app/PipelineViews.h"
#include "engine/TMakeMidi.h"
#include "engine/TNote.h"
#include "engine/WavHead.h"
#include "engine/WavProc.h"
#include "panes/EditHistory.h"
#include "panes/PaneHost.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ruvo {

class IShell;
struct AnalysisState;
struct NoteEdit;

// Result of a command refused because a conversion is running.
constexpr std::int32_t kRefusedBusy = -3;

class DocumentPipeline {
public:
    DocumentPipeline(IDocumentView& view, IProgressView& progress, IShell& shell);
    ~DocumentPipeline();
    DocumentPipeline(const DocumentPipeline&) = delete;
    DocumentPipeline& operator=(const DocumentPipeline&) = delete;

    // The file named on the command line; converted by the first refresh.
    void SetCommandLineFile(std::string fileName) { m_commandLineFile = std::move(fileName); }

    // The whole conversion of one file: WAV stage, note stage, grid file; the new document
    // replaces the old one (whose work files go) only when every stage completed. 0 done,
    // -1 rejected, failed or cancelled (the previous document stays, with its files),
    // kRefusedBusy. `isRecording`: the file is a recording of the player, a work file that is
    // deleted with its document (or at once when it does not become one).
    // A file error throws FileIoError after the run's files are gone and the previous
    // document is shown again.
    // A file that the check refuses for its layout and libsndfile reads is offered as a
    // converted copy (IDocumentView::ConfirmImport); the copy is the document's WAV file, a
    // work file deleted with it, and DocumentName() keeps the file's own name.
    std::int32_t OpenDocument(const std::string& fileName, bool isRecording = false);
    // As OpenDocument, but a file the import can rescue is imported without asking.
    std::int32_t ImportDocument(const std::string& fileName);
    // A recording of the player: converted now, or after the conversion that is running.
    std::int32_t OpenRecording(const std::string& fileName);
    // Keeps a recording for later, when a conversion or a modal dialog is running.
    void QueueRecording(const std::string& fileName) { m_pendingRecordings.push_back(fileName); }
    bool HasPendingRecording() const { return !m_pendingRecordings.empty(); }
    // The takes whose conversion failed on a file error, handed over to be decided on (saved,
    // opened again or discarded); they are work files still.
    std::vector<std::string> TakeFailedTakes() { return std::exchange(m_failedTakes, {}); }
    // Converts the oldest recording that arrived during a conversion.
    std::int32_t OpenPendingRecording();
    // Files dropped on the window: the first opens here when no document is shown, every
    // other one in a new instance of the program. Refused while a conversion runs.
    std::int32_t DropFiles(const std::vector<std::string>& fileNames);

    // The note stage and grid file again on the document after an edit or a new tempo class
    // (TempoChoice), after the alert. Runs on new files: a cancel or failure leaves the
    // document exactly as it was. The run is the history's step `stepName`, which keeps the
    // previous files. 0 done, -1 declined, failed or cancelled, kRefusedBusy.
    std::int32_t RerunNoteStage(const std::string& stepName = "Re-run");
    // A side file's frames first .. last set to `value` (into a new file; the old one is kept
    // for undo) and the note stage re-run, as one step; a declined or failed re-run leaves the
    // side file changed, still one step. 0 re-run, -1 not, kRefusedBusy.
    std::int32_t EditSideFile(SideFile file, std::int32_t first, std::int32_t last, double value);
    // A grid edit written into the note table and the grid file as a step of the history.
    void CommitNoteEdit(const NoteEdit& edit, const std::string& stepName);
    // Reverts the latest step or re-applies the latest undone one, and shows the document.
    // 0 done, -1 nothing to do, kRefusedBusy. A file error throws FileIoError (the history
    // stays where it was, the view shows the files as they are).
    std::int32_t Undo();
    std::int32_t Redo();
    const EditHistory& History() const { return m_history; }
    // A step already applied by someone else (a choice of the score) joins the history. 0 done,
    // -1 no document, kRefusedBusy.
    std::int32_t PushStep(std::unique_ptr<IEditCommand> step);
    // The document has edits or re-runs not saved as MIDI, or is a recording not saved.
    bool Modified() const;
    // Before the document is closed or replaced: when Modified(), asks once; Save runs the
    // saves it needs (the recording's, the MIDI export). 0 go on, -1 keep the document
    // (Cancel, or a save that did not happen), kRefusedBusy. Without `canCancel` the question
    // is asked until the work is saved or discarded. `byRecording`: a new recording takes
    // the document's place, and the question says so.
    std::int32_t ConfirmClose(bool canCancel = true, bool byRecording = false);
    // Writes the recording that is the document as a WAV file of the user's choice; it is the
    // user's file from then on (the document's file, never deleted). 0 written, -1 cancelled,
    // failed or no recording, kRefusedBusy.
    std::int32_t SaveRecordingAs();
    // Copies the take `fileName` (a work file) to a WAV file of the user's choice and deletes
    // it. 0 written, -1 cancelled or failed (the take stays), kRefusedBusy.
    std::int32_t SaveTakeAs(const std::string& fileName);
    // The recordings that are the document or wait for a conversion stop being work files,
    // so that they outlive the close; their names.
    std::vector<std::string> ReleaseRecordings();
    // The program is ending on a signal: every question from now on keeps the work as it is
    // (ConfirmClose answers -1 without asking).
    void SetEnding() { m_ending = true; }
    // After the tempo dialog: re-runs when TempoChoice differs from the document's class and
    // a document exists. 0 when nothing had to change.
    std::int32_t ApplyTempoChoice();
    // The analysis chosen in the window: the next conversion uses it, and a document of the
    // other mode is re-run in it. A declined, cancelled or failed re-run puts the choice back
    // to the document's mode, so that the choice always names the mode of the document shown.
    std::int32_t ApplyModeChoice(AnalysisMode mode);
    // Whether MIDI made from the document (export, the player) keeps the silence before the
    // first note; carried in Doc.KeepLeadingSilence, also through a conversion in progress.
    void SetKeepLeadingSilence(bool keep);

    // Asks for a name and writes columns 0 .. FrameCount - 2 of the note table as a MIDI
    // file; a name without extension gets ".mid". A name that leads to the document's sound
    // file or to the file it was imported from is refused with a message. 0 written, -1
    // cancelled, refused, failed or no document, kRefusedBusy.
    std::int32_t FileSaveMidi();

    // Shows the document (converting the command-line file first, once). RefreshStatus does
    // not refill the note grid.
    void RefreshDocumentView();
    void RefreshStatus();

    // Deletes the work files of the document and of the working record (and recordings
    // still waiting); the document is then empty. Must not run during a conversion.
    void Close();

    // Stages, public for the window's handlers and for tests.
    std::int32_t AnalyseWave(const std::string& fileName);
    std::int32_t RunNoteStage(WavHead& rec, std::int32_t fresh);
    // -1 after Cancel, having deleted the work files `rec` names that the document does not.
    std::int32_t CheckCancel(const WavHead& rec);
    // Deletes and clears the work files rec names; its WAV file too when `isRecording`.
    static void DeleteWorkFiles(WavHead& rec, bool isRecording);

    bool Busy() const { return m_busy; }
    bool HasDocument() const { return !Doc.MidiGridFileName.empty(); }
    bool DocIsRecording() const { return m_docIsRecording; }
    // The name of the file the document came from: the opened file for an imported one (whose
    // Doc.FileName is the converted copy), else Doc.FileName. For the caption and recent files.
    const std::string& DocumentName() const { return m_docImportedFrom.empty() ? Doc.FileName : m_docImportedFrom; }
    bool CmdLineDone() const { return m_cmdLineDone; }

    // The document shown; the panes change its view and selection fields.
    WavHead Doc;
    // The working record of the conversion in progress; between runs it names only files
    // of Doc.
    WavHead Work;
    // The tempo class last confirmed in the tempo dialog (1 Fast, 2 Medium, 3 Slow).
    std::int32_t TempoChoice = kTempoFast;
    // The analysis of the next conversion and of every re-run; Classic at every start.
    AnalysisMode ModeChoice = AnalysisMode::Classic;

private:
    class BusyScope;

    void Refresh(bool fillGrid);
    // Deletes what the working record names beyond the document, and `fileName` when it is
    // a recording that did not become the document; Work then mirrors Doc again.
    void DiscardRun(const std::string& fileName, bool isRecording);
    // Doc := Work; the old document's files that the new one does not name are deleted.
    // `importedFrom`: the file whose converted copy the new document analysed, else empty.
    void AdoptWork(bool isRecording, const std::string& importedFrom = {});
    // The document's WAV file is a work file: a recording or an imported copy.
    bool DocWavIsWorkFile() const { return m_docIsRecording || !m_docImportedFrom.empty(); }
    bool GiveNoteFilesNewNames(WavHead& rec);
    std::int32_t Rerun(const std::string& stepName, const AnalysisState* sideEditBefore);
    // After an undo or redo: the choices follow the document, Work mirrors it, it is shown.
    // Undo or redo one step of the history, then shows the document as it now is.
    std::int32_t StepHistory(bool (EditHistory::*step)(WavHead&));
    void ShowHistoryStep();

    IDocumentView& m_view;
    IProgressView& m_progress;
    IShell& m_shell;
    TWavProc m_wavProc;
    TNote m_note;
    TMakeMidi m_midi;
    std::string m_commandLineFile;
    std::deque<std::string> m_pendingRecordings;
    std::vector<std::string> m_failedTakes;
    bool m_cmdLineDone = false;
    bool m_busy = false;
    bool m_docIsRecording = false;
    std::string m_docImportedFrom;  // the file the document's copy was imported from
    bool m_importWithoutAsking = false;
    bool m_ending = false;
    std::string m_runCopyName;  // the imported copy the running conversion analyses
    EditHistory m_history;       // the document's steps; cleared with the document
};

}  // namespace ruvo
