#pragma once
// TRuvoAppForm: the main window. Its menus, speed buttons, note grid and status panels; it
// shows the document that its DocumentPipeline owns and turns its commands into pipeline
// calls. It makes the player, the about box, the tempo dialog and the progress dialog (in
// that order) and owns them. Every handler that reaches the engine catches the engine's
// exceptions and shows them. UI thread only.

#include "app/DocumentNames.h"
#include "app/PipelineViews.h"

#include <QMainWindow>
#include <QPixmap>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QToolButton;

namespace ruvo {

class DocumentPipeline;
class FluidMidiOut;
class TMidiOutputChoice;
class IMidiOut;
class EditingPanes;
class ISettingsStore;
class IShell;
class TDropDst;
class TGoToWeb;
class THistoryMenu;
class TKSavePosReg;
class TScalePane;
class ScoreWindow;
class TAboutBox;
class TIntenCalProgress;
class TKeyBoard;
class TLiveRecording;
class TPlayer;
class TPlayhead;
class TStrColGrid;
class TTempo2;

class TRuvoAppForm : public QMainWindow, public IDocumentView {
    Q_OBJECT

public:
    // `commandLineFile`: converted at the first activation (empty: none). `settings` keeps
    // the recent files and the window positions; without it they last only this run.
    TRuvoAppForm(IShell& shell, ISettingsStore& settings, const QString& commandLineFile = {},
                 QWidget* parent = nullptr);
    TRuvoAppForm(IShell& shell, const QString& commandLineFile = {}, QWidget* parent = nullptr);
    ~TRuvoAppForm() override;

    DocumentPipeline& Pipeline() { return *m_pipeline; }
    // The panes around the note grid (waveform, selection, editor, strips).
    EditingPanes& Panes() { return *m_panes; }
    TPlayer* Player() const { return m_player; }
    TLiveRecording* LiveRecording() const { return m_liveRecording; }
    TAboutBox* AboutBox() const { return m_aboutBox; }
    TTempo2* Tempo2() const { return m_tempo2; }
    TIntenCalProgress* Progress() const { return m_progress; }
    TStrColGrid* MidiDisp2() const { return m_midiDisp2; }
    TStrColGrid* MididispbackUp() const { return m_midiDispBackUp; }
    TKeyBoard* KeyBoard() const { return m_keyBoard; }
    QLabel* WavInfoPanel(std::size_t index) const { return m_wavInfo.at(index); }
    QLabel* StatusBarLabel() const { return m_statusBar; }
    QToolButton* OpenBtn() const { return m_openBtn; }
    QToolButton* SaveMidi() const { return m_saveMidi; }
    QToolButton* TenpoBtn() const { return m_tenpoBtn; }
    QToolButton* ExitBtn() const { return m_exitBtn; }
    QAction* FileOpenItem() const { return m_fileOpen; }
    QAction* FileImportAudioItem() const { return m_fileImportAudio; }
    QAction* FileSaveMidiFile() const { return m_fileSaveMidiFile; }
    QAction* FileExitItem() const { return m_fileExit; }
    QAction* FileSaveRecordingItem() const { return m_fileSaveRecording; }
    QAction* EditUndoItem() const { return m_editUndo; }
    QAction* EditRedoItem() const { return m_editRedo; }
    QAction* Tenpomenu() const { return m_tenpomenu; }
    QAction* ClassicAnalysis1() const { return m_classicAnalysis; }
    QAction* MelodyAnalysis1() const { return m_melodyAnalysis; }
    QAction* ChordsAnalysis1() const { return m_chordsAnalysis; }
    QAction* KeepLeadingSilence1() const { return m_keepLeadingSilence; }
    QAction* Displayalert1() const { return m_displayAlert; }
    QAction* Displayplayer1() const { return m_displayPlayer; }
    QAction* AboutApplication1() const { return m_aboutApplication; }
    QAction* HelpBrouser1() const { return m_helpBrowser; }
    QAction* PlayOrStopItem() const { return m_playOrStop; }
    QAction* ZoomInItem() const { return m_zoomIn; }
    QAction* ZoomOutItem() const { return m_zoomOut; }
    TPlayhead* Playhead() const { return m_playhead; }
    bool Destroying() const { return m_destroying; }
    THistoryMenu* HistoryMenu1() const { return m_historyMenu; }
    TKSavePosReg* KSavePosReg1() const { return m_savePos; }
    TKSavePosReg* PlayerSavePos() const { return m_playerSavePos; }
    TDropDst* DropDst1() const { return m_dropDst; }
    TGoToWeb* Www() const { return m_www; }
    TScalePane* HTime() const { return m_hTime; }
    // The score's side of the window: its menu items, beat lines and tempo and meter form.
    ScoreWindow* ScoreSide() const { return m_scoreWindow.get(); }
    QToolButton* HShort() const { return m_hShort; }
    QToolButton* HLong() const { return m_hLong; }
    QToolButton* VShort() const { return m_vShort; }
    QToolButton* VLong() const { return m_vLong; }
    // The help page the help command opens: beside the program, else where it is installed.
    static QString HelpPage();
    // Note symbols by note grid row (image r shows note 71 - r); empty once the window closed.
    const std::vector<QPixmap>& OnpuImageList() const { return m_onpuImageList; }

