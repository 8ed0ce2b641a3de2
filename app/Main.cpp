#include "app/Main.h"

#include "app/About.h"
#include "app/Alert.h"
#include "app/DocumentPipeline.h"
#include "app/DocumentStatus.h"
#include "app/EditingPanes.h"
#include "app/FormLayout.h"
#include "app/Glyphs.h"
#include "app/HelpPages.h"
#include "app/IntenPro.h"
#include "app/LiveRecording.h"
#include "app/MidiOutputChoice.h"
#include "app/NoteSymbols.h"
#include "app/Placement.h"
#include "app/Playhead.h"
#include "app/ScoreWindow.h"
#include "app/TempoMeterForm.h"
#include "app/uTenpo4.h"
#include "audio/PlayerFiles.h"
#include "audio/play.h"
#include "components/DROPDST.h"
#include "components/GoToWeb.h"
#include "components/HistMenu.h"
#include "components/KSavePos.h"
#include "engine/EngineHost.h"
#include "import/ImportFormats.h"
#include "panes/EditHistory.h"
#include "panes/KeyBoardPane.h"
#include "panes/NoteGridEditor.h"
#include "panes/NoteGridPane.h"
#include "panes/Scales.h"
#include "panes/StrCGrid.h"
#include "platform/ISettingsStore.h"
#include "panes/ThresholdPane.h"
#include "platform/IShell.h"
#include "platform/qt/FluidMidiOut.h"
#include "platform/qt/PathConvert.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QResizeEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusTipEvent>
#include <QPushButton>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QToolButton>

#include <cstdio>
#include <exception>
#include <functional>
#include <map>

namespace ruvo {

namespace {

constexpr int kClientWidth = 647;  // the design's client area below the menu bar
constexpr int kClientHeight = 506;
constexpr int kRecordingRetryMs = 100;
// A signal's close is tried this often until the commands of the dialogs it rejected
// unwound, and at the latest after this many tries whatever runs.
constexpr int kEndRetryMs = 50;
constexpr int kEndAttempts = 8;

// A hint holds a short text (the tooltip) and a long one (the status bar) around a bar.
void ApplyHint(QWidget* widget, const QString& hint) {
    const qsizetype bar = hint.indexOf(QLatin1Char('|'));
    widget->setToolTip(bar < 0 ? hint : hint.left(bar));
    widget->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
}

QLabel* MakeLabel(QWidget* parent, const QString& text, int left, int top) {
    auto* label = new QLabel(text, parent);  // owned by parent
    label->move(left, top);
    label->adjustSize();
    return label;
}

// Settings that last as long as the window: for a window made without a settings store.
class SessionSettings : public ISettingsStore {
public:
    std::optional<std::string> ReadString(const std::string& section, const std::string& key) const override {
        const auto found = m_values.find({section, key});
        return found == m_values.end() ? std::nullopt : std::optional<std::string>(found->second);
    }
    void WriteString(const std::string& section, const std::string& key, const std::string& value) override {
        m_values[{section, key}] = value;
    }
    std::optional<std::int32_t> ReadInt(const std::string& section, const std::string& key) const override {
        const std::optional<std::string> text = ReadString(section, key);
        bool ok = false;
        const int value = text ? QString::fromStdString(*text).toInt(&ok) : 0;
        return ok ? std::optional<std::int32_t>(value) : std::nullopt;
    }
    void WriteInt(const std::string& section, const std::string& key, std::int32_t value) override {
        m_values[{section, key}] = std::to_string(value);
    }
    void Remove(const std::string& section, const std::string& key) override { m_values.erase({section, key}); }
    std::vector<std::string> Keys(const std::string& section) const override {
        std::vector<std::string> keys;
        for (const auto& [where, value] : m_values) {
            if (where.first == section) {
                keys.push_back(where.second);
            }
        }
        return keys;
    }

private:
    std::map<std::pair<std::string, std::string>, std::string> m_values;
};

}  // namespace

template <typename Command>
void TRuvoAppForm::Guarded(Command&& command) {
    try {
        command();
    } catch (const std::exception& error) {
        EngineHost().ErrorBox(error.what());
    } catch (...) {
        EngineHost().ErrorBox("Unexpected error.");
    }
    AfterCommand();
}

TRuvoAppForm::TRuvoAppForm(IShell& shell, const QString& commandLineFile, QWidget* parent)
    : TRuvoAppForm(shell, static_cast<ISettingsStore*>(nullptr), commandLineFile, parent) {}

TRuvoAppForm::TRuvoAppForm(IShell& shell, ISettingsStore& settings, const QString& commandLineFile, QWidget* parent)
    : TRuvoAppForm(shell, &settings, commandLineFile, parent) {}

TRuvoAppForm::TRuvoAppForm(IShell& shell, ISettingsStore* settings, const QString& commandLineFile, QWidget* parent)
    : QMainWindow(parent),
      m_shell(shell),
      m_ownSettings(settings == nullptr ? std::make_unique<SessionSettings>() : nullptr),
      m_settings(settings == nullptr ? *m_ownSettings : *settings) {
    FormCreate();
    // The windows of the program, in the order in which it makes them.
    m_player = new TPlayer(this);              // owned by parent
    m_aboutBox = new TAboutBox(this);          // owned by parent
    m_tempo2 = new TTempo2(this);              // owned by parent
    m_progress = new TIntenCalProgress(this);  // owned by parent
    m_pipeline = std::make_unique<DocumentPipeline>(*this, *m_progress, m_shell);
    m_tempo2->BindTempoChoice(m_pipeline->TempoChoice);
    m_pipeline->SetCommandLineFile(FileNameToEngine(commandLineFile));
    CreateEditingPanes();
    CreateScoreWindow();
    CreateMidiOutput();
    connect(m_player, &TPlayer::OnRecordingDone, this, &TRuvoAppForm::WmRecordingDone, Qt::QueuedConnection);
    connect(m_player, &TPlayer::OnSoundStatusChanged, this, &TRuvoAppForm::ShowSoundStatus);
    connect(m_player, &TPlayer::OnPlaybackFailed, this, &TRuvoAppForm::ShowHint);
    connect(m_player, &TPlayer::OnRecordingWarning, this, &TRuvoAppForm::ShowHint);
    m_liveRecording = new TLiveRecording(*m_player->WaveIn(), *centralWidget());  // owned by the client area
    connect(m_liveRecording, &TLiveRecording::OnMessage, this, &TRuvoAppForm::ShowHint);
    ConnectLiveNotes();
    CreateComponents();
    CreateShortcuts();
    RestoreRememberedChoices();
}

void TRuvoAppForm::CreateComponents() {
    m_historyMenu = new THistoryMenu(m_settings, this);  // owned by parent
    m_historyMenu->setObjectName(QStringLiteral("HistoryMenu1"));
    m_historyMenu->SetKeyName(QStringLiteral("TEST"));
    m_historyMenu->SetHistoryNum(5);
    m_historyMenu->SetTargetMenuItem(m_fileMenu->menuAction());
    m_historyMenu->SetActive(true);
    connect(m_historyMenu, &THistoryMenu::OnHistorySelected, this, &TRuvoAppForm::HistoryMenu1HistorySelected);

    m_dropDst = new TDropDst(this);  // owned by parent
    m_dropDst->setObjectName(QStringLiteral("DropDst1"));
    m_dropDst->SetTarget(THookTarget::htForm);
    connect(m_dropDst, &TDropDst::OnFileDrop, this, &TRuvoAppForm::DropDst1FileDrop);

    m_www = new TGoToWeb(m_shell, this);  // owned by parent
    m_www->setObjectName(QStringLiteral("www"));
    m_www->BrowserState = TBrowserState::gwNormal;

    m_savePos = new TKSavePosReg(*this, m_settings);  // owned by parent
    m_savePos->setObjectName(QStringLiteral("KSavePosReg1"));
    m_playerSavePos = new TKSavePosReg(*m_player, m_settings);  // owned by the player
    m_playerSavePos->setObjectName(QStringLiteral("KSavePosReg1"));
    m_savePos->RestorePlacement();
    m_playerPlaced = m_playerSavePos->RestorePlacement();
}

TRuvoAppForm::~TRuvoAppForm() {
    m_destroying = true;  // FormDestroy: the layout does nothing during the teardown
    if (m_playhead != nullptr) {
        m_playhead->Stop();
    }
    if (!m_closed && m_pipeline) {
        m_pipeline->Close();
    }
}

void TRuvoAppForm::FormCreate() {
    setObjectName(QStringLiteral("RuvoAppForm"));
    setWindowTitle(QStringLiteral("Ruvo"));
    setWindowIcon(ProgramIcon());
    QFont font(QStringLiteral("Times New Roman"));
    font.setPixelSize(13);
    setFont(font);
    m_onpuImageList = BuildNoteSymbolList(NoteSymbolPicture());

    auto* client = new QWidget(this);  // owned by parent
    client->setObjectName(QStringLiteral("Client"));
    ApplyHint(client, QStringLiteral("Main Window"));
    setCentralWidget(client);

    CreateMenus();
    CreateSpeedPanel(client);

    MakeLabel(client, QStringLiteral("WAV form"), 16, 64)->setObjectName(QStringLiteral("WavFormLabel"));
    MakeLabel(client, QStringLiteral("Selected area"), 8, 144)->setObjectName(QStringLiteral("SelectedAreaLabel"));
    MakeLabel(client, QStringLiteral("MIDI Note"), 16, 184)->setObjectName(QStringLiteral("MidiNoteLabel"));
    MakeLabel(client, QStringLiteral("Harmonic Tone"), 40, 408)->setObjectName(QStringLiteral("HarmonicToneLabel"));
    MakeLabel(client, QStringLiteral("Threshould"), 48, 432)->setObjectName(QStringLiteral("ThresholdLabel"));

    m_midiDisp2 = new TStrColGrid(client);  // owned by parent
    m_midiDisp2->setObjectName(QStringLiteral("MidiDisp2"));
    SetUpNoteGrid(*m_midiDisp2);
    m_midiDisp2->setGeometry(135, 168, 475, 217);
    m_midiDispBackUp = new TStrColGrid(client);  // owned by parent
    m_midiDispBackUp->setObjectName(QStringLiteral("MididispbackUp"));
    SetUpScratchGrid(*m_midiDispBackUp);

    CreateStatusPanels(client);
    CreateKeyBoard(client);
    CreateScales(client);
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
}

void TRuvoAppForm::CreateEditingPanes() {
    m_panes =
        std::make_unique<EditingPanes>(*centralWidget(), *m_pipeline, *m_midiDisp2, *m_midiDispBackUp, m_onpuImageList,
                                       [this](const std::function<void()>& command) { Guarded(command); });
}

void TRuvoAppForm::CreateScoreWindow() {
    QMenu* setting = nullptr;
    for (QObject* holder : m_tenpomenu->associatedObjects()) {
        setting = setting != nullptr ? setting : qobject_cast<QMenu*>(holder);
    }
    ScoreWindow::Places places;
    places.FileMenu = m_fileMenu;
    places.FileBefore = m_fileSaveRecording;
    places.SettingMenu = setting;
    places.FormBefore = m_classicAnalysis;
    places.LinesBefore = m_displayAlert;
    places.FormShortcuts = {m_editUndo, m_editRedo};
    m_scoreWindow = std::make_unique<ScoreWindow>(
        *this, *m_pipeline, *m_midiDisp2, *m_hTime, places,
        [this](const std::function<void()>& command) { Guarded(command); },
        [this](const QString& text) { ShowHint(text); }, [this] { ShowEditSteps(); });
    // The window's other shortcuts that mean the same in the tempo form (not its zoom and
    // play keys, which are typed there or tap).
    m_scoreWindow->TempoMeterForm()->addActions(
        {m_fileOpen, m_fileSaveMidiFile, m_scoreWindow->SaveScoreItem(), m_fileExit, m_helpBrowser});
}

void TRuvoAppForm::CreateMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    m_fileMenu = file;
    m_fileOpen = file->addAction(QStringLiteral("&Open..."), this, &TRuvoAppForm::FileOpen);
    m_fileOpen->setObjectName(QStringLiteral("FileOpenItem"));
    m_fileOpen->setStatusTip(QStringLiteral("既存のﾌｧｲﾙを開く"));
    m_fileImportAudio = file->addAction(QStringLiteral("&Import audio..."), this, &TRuvoAppForm::FileImportAudio);
    m_fileImportAudio->setObjectName(QStringLiteral("FileImportAudioItem"));
    m_fileImportAudio->setStatusTip(QStringLiteral("Convert a FLAC, Ogg, MP3, AIFF or other WAV file and analyse it"));
    m_fileSaveMidiFile = file->addAction(QStringLiteral("&Save Midi file..."), this, &TRuvoAppForm::FileSaveMidi);
    m_fileSaveMidiFile->setObjectName(QStringLiteral("FileSaveMidiFile"));
    m_fileSaveMidiFile->setEnabled(false);
    m_fileSaveRecording = file->addAction(QStringLiteral("Save &recording as..."), this,
                                          &TRuvoAppForm::FileSaveRecording);
    m_fileSaveRecording->setObjectName(QStringLiteral("FileSaveRecordingItem"));
    m_fileSaveRecording->setStatusTip(
        QStringLiteral("Save the recording as a WAV file of your own; otherwise it is deleted with the document"));
    m_fileSaveRecording->setEnabled(false);
    file->addSeparator();
    m_fileExit = file->addAction(QStringLiteral("E&xit"), this, &TRuvoAppForm::FileExit);
    m_fileExit->setObjectName(QStringLiteral("FileExitItem"));
    m_fileExit->setShortcut(QKeySequence(Qt::ALT | Qt::Key_X));
    m_fileExit->setStatusTip(QStringLiteral("ｱﾌﾟﾘｹｰｼｮﾝの終了"));