    // Closes without the question (a termination signal), within a second wherever the
    // window waits: every dialog open goes as if cancelled and the command that opened it
    // unwinds. A recording not saved, finished or in progress (its header then finished),
    // outlives the program through `keep`, which returns the name printed on standard error.
    void CloseWithoutAsking(std::function<std::string(const std::string&)> keep);
    // Recordings left by an earlier run that was killed: each is offered (open, save or
    // discard) once no conversion or dialog runs; their headers are repaired first.
    void OfferEarlierRecordings(std::vector<std::string> takes);

    // IDocumentView
    void ShowPlayer() override;
    void HidePlayer() override;
    bool ConfirmRerun() override;
    void ShowDocument(WavHead& doc, bool fillGrid) override;
    void GridFileBuilt(bool fresh) override;
    void EnableSaveMidi() override;
    bool ChooseMidiFileName(std::string& name) override;
    void ShowStatusNote(const std::string& note) override;
    bool ConfirmImport(const std::string& question) override;
    CloseAnswer AskSaveBeforeClose(const std::string& question, bool canCancel) override;
    bool ChooseRecordingFileName(std::string& name) override;
    void FileConverted(const std::string& fileName) override;

signals:
    // The window has closed and its work files are gone: the program ends.
    void OnClosed();

public slots:
    void FileOpen();
    // "&Import audio...": the Open dialog on the audio formats; what the import can rescue is
    // imported without asking.
    void FileImportAudio();
    void FileSaveMidi();
    void FileExit();
    // "Save &recording as...": the recording that is the document, as the user's WAV file.
    void FileSaveRecording();
    // "&Undo" and "&Redo": the latest step of the document's history, back or again.
    void EditUndoClick();
    void EditRedoClick();
    void TenpomenuClick();
    // The analysis items: converts with `mode` from now on, re-running the document shown.
    void AnalysisModeClick(AnalysisMode mode);
    void KeepLeadingSilenceClick();
    void Displayalert1Click();
    void Displayplayer1Click();
    void AboutApplication1Click();
    void HelpBrouser1Click();
    void FormActivate();
    // The player's recording is ready (stands for the recording-ready window message).
    void WmRecordingDone();
    // Opens `fileName` as a document, as every way of naming a file ends.
    void OpenFile(const QString& fileName);
    void HistoryMenu1HistorySelected(const QString& fileName);
    void DropDst1FileDrop(const QStringList& files, const QPoint& point);
    void HShortClick();
    void HLongClick();
    void VShortClick();
    void VLongClick();
    // Moves and stretches the panes for the window's size (nothing at the design size or
    // smaller, nor during the teardown).
    void FormResize();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    TRuvoAppForm(IShell& shell, ISettingsStore* settings, const QString& commandLineFile, QWidget* parent);
    void FormCreate();
    void FormShow();
    void ShowHint(const QString& hint);
    void CreateMenus();
    // The Open dialog with `title`, on the "Audio files" filter when `audio`; empty when
    // cancelled.
    QString ChooseInputFile(const QString& title, bool audio);
    void CreateEditMenu();
    // The Edit items name the steps they would take and are enabled only when there is one.
    void ShowEditSteps();
    // Undo (`back`) or redo, refused during a conversion or a drag on the panes.
    void HistoryStep(bool back);
    void CreateAnalysisItems(QMenu* setting);
    // The analysis items' marks and the tempo command follow the pipeline's choice.
    void ShowModeChoice();
    void CreateSpeedPanel(QWidget* client);
    void CreateStatusPanels(QWidget* client);
    // The keyboard beside the note grid, its MIDI output and the sound status messages.
    void CreateKeyBoard(QWidget* client);
    void FollowNoteGridRows();
    void KeyBoardMidiError(const QString& text);
    void ShowSoundStatus();
    void CreateEditingPanes();
    void CreateScoreWindow();
    // The "MIDI &output" choice between the built-in synthesizer and the JACK port.
    void CreateMidiOutput();
    // Sends the live notes of a take to the JACK port when that is the MIDI output.
    void ConnectLiveNotes();
    void CreateScales(QWidget* client);
    void CreateComponents();
    void LayoutStatusPanels();
    void SetRowHeight(std::int32_t rowHeight);
    // Runs a command; an exception it raises is shown and ends it. Afterwards a close or a
    // recording that waited for a conversion to end gets its turn.
    template <typename Command>
    void Guarded(Command&& command);
    void AfterCommand();
    // A take in progress at a close: asks to save or discard it; false keeps the window.
    bool ConfirmTakeInProgress();
    // Hands every recording not saved (and the one in progress) to m_keepOnClose.
    void KeepTakes();
    // Rejects the dialogs waiting on the user, then closes once their commands unwound.
    void EndOnSignal();
    void OfferEarlierTakes();
    // Shortcuts beside the menus' own, the View menu and the Ctrl+wheel zoom (MainShortcuts.cpp).
    void CreateShortcuts();
    // Space: plays the selection, or stops what plays.
    void PlayOrStop();
    // The analysis mode and "Keep leading silence" of the last run, and keeping them for the next.
    void RestoreRememberedChoices();
    void KeepRememberedChoices();
    // The document's name for the user: its file's, or "Recording N" for a recording not saved.
    std::string ShownDocumentName();
    // What the Save MIDI dialog offers.
    QString SuggestedMidiName();
    // A recent file that can no longer be read is taken off the list, with a message.
    void OpenRecentFile(const QString& fileName);

    IShell& m_shell;
    std::unique_ptr<ISettingsStore> m_ownSettings;  // when no store was given
    ISettingsStore& m_settings;
    std::unique_ptr<DocumentPipeline> m_pipeline;
    std::unique_ptr<EditingPanes> m_panes;
    TPlayer* m_player = nullptr;              // owned by parent
    TLiveRecording* m_liveRecording = nullptr;  // owned by the client area
    TAboutBox* m_aboutBox = nullptr;          // owned by parent
    TTempo2* m_tempo2 = nullptr;              // owned by parent
    TIntenCalProgress* m_progress = nullptr;  // owned by parent
    TStrColGrid* m_midiDisp2 = nullptr;       // owned by parent
    TStrColGrid* m_midiDispBackUp = nullptr;  // owned by parent
    TKeyBoard* m_keyBoard = nullptr;          // owned by parent
    FluidMidiOut* m_midiOut = nullptr;        // owned by parent
    TMidiOutputChoice* m_midiOutput = nullptr;  // owned by parent
    QFrame* m_speedPanel = nullptr;           // owned by parent
    QToolButton* m_openBtn = nullptr;         // owned by parent
    QToolButton* m_saveMidi = nullptr;        // owned by parent
    QToolButton* m_tenpoBtn = nullptr;        // owned by parent
    QToolButton* m_exitBtn = nullptr;         // owned by parent
    std::array<QLabel*, 7> m_wavInfo{};       // owned by parent
    QLabel* m_statusBar = nullptr;            // owned by parent
    QFrame* m_wavInfoBar = nullptr;           // owned by parent
    TScalePane* m_hTime = nullptr;            // owned by parent
    QToolButton* m_hShort = nullptr;          // owned by parent
    QToolButton* m_hLong = nullptr;           // owned by parent
    QToolButton* m_vShort = nullptr;          // owned by parent
    QToolButton* m_vLong = nullptr;           // owned by parent
    THistoryMenu* m_historyMenu = nullptr;    // owned by parent
    TKSavePosReg* m_savePos = nullptr;        // owned by parent
    TKSavePosReg* m_playerSavePos = nullptr;  // owned by the player
    TDropDst* m_dropDst = nullptr;            // owned by parent
    TGoToWeb* m_www = nullptr;                // owned by parent
    QMenu* m_fileMenu = nullptr;              // owned by parent
    QAction* m_fileOpen = nullptr;            // owned by parent
    QAction* m_fileImportAudio = nullptr;     // owned by parent
    QAction* m_fileSaveMidiFile = nullptr;    // owned by parent
    QAction* m_fileExit = nullptr;            // owned by parent
    QAction* m_fileSaveRecording = nullptr;   // owned by parent
    QAction* m_editUndo = nullptr;            // owned by parent
    QAction* m_editRedo = nullptr;            // owned by parent
    QAction* m_tenpomenu = nullptr;           // owned by parent
    QAction* m_classicAnalysis = nullptr;     // owned by parent
    QAction* m_melodyAnalysis = nullptr;      // owned by parent
    QAction* m_chordsAnalysis = nullptr;      // owned by parent
    QAction* m_keepLeadingSilence = nullptr;  // owned by parent
    QAction* m_displayAlert = nullptr;        // owned by parent
    QAction* m_displayPlayer = nullptr;       // owned by parent
    QAction* m_aboutApplication = nullptr;    // owned by parent
    QAction* m_helpBrowser = nullptr;         // owned by parent
    QString m_openedFileName;                 // the name last chosen in the Open dialog
    QString m_lastMidiName;                   // the save dialog's last choice
    QString m_soundStatusShown;               // what the status bar last said about sound
    std::vector<QPixmap> m_onpuImageList;
    bool m_destroying = false;
    std::function<std::string(const std::string&)> m_keepOnClose;  // set: close without asking
    // Takes of a killed run, or whose conversion failed, not yet decided on; with the question.
    std::vector<std::pair<std::string, QString>> m_earlierTakes;
    int m_endAttempts = 0;  // closes tried since the termination signal
    bool m_closePending = false;  // closed during a conversion: close after it
    bool m_closed = false;
    bool m_activatedOnce = false;
    bool m_playerPlaced = false;  // the player stands where it was last closed
    std::unique_ptr<ScoreWindow> m_scoreWindow;  // after the pipeline and the panes it draws on
    QAction* m_playOrStop = nullptr;  // owned by parent
    QAction* m_zoomIn = nullptr;      // owned by parent
    QAction* m_zoomOut = nullptr;     // owned by parent
    TPlayhead* m_playhead = nullptr;  // owned by parent
    bool m_choicesRestored = false;
    std::string m_lastMidiFor;  // the document m_lastMidiName was chosen for
    RecordingNames m_recordingNames;
};

}  // namespace ruvo