    CreateEditMenu();
    QMenu* setting = menuBar()->addMenu(QStringLiteral("&Setting"));
    m_tenpomenu = setting->addAction(QStringLiteral("&Tempo..."), this, &TRuvoAppForm::TenpomenuClick);
    m_tenpomenu->setObjectName(QStringLiteral("Tenpomenu"));
    CreateAnalysisItems(setting);
    setting->addSeparator();
    m_displayAlert = setting->addAction(QStringLiteral("Display alert"), this, &TRuvoAppForm::Displayalert1Click);
    m_displayAlert->setObjectName(QStringLiteral("Displayalert1"));
    m_displayAlert->setCheckable(true);
    m_displayAlert->setChecked(true);
    m_displayPlayer = setting->addAction(QStringLiteral("Display player"), this, &TRuvoAppForm::Displayplayer1Click);
    m_displayPlayer->setObjectName(QStringLiteral("Displayplayer1"));
    m_displayPlayer->setCheckable(true);
    m_displayPlayer->setChecked(true);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    m_aboutApplication =
        help->addAction(QStringLiteral("&About Application..."), this, &TRuvoAppForm::AboutApplication1Click);
    m_aboutApplication->setObjectName(QStringLiteral("AboutApplication1"));
    m_helpBrowser = help->addAction(QStringLiteral("&Help Browser"), this, &TRuvoAppForm::HelpBrouser1Click);
    m_helpBrowser->setObjectName(QStringLiteral("HelpBrouser1"));
}

void TRuvoAppForm::CreateEditMenu() {
    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    m_editUndo = edit->addAction(QStringLiteral("&Undo"), this, &TRuvoAppForm::EditUndoClick);
    m_editUndo->setObjectName(QStringLiteral("EditUndoItem"));
    m_editUndo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    m_editRedo = edit->addAction(QStringLiteral("&Redo"), this, &TRuvoAppForm::EditRedoClick);
    m_editRedo->setObjectName(QStringLiteral("EditRedoItem"));
    m_editRedo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    connect(edit, &QMenu::aboutToShow, this, &TRuvoAppForm::ShowEditSteps);
    m_editUndo->setEnabled(false);
    m_editRedo->setEnabled(false);
}

void TRuvoAppForm::ShowEditSteps() {
    if (!m_pipeline || m_editUndo == nullptr) {
        return;
    }
    const EditHistory& history = m_pipeline->History();
    const bool idle = !m_pipeline->Busy();
    const auto show = [idle](QAction* item, const QString& verb, const std::string& step, const QString& what) {
        const QString name = QString::fromStdString(step);
        item->setText(name.isEmpty() ? verb : verb + QLatin1Char(' ') + name);
        item->setEnabled(idle && !name.isEmpty());
        item->setStatusTip(name.isEmpty() ? what : what + QStringLiteral(": ") + name + QLatin1Char('.'));
    };
    show(m_editUndo, QStringLiteral("&Undo"), history.UndoName(),
         QStringLiteral("Take back the last edit of the notes, the threshold, the harmonics, the tempo or the "
                        "analysis"));
    show(m_editRedo, QStringLiteral("&Redo"), history.RedoName(), QStringLiteral("Do again the edit taken back"));
    if (m_fileSaveRecording != nullptr) {
        m_fileSaveRecording->setEnabled(idle && m_pipeline->DocIsRecording());
    }
}

void TRuvoAppForm::EditUndoClick() { HistoryStep(true); }

void TRuvoAppForm::EditRedoClick() { HistoryStep(false); }

void TRuvoAppForm::HistoryStep(bool back) {
    // A step in the middle of a drag would leave the drag acting on files it did not see.
    if (m_pipeline->Busy() || m_panes->NoteGridEditor().Drag().Active != 0 ||
        m_panes->ThresholdPane().ThresholdDrag() != 0) {
        return;
    }
    Guarded([this, back] { m_panes->StepHistory(back); });
    ShowModeChoice();
}

void TRuvoAppForm::CreateAnalysisItems(QMenu* setting) {
    auto* group = new QActionGroup(this);  // owned by parent
    group->setExclusive(true);
    const auto makeItem = [this, setting, group](const char* name, const QString& text, const QString& hint,
                                                 AnalysisMode mode) {
        QAction* item = setting->addAction(text, this, [this, mode] { AnalysisModeClick(mode); });
        item->setObjectName(QString::fromLatin1(name));
        item->setCheckable(true);
        item->setStatusTip(hint);
        group->addAction(item);
        return item;
    };
    m_classicAnalysis = makeItem("ClassicAnalysis1", QStringLiteral("&Classic analysis"),
                                 QStringLiteral("Classic keeps every spectral peak above the threshold: for chords "
                                                "and several voices."),
                                 AnalysisMode::Classic);
    m_melodyAnalysis = makeItem("MelodyAnalysis1", QStringLiteral("&Melody (one voice)"),
                                QStringLiteral("Melody follows a single voice, one note at a time: for a singer or "
                                               "one instrument."),
                                AnalysisMode::Melody);
    m_chordsAnalysis = makeItem("ChordsAnalysis1", QStringLiteral("C&hords (several voices)"),
                                QStringLiteral("Chords finds the notes of several voices at once: for a piano, a "
                                               "guitar, an organ or an ensemble."),
                                AnalysisMode::Chords);
    m_classicAnalysis->setChecked(true);
    setting->addSeparator();
    m_keepLeadingSilence =
        setting->addAction(QStringLiteral("&Keep leading silence"), this, &TRuvoAppForm::KeepLeadingSilenceClick);
    m_keepLeadingSilence->setObjectName(QStringLiteral("KeepLeadingSilence1"));
    m_keepLeadingSilence->setCheckable(true);
    m_keepLeadingSilence->setStatusTip(
        QStringLiteral("The saved and played MIDI starts its first note where it sounds in the recording, not "
                       "at once."));
}

void TRuvoAppForm::ShowModeChoice() {
    const AnalysisMode mode = m_pipeline->ModeChoice;
    const bool melody = mode != AnalysisMode::Classic;
    m_classicAnalysis->setChecked(!melody);
    m_melodyAnalysis->setChecked(mode == AnalysisMode::Melody);
    m_chordsAnalysis->setChecked(mode == AnalysisMode::Chords);
    // Melody and chords mode do not smooth by tempo: the command would change nothing.
    m_tenpomenu->setEnabled(!melody);
    m_tenpoBtn->setEnabled(!melody);
    const QString tempoHint = mode == AnalysisMode::Chords ? QStringLiteral(
                                  "Tempo|Chords mode does not use the tempo; choose Classic analysis to set it.")
                              : melody ? QStringLiteral(
                                           "Tempo|Melody mode does not use the tempo; choose Classic "
                                           "analysis to set it.")
                                     : QStringLiteral("Tempo|Set music's tempo for conversion.");
    ApplyHint(m_tenpoBtn, tempoHint);
    m_tenpomenu->setStatusTip(melody ? tempoHint.mid(tempoHint.indexOf(QLatin1Char('|')) + 1) : QString());
    m_panes->ShowAnalysisMode(m_pipeline->ModeChoice);
    KeepRememberedChoices();
}

void TRuvoAppForm::CreateSpeedPanel(QWidget* client) {
    m_speedPanel = new QFrame(client);  // owned by parent
    m_speedPanel->setObjectName(QStringLiteral("SpeedPanel"));
    m_speedPanel->setFrameShape(QFrame::Panel);
    m_speedPanel->setFrameShadow(QFrame::Raised);
    m_speedPanel->setGeometry(0, 0, kClientWidth, 34);

    const auto makeButton = [this](const char* name, const QIcon& icon, const QString& hint, int left) {
        auto* button = new QToolButton(m_speedPanel);  // owned by parent
        button->setObjectName(QString::fromLatin1(name));
        button->setIcon(icon);
        button->setAutoRaise(true);
        button->setGeometry(left, 4, 25, 25);
        ApplyHint(button, hint);
        return button;
    };
    m_openBtn = makeButton("OpenBtn", style()->standardIcon(QStyle::SP_DialogOpenButton),
                           QStringLiteral("Open|Open Wav File."), 11);
    m_saveMidi = makeButton("SaveMidi", style()->standardIcon(QStyle::SP_DialogSaveButton),
                            QStringLiteral("Save Midi|Save Midi file."), 39);
    m_saveMidi->setEnabled(false);
    m_tenpoBtn = makeButton("TenpoBtn", TempoGlyph(), QStringLiteral("Tempo|Set music's tempo for conversion."), 90);
    m_exitBtn = makeButton("ExitBtn", style()->standardIcon(QStyle::SP_DialogCloseButton),
                           QStringLiteral("Exit|Exit from the application."), 140);
    connect(m_openBtn, &QToolButton::clicked, this, &TRuvoAppForm::FileOpen);
    connect(m_saveMidi, &QToolButton::clicked, this, &TRuvoAppForm::FileSaveMidi);
    connect(m_tenpoBtn, &QToolButton::clicked, this, &TRuvoAppForm::TenpomenuClick);
    connect(m_exitBtn, &QToolButton::clicked, this, &TRuvoAppForm::FileExit);
}

void TRuvoAppForm::CreateStatusPanels(QWidget* client) {
    m_wavInfoBar = new QFrame(client);  // owned by parent
    m_wavInfoBar->setObjectName(QStringLiteral("WavInfo"));
    m_wavInfoBar->setGeometry(0, 463, kClientWidth, 21);
    for (std::size_t i = 0; i < m_wavInfo.size(); ++i) {
        auto* panel = new QLabel(m_wavInfoBar);  // owned by parent
        panel->setObjectName(QStringLiteral("WavInfoPanel%1").arg(i));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_wavInfo[i] = panel;
    }
    LayoutStatusPanels();
    m_statusBar = new QLabel(client);  // owned by parent
    m_statusBar->setObjectName(QStringLiteral("StatusBar"));
    m_statusBar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_statusBar->setGeometry(0, 489, kClientWidth, 17);
}

void TRuvoAppForm::CreateKeyBoard(QWidget* client) {
    m_midiOut = new FluidMidiOut(this);  // owned by parent
    m_keyBoard = new TKeyBoard(client);  // owned by parent
    m_keyBoard->setGeometry(80, 168, 57, 201);
    m_keyBoard->SetMidiOut(m_midiOut);
    m_keyBoard->SetWheelTarget(m_midiDisp2);
    FollowNoteGridRows();
    connect(m_midiDisp2, &TStrColGrid::OnTopLeftChanged, this, &TRuvoAppForm::FollowNoteGridRows);
    connect(m_keyBoard, &TKeyBoard::OnMidiError, this, &TRuvoAppForm::KeyBoardMidiError);
    connect(m_keyBoard, &TKeyBoard::OnRowHover, this, [this](std::int32_t row) {
        if (m_panes) {
            m_panes->NoteGridEditor().ShowNoteSymbol(row);
        }
    });
    // Devices that come or go reach the status bar through the player's sound status.
    connect(m_midiOut, &FluidMidiOut::OnStatusChanged, this, &TRuvoAppForm::ShowSoundStatus);
    m_midiOut->Preload();
    QTimer::singleShot(0, this, &TRuvoAppForm::ShowSoundStatus);
}

void TRuvoAppForm::FollowNoteGridRows() {
    if (m_keyBoard->DefaultRowHeight() != m_midiDisp2->DefaultRowHeight()) {
        m_keyBoard->SetDefaultRowHeight(m_midiDisp2->DefaultRowHeight());
    }
    m_keyBoard->SetTopRow(m_midiDisp2->TopRow());
    m_keyBoard->viewport()->update();
}

void TRuvoAppForm::KeyBoardMidiError(const QString& text) {
    // The message only: closing the program here would lose the document and its edits.
    EngineHost().ErrorBox(text.toStdString());
    ShowSoundStatus();
}

void TRuvoAppForm::ShowSoundStatus() {
    QStringList missing;
    // The keyboard's output: the built-in synthesizer's lacks do not matter while JACK plays.
    const IMidiOut& keyOutput = m_midiOutput != nullptr ? static_cast<const IMidiOut&>(*m_midiOutput) : *m_midiOut;
    if (const std::string keys = keyOutput.Unavailable(); !keys.empty()) {
        missing << QString::fromStdString(keys);
    }
    if (m_midiOutput != nullptr && !m_midiOutput->Fault().isEmpty()) {
        missing << m_midiOutput->Fault();
    }
    if (m_player != nullptr && !m_player->SoundStatus().isEmpty()) {
        missing << m_player->SoundStatus();
    }
    const QString text = missing.join(QStringLiteral("  "));
    // A message about a device that has come since is taken back.
    const bool shown = m_statusBar->text() == m_soundStatusShown;
    m_soundStatusShown = text;
    if (!text.isEmpty() || shown) {
        ShowHint(text);
    }
}

bool TRuvoAppForm::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        ShowHint(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QMainWindow::event(event);
}

void TRuvoAppForm::ShowHint(const QString& hint) {
    // What sound lacks (or that its sounds still load) stands in for the window's own hint.
    const auto orSound = [this](const QString& text) {
        return text == centralWidget()->statusTip() && !m_soundStatusShown.isEmpty() ? m_soundStatusShown : text;
    };
    if (!hint.isEmpty()) {
        m_statusBar->setText(orSound(hint));
        return;
    }
    // Leaving a control for a part of the window without a hint of its own shows the hint of
    // what holds it, in the end the window's own.
    QWidget* under = QApplication::widgetAt(QCursor::pos());
    while (under != nullptr && under->window() == this && under->statusTip().isEmpty()) {
        under = under->parentWidget();
    }
    m_statusBar->setText(orSound(under != nullptr && under->window() == this ? under->statusTip()
                                                                             : centralWidget()->statusTip()));
}

void TRuvoAppForm::ShowStatusNote(const std::string& note) { ShowHint(FileNameFromEngine(note)); }

void TRuvoAppForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!event->spontaneous()) {
        FormShow();
        if (!m_activatedOnce) {
            // Window managers differ in whether a new window is activated; the command-line
            // file must not depend on it.
            QTimer::singleShot(0, this, &TRuvoAppForm::FormActivate);
        }
    }
}

void TRuvoAppForm::FormShow() {
    if (!m_displayPlayer->isChecked()) {
        m_player->hide();
        return;
    }
    if (!m_player->isVisible() && !m_playerPlaced) {
        const QRect frame = frameGeometry();
        m_player->move(frame.right() + 8, frame.top() + 40);
        // Beside a window at the screen's edge it would stand off the screen.
        KeepOnScreen(*m_player, this);
    }
    ShowPlayer();
    m_player->SetRecord(m_pipeline->Doc, ShownDocumentName());
}

void TRuvoAppForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        FormActivate();
    }
}

void TRuvoAppForm::FormActivate() {
    m_activatedOnce = true;
    if (m_closed || m_pipeline->Busy()) {
        return;
    }
    Guarded([this] { m_pipeline->RefreshDocumentView(); });
}

void TRuvoAppForm::closeEvent(QCloseEvent* event) {
    if (m_pipeline->Busy()) {
        // The conversion is cancelled first; the window closes once it has unwound.
        m_closePending = true;
        m_progress->CancelClick();
        event->ignore();
        return;
    }
    if (!m_keepOnClose) {
        if (!ConfirmTakeInProgress()) {
            event->ignore();
            return;
        }
        std::int32_t answer = 0;
        Guarded([this, &answer] { answer = m_pipeline->ConfirmClose(); });
        if (answer != 0 || m_keepOnClose) {
            event->ignore();
            return;
        }
    } else {
        KeepTakes();
    }
    // FormClose: the work files of the document (and of a recording that is the document)
    // are gone when the program ends.
    m_pipeline->Close();
    m_onpuImageList.clear();
    m_savePos->SavePlacement();
    m_playerSavePos->SavePlacement();
    m_historyMenu->SaveHistory();
    m_player->hide();
    m_aboutBox->hide();
    m_progress->hide();
    m_closed = true;
    event->accept();
    emit OnClosed();
}

void TRuvoAppForm::AfterCommand() {
    ShowEditSteps();
    if (m_pipeline->Busy()) {
        return;
    }
    if (std::vector<std::string> failed = m_pipeline->TakeFailedTakes(); !failed.empty()) {
        for (std::string& take : failed) {
            m_earlierTakes.emplace_back(std::move(take),
                                        QStringLiteral("The recording could not be converted: open it again, save or discard it?"));
        }
        QTimer::singleShot(0, this, &TRuvoAppForm::OfferEarlierTakes);
    }
    if (m_closePending) {
        m_closePending = false;
        QTimer::singleShot(0, this, &QWidget::close);
        return;
    }
    if (m_pipeline->HasPendingRecording() && !m_closed && !m_keepOnClose) {
        QTimer::singleShot(kRecordingRetryMs, this, [this] {
            if (m_pipeline->Busy() || !m_pipeline->HasPendingRecording()) {
                return;
            }
            if (QApplication::activeModalWidget() != nullptr) {
                AfterCommand();
                return;
            }
            Guarded([this] { (void)m_pipeline->OpenPendingRecording(); });
        });
    }
}

void TRuvoAppForm::OpenFile(const QString& fileName) {
    Guarded([this, &fileName] { (void)m_pipeline->OpenDocument(FileNameToEngine(fileName)); });
}

QString TRuvoAppForm::ChooseInputFile(const QString& title, bool audio) {
    QFileDialog dialog(this, title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    const QString audioFilter = QStringLiteral("Audio files (%1)").arg(QString::fromLatin1(ImportNamePatterns()));
    dialog.setNameFilters({QStringLiteral("All file (*.*)"), QStringLiteral("WAV file (*.wav)"), audioFilter,
                           QStringLiteral("ruvo file (*.rvo)")});
    dialog.selectNameFilter(audio ? audioFilter : QStringLiteral("WAV file (*.wav)"));
    if (!m_openedFileName.isEmpty()) {
        dialog.selectFile(m_openedFileName);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    m_openedFileName = dialog.selectedFiles().constFirst();
    return m_openedFileName;
}

void TRuvoAppForm::FileOpen() {
    if (m_pipeline->Busy()) {
        return;
    }
    const QString chosen = ChooseInputFile(QStringLiteral("Load file"), false);
    if (!chosen.isEmpty()) {
        OpenFile(chosen);
    }
}

void TRuvoAppForm::FileImportAudio() {
    if (m_pipeline->Busy()) {
        return;
    }
    const QString chosen = ChooseInputFile(QStringLiteral("Import audio"), true);
    if (!chosen.isEmpty()) {
        Guarded([this, &chosen] { (void)m_pipeline->ImportDocument(FileNameToEngine(chosen)); });
    }
}

bool TRuvoAppForm::ConfirmImport(const std::string& question) {
    // The question holds the file's name, in the file system's encoding.
    return QMessageBox::question(this, QStringLiteral("Ruvo"), FileNameFromEngine(question),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

void TRuvoAppForm::FileSaveMidi() {
    Guarded([this] { (void)m_pipeline->FileSaveMidi(); });
}

void TRuvoAppForm::FileExit() { close(); }

void TRuvoAppForm::FileSaveRecording() {
    Guarded([this] {
        if (m_pipeline->SaveRecordingAs() == 0) {
            FileConverted(m_pipeline->Doc.FileName);  // the saved recording is a recent file now
        }
    });
}

void TRuvoAppForm::CloseWithoutAsking(std::function<std::string(const std::string&)> keep) {
    if (m_closed || m_keepOnClose) {
        return;
    }
    m_keepOnClose = keep ? std::move(keep) : [](const std::string& name) { return name; };
    m_pipeline->SetEnding();
    EndOnSignal();
}

void TRuvoAppForm::EndOnSignal() {
    if (m_closed) {
        return;
    }
    // Each rejected dialog returns to the command that opened it, which then gives up.
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
        if (QApplication::activeModalWidget() == modal) {
            break;
        }
    }
    // Inside a dialog's own event loop, a close would run under the command that waits for it.
    const bool unwound = QApplication::activeModalWidget() == nullptr && QThread::currentThread()->loopLevel() <= 1;
    // A close nested in another one returns at once, so m_closed says whether it happened.
    if ((unwound || ++m_endAttempts > kEndAttempts) && (close(), m_closed)) {
        return;
    }
    QTimer::singleShot(kEndRetryMs, this, &TRuvoAppForm::EndOnSignal);
}

void TRuvoAppForm::KeepTakes() {
    std::vector<std::string> takes = m_pipeline->ReleaseRecordings();
    for (const auto& earlier : m_earlierTakes) {
        takes.push_back(earlier.first);
    }
    m_earlierTakes.clear();
    if (const std::string take = m_player->TakeRecording(); !take.empty()) {
        takes.push_back(take);
    }
    for (const std::string& take : takes) {
        std::fprintf(stderr, "ruvo: the recording is kept as %s\n", m_keepOnClose(take).c_str());
    }
}

bool TRuvoAppForm::ConfirmTakeInProgress() {
    if (!m_player->IsRecording()) {
        return true;
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Ruvo"),
                    QStringLiteral("A recording is in progress. Save it before closing?"),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.button(QMessageBox::Save)->setText(QStringLiteral("Save recording"));
    box.setDefaultButton(QMessageBox::Save);
    const int answer = box.exec();
    // A termination signal during the question closes the window its own way.
    if (m_keepOnClose || answer == QMessageBox::Cancel) {
        return false;
    }
    if (answer == QMessageBox::Discard) {
        m_player->DiscardTake();
        return true;
    }
    const std::string take = m_player->TakeRecording();
    if (take.empty()) {
        return false;
    }
    std::int32_t saved = -1;
    Guarded([this, &take, &saved] { saved = m_pipeline->SaveTakeAs(take); });
    if (saved == 0) {
        return true;
    }
    // Not saved: the take becomes the document as a stopped recording does; the window stays.
    m_pipeline->QueueRecording(take);
    AfterCommand();
    return false;
}

void TRuvoAppForm::OfferEarlierRecordings(std::vector<std::string> takes) {
    for (std::string& take : takes) {
        m_earlierTakes.emplace_back(std::move(take),
                                    QStringLiteral("A recording from an earlier run was found: open, save or discard it?"));
    }
    QTimer::singleShot(0, this, &TRuvoAppForm::OfferEarlierTakes);
}

void TRuvoAppForm::OfferEarlierTakes() {
    if (m_earlierTakes.empty() || m_closed || m_keepOnClose) {
        return;
    }
    if (m_pipeline->Busy() || QApplication::activeModalWidget() != nullptr) {
        QTimer::singleShot(kRecordingRetryMs, this, &TRuvoAppForm::OfferEarlierTakes);
        return;
    }
    const std::string take = m_earlierTakes.front().first;
    const QString question = m_earlierTakes.front().second;
    bool decided = false;
    try {
        (void)RepairRecordingHeader(take);
    } catch (const std::exception& error) {
        EngineHost().ErrorBox(error.what());
        decided = true;
    }
    while (!decided && !m_keepOnClose && !m_closed) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Ruvo"), question, QMessageBox::NoButton, this);
        box.setInformativeText(FileNameFromEngine(take));
        QPushButton* open = box.addButton(QStringLiteral("&Open"), QMessageBox::AcceptRole);
        QPushButton* save = box.addButton(QStringLiteral("&Save..."), QMessageBox::ActionRole);
        QPushButton* discard = box.addButton(QStringLiteral("&Discard"), QMessageBox::DestructiveRole);
        box.setDefaultButton(open);
        box.exec();
        if (m_keepOnClose || m_closed) {
            return;  // a signal: the take stays undecided, kept for the next start
        }
        if (box.clickedButton() == open) {
            m_pipeline->QueueRecording(take);
            decided = true;
        } else if (box.clickedButton() == save) {
            std::int32_t saved = -1;
            Guarded([this, &take, &saved] { saved = m_pipeline->SaveTakeAs(take); });
            decided = saved == 0;
        } else if (box.clickedButton() == discard) {
            std::remove(take.c_str());
            decided = true;
        }
    }
    if (!decided) {
        return;
    }
    m_earlierTakes.erase(m_earlierTakes.begin());
    AfterCommand();
    OfferEarlierTakes();
}

CloseAnswer TRuvoAppForm::AskSaveBeforeClose(const std::string& question, bool canCancel) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Ruvo"), FileNameFromEngine(question),
                    QMessageBox::Save | QMessageBox::Discard | (canCancel ? QMessageBox::Cancel : QMessageBox::NoButton),
                    this);
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
        case QMessageBox::Save: return CloseAnswer::Save;
        case QMessageBox::Discard: return CloseAnswer::Discard;
        default: return canCancel ? CloseAnswer::Cancel : CloseAnswer::Save;
    }
}

bool TRuvoAppForm::ChooseRecordingFileName(std::string& name) {
    QFileDialog dialog(this, QStringLiteral("Save recording"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("WAV file (*.wav)"));
    dialog.setDefaultSuffix(QStringLiteral("wav"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return false;
    }
    name = FileNameToEngine(dialog.selectedFiles().constFirst());
    return true;
}

void TRuvoAppForm::TenpomenuClick() {
    if (m_pipeline->Busy()) {
        return;
    }
    Guarded([this] {
        m_tempo2->SetTempo(m_pipeline->Doc.TempoClass);
        m_tempo2->exec();
        (void)m_pipeline->ApplyTempoChoice();
    });
}

void TRuvoAppForm::AnalysisModeClick(AnalysisMode mode) {
    if (!m_pipeline->Busy()) {
        Guarded([this, mode] { (void)m_pipeline->ApplyModeChoice(mode); });
    }
    ShowModeChoice();
}

void TRuvoAppForm::KeepLeadingSilenceClick() {
    m_pipeline->SetKeepLeadingSilence(m_keepLeadingSilence->isChecked());
    // The player makes its MIDI excerpts from its copy of the record.
    if (!m_pipeline->Busy()) {
        m_player->SetRecord(m_pipeline->Doc, ShownDocumentName());
    }
    KeepRememberedChoices();
}

void TRuvoAppForm::Displayalert1Click() {
    // The action's own toggle has inverted the mark; RerunNoteStage reads it.
}

void TRuvoAppForm::Displayplayer1Click() {
    if (m_displayPlayer->isChecked()) {
        ShowPlayer();
    } else {
        HidePlayer();
    }
}

void TRuvoAppForm::AboutApplication1Click() {
    m_aboutBox->move(CentredOn(*m_aboutBox, *this));
    m_aboutBox->show();
    m_aboutBox->raise();
}

QString TRuvoAppForm::HelpPage() {
    return FromPath(HelpIndexPage(ToPath(QCoreApplication::applicationDirPath())));
}

void TRuvoAppForm::HelpBrouser1Click() {
    const QString page = HelpPage();
    m_www->Url = QUrl::fromLocalFile(page).toString();
    while (!m_www->BrowserExists()) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"),
                        QStringLiteral("There isn't Browser") + QChar(0xE9) + QStringLiteral("..."),
                        QMessageBox::Retry | QMessageBox::Cancel, this);
        if (box.exec() != QMessageBox::Retry) {
            break;
        }
    }
    if (!m_www->Launch()) {
        QMessageBox::critical(this, QStringLiteral("Error"), QStringLiteral("Impossible to connect..."));
    }
}

void TRuvoAppForm::WmRecordingDone() {
    WavHead record;
    m_player->GetRecord(record);
    if (m_pipeline->Busy() || QApplication::activeModalWidget() != nullptr || m_keepOnClose) {
        m_pipeline->QueueRecording(record.FileName);
        AfterCommand();
        return;
    }
    Guarded([this, &record] { (void)m_pipeline->OpenRecording(record.FileName); });
}

void TRuvoAppForm::ShowPlayer() {
    m_player->show();
    m_player->raise();
}

void TRuvoAppForm::HidePlayer() { m_player->hide(); }

bool TRuvoAppForm::ConfirmRerun() {
    if (!m_displayAlert->isChecked()) {
        return true;
    }
    // Made for this use only and released afterwards.
    auto alert = std::make_unique<TAlertDialog>(this);
    alert->move(CentredOn(*alert, *this));
    return alert->exec() == QDialog::Accepted;
}

void TRuvoAppForm::ShowDocument(WavHead& doc, bool fillGrid) {
    if (m_scoreWindow) {
        m_scoreWindow->ShowDocument(doc);
    }
    if (doc.MidiGridFileName.empty()) {
        setWindowTitle(QStringLiteral("Ruvo"));
        return;
    }
    setWindowTitle(FileNameFromEngine(CaptionText(doc, ShownDocumentName())));
    ApplyNoteGridMetrics(*m_midiDisp2, *m_midiDispBackUp, doc);
    FollowNoteGridRows();
    const std::array<std::string, kWavInfoPanels> texts = StatusPanelTexts(doc);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        m_wavInfo[i]->setText(QString::fromStdString(texts[i]));
    }
    LayoutStatusPanels();
    if (fillGrid) {
        FillNoteGrid(*m_midiDisp2, doc);
    }
    m_panes->Repaint();
    m_hTime->SetViewWidth(doc.ViewWidth);
    m_hTime->SetViewStart(doc.ViewStart);
    m_player->SetRecord(doc, ShownDocumentName());
    ShowEditSteps();
}

void TRuvoAppForm::GridFileBuilt(bool fresh) {
    if (fresh && m_scoreWindow) {
        m_scoreWindow->NewDocument();
    }
    m_panes->DocumentReplaced();
    ApplyGridBuild(*m_midiDisp2, *m_midiDispBackUp);
    if (fresh) {
        // The refresh reads ViewStart back from the grid's left column: without this a new
        // document would open where the previous one had been scrolled to.
        m_midiDisp2->SetLeftCol(m_pipeline->Doc.ViewStart);
    }
    FollowNoteGridRows();
}

void TRuvoAppForm::EnableSaveMidi() {
    m_saveMidi->setEnabled(true);
    m_fileSaveMidiFile->setEnabled(true);
}

bool TRuvoAppForm::ChooseMidiFileName(std::string& name) {
    // No title; a name typed without extension gets ".mid" before the dialog asks whether
    // to replace an existing file.
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("Midi file(*.mid)"));
    dialog.setDefaultSuffix(QStringLiteral("mid"));
    dialog.selectFile(SuggestedMidiName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return false;
    }
    m_lastMidiName = dialog.selectedFiles().constFirst();
    m_lastMidiFor = ShownDocumentName();
    name = FileNameToEngine(m_lastMidiName);
    return true;
}

void TRuvoAppForm::FileConverted(const std::string& fileName) {
    // The full name, so that the entry still opens when the program starts elsewhere.
    m_historyMenu->AddHistory(QFileInfo(FileNameFromEngine(fileName)).absoluteFilePath());
    m_historyMenu->SaveHistory();
}

void TRuvoAppForm::HistoryMenu1HistorySelected(const QString& fileName) {
    if (m_pipeline->Busy()) {
        return;
    }
    OpenRecentFile(fileName);
}

void TRuvoAppForm::DropDst1FileDrop(const QStringList& files, const QPoint& /*point*/) {
    std::vector<std::string> names;
    for (const QString& file : files) {
        names.push_back(FileNameToEngine(file));
    }
    Guarded([this, &names] { (void)m_pipeline->DropFiles(names); });
}

void TRuvoAppForm::CreateScales(QWidget* client) {
    const PaneRects design = DesignLayout();
    const auto place = [&design](QWidget* widget, const char* name) {
        widget->setObjectName(QString::fromLatin1(name));
        widget->setGeometry(design.at(widget->objectName()));
    };
    m_hTime = new TScalePane(TScalePane::Kind::HTime, client);  // owned by parent
    place(m_hTime, "HTime");
    ApplyHint(m_hTime, QStringLiteral("Time Scale|1 unit of this scale is 0.055 second."));
    auto* vLevel = new TScalePane(TScalePane::Kind::VLevel, client);  // owned by parent
    place(vLevel, "VLevel");
    ApplyHint(vLevel, QStringLiteral("Intensity|1 unit of this scale is 20% of full scale."));
    auto* vLevelRight = new TScalePane(TScalePane::Kind::VLevelRight, client);  // owned by parent
    place(vLevelRight, "VLevelRight");
    auto* gradation = new TScalePane(TScalePane::Kind::Gradation, client);  // owned by parent
    place(gradation, "Gradation");
    ApplyHint(gradation, QStringLiteral("Intensity of note|Right side is stronger than left side."));

    const auto makeButton = [&](const char* name, ZoomKind kind, const QString& hint) {
        auto* button = new QToolButton(client);  // owned by parent
        place(button, name);
        button->setIcon(ZoomGlyph(kind));
        ApplyHint(button, hint);
        return button;
    };
    m_hShort = makeButton("HShort", ZoomKind::MoreFrames, QStringLiteral("Horizontal scale|Time span will be longer."));
    m_hLong = makeButton("HLong", ZoomKind::FewerFrames, QStringLiteral("Horizontal scale|Time span will be shorter."));
    m_vShort =
        makeButton("VShort", ZoomKind::LowerRows, QStringLiteral("Vertical scale|Height of one tone will be shorter."));
    m_vLong =
        makeButton("VLong", ZoomKind::TallerRows, QStringLiteral("Vertial scale|Height of one tone will be longer."));
    connect(m_hShort, &QToolButton::clicked, this, &TRuvoAppForm::HShortClick);
    connect(m_hLong, &QToolButton::clicked, this, &TRuvoAppForm::HLongClick);
    connect(m_vShort, &QToolButton::clicked, this, &TRuvoAppForm::VShortClick);
    connect(m_vLong, &QToolButton::clicked, this, &TRuvoAppForm::VLongClick);
}

void TRuvoAppForm::HShortClick() {
    if (m_pipeline->Busy() || !m_pipeline->HasDocument()) {
        return;
    }
    WavHead& doc = m_pipeline->Doc;
    doc.ViewWidth = LongerTimeSpan(doc.ViewWidth, doc.FrameCount);
    Guarded([this] { m_pipeline->RefreshStatus(); });
}

void TRuvoAppForm::HLongClick() {
    if (m_pipeline->Busy() || !m_pipeline->HasDocument()) {
        return;
    }
    WavHead& doc = m_pipeline->Doc;
    doc.ViewWidth = ShorterTimeSpan(doc.ViewWidth);
    Guarded([this] { m_pipeline->RefreshStatus(); });
}

void TRuvoAppForm::VShortClick() { SetRowHeight(ShorterRows(m_midiDisp2->DefaultRowHeight())); }

void TRuvoAppForm::VLongClick() { SetRowHeight(LongerRows(m_midiDisp2->DefaultRowHeight(), m_midiDisp2->height())); }

void TRuvoAppForm::SetRowHeight(std::int32_t rowHeight) {
    m_midiDisp2->SetDefaultRowHeight(rowHeight);
    FollowNoteGridRows();
}

void TRuvoAppForm::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
    // The note grid's columns follow its new width at once, so that it shows the waveform's
    // time span; a conversion shows the document when it ends.
    if (!m_destroying && m_pipeline && m_pipeline->HasDocument() && !m_pipeline->Busy()) {
        Guarded([this] { m_pipeline->RefreshStatus(); });
    }
}

void TRuvoAppForm::FormResize() {
    if (m_destroying || centralWidget() == nullptr) {
        return;
    }
    QWidget* client = centralWidget();
    // The speed panel spans the top of the window whatever its size.
    m_speedPanel->resize(client->width(), m_speedPanel->height());
    PaneRects rects;
    for (const auto& [name, rect] : DesignLayout()) {
        if (auto* pane = client->findChild<QWidget*>(name)) {
            rects[name] = pane->geometry();
        }
    }
    const QSize outer = OuterSizeOfClient(client->size());
    if (!FormResizeLayout(outer.width(), outer.height(), rects)) {
        return;
    }
    for (const auto& [name, rect] : rects) {
        client->findChild<QWidget*>(name)->setGeometry(rect);
    }
    LayoutStatusPanels();
}

void TRuvoAppForm::LayoutStatusPanels() {
    constexpr int kTextMargin = 8;  // the sunken frame and a little air
    std::array<int, kWavInfoPanels> needed{};
    for (std::size_t i = 0; i < m_wavInfo.size(); ++i) {
        const QString text = m_wavInfo[i]->text();
        needed[i] = text.isEmpty() ? 0 : m_wavInfo[i]->fontMetrics().horizontalAdvance(text) + kTextMargin;
    }
    const std::array<int, kWavInfoPanels> widths = StatusPanelWidths(m_wavInfoBar->width(), needed);
    int left = 0;
    for (std::size_t i = 0; i < m_wavInfo.size(); ++i) {
        m_wavInfo[i]->setGeometry(left, 1, std::max(widths[i] - 2, 0), 19);
        m_wavInfo[i]->setVisible(widths[i] > 0);
        left += widths[i];
    }
}

}  // namespace ruvo
