// The main window's keyboard and wheel shortcuts, its View menu and the choices it remembers
// between runs: added beside the menus' own items, wired here so that Main.cpp stays a list
// of the window's parts.

#include "app/Main.h"

#include "app/DocumentNames.h"
#include "app/DocumentPipeline.h"
#include "app/RememberedChoices.h"
#include "app/WheelZoom.h"
#include "audio/play.h"
#include "components/HistMenu.h"
#include "engine/EngineHost.h"
#include "panes/PaintBox.h"
#include "app/EditingPanes.h"
#include "app/Playhead.h"
#include "panes/StrCGrid.h"
#include "platform/qt/PathConvert.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace ruvo {

void TRuvoAppForm::CreateShortcuts() {
    m_fileOpen->setShortcut(QKeySequence::Open);
    m_fileSaveMidiFile->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    // Alt+X stays the one the menu shows; Ctrl+Q works beside it.
    m_fileExit->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_X), QKeySequence(Qt::CTRL | Qt::Key_Q)});
    m_helpBrowser->setShortcut(QKeySequence(Qt::Key_F1));

    QMenu* view = new QMenu(QStringLiteral("&View"), this);  // owned by parent
    view->setObjectName(QStringLiteral("ViewMenu"));
    // Before Help, which stays last.
    const QList<QAction*> menus = menuBar()->actions();
    menuBar()->insertMenu(menus.isEmpty() ? nullptr : menus.back(), view);
    m_playOrStop = view->addAction(QStringLiteral("&Play or stop the selection"), this, &TRuvoAppForm::PlayOrStop);
    m_playOrStop->setObjectName(QStringLiteral("PlayOrStopItem"));
    m_playOrStop->setShortcut(QKeySequence(Qt::Key_Space));
    m_playOrStop->setStatusTip(QStringLiteral("Play the selected stretch with the player's choice of WAV or MIDI; "
                                              "stop it while it plays"));
    view->addSeparator();
    m_zoomIn = view->addAction(QStringLiteral("Zoom &in"), this, &TRuvoAppForm::HLongClick);
    m_zoomIn->setObjectName(QStringLiteral("ZoomInItem"));
    m_zoomIn->setShortcuts({QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Equal),
                            QKeySequence(Qt::CTRL | Qt::Key_Plus)});
    m_zoomIn->setStatusTip(QStringLiteral("A shorter time span across the panes (Ctrl and the wheel up too)"));
    m_zoomOut = view->addAction(QStringLiteral("Zoom &out"), this, &TRuvoAppForm::HShortClick);
    m_zoomOut->setObjectName(QStringLiteral("ZoomOutItem"));
    m_zoomOut->setShortcuts({QKeySequence(Qt::Key_Minus), QKeySequence(Qt::CTRL | Qt::Key_Minus)});
    m_zoomOut->setStatusTip(QStringLiteral("A longer time span across the panes (Ctrl and the wheel down too)"));

    m_historyMenu->SetClearItemText(QStringLiteral("Clear recent files"));

    auto* wheel = new TWheelZoom([this] { HLongClick(); }, [this] { HShortClick(); }, this);  // owned by parent
    wheel->Watch(m_midiDisp2->viewport());
    wheel->Watch(m_panes->WavDisp());
    wheel->Watch(m_panes->SelectRgn());

    m_playhead = new TPlayhead(*m_player, *m_pipeline, *m_panes->WavDisp(), *m_midiDisp2, this);  // owned by parent
}

void TRuvoAppForm::PlayOrStop() {
    if (m_player->IsPlaying()) {
        m_player->StopClick();
        return;
    }
    if (m_pipeline->Busy() || !m_pipeline->HasDocument()) {
        return;
    }
    m_player->PlayClick();
}

void TRuvoAppForm::RestoreRememberedChoices() {
    const RememberedChoices choices = ReadRememberedChoices(m_settings);
    m_pipeline->ModeChoice = choices.Mode;
    m_keepLeadingSilence->setChecked(choices.KeepLeadingSilence);
    m_pipeline->SetKeepLeadingSilence(choices.KeepLeadingSilence);
    m_choicesRestored = true;
    ShowModeChoice();
}

void TRuvoAppForm::KeepRememberedChoices() {
    // Not before the last run's choices are read: they would be overwritten by the defaults.
    if (!m_choicesRestored) {
        return;
    }
    WriteRememberedChoices(m_settings, {m_pipeline->ModeChoice, m_keepLeadingSilence->isChecked()});
}

std::string TRuvoAppForm::ShownDocumentName() {
    if (!m_pipeline->DocIsRecording()) {
        return m_pipeline->DocumentName();
    }
    return m_recordingNames.NameOf(m_pipeline->Doc.FileName);
}

QString TRuvoAppForm::SuggestedMidiName() {
    return FileNameFromEngine(SuggestedSaveName(ShownDocumentName(), FileNameToEngine(m_lastMidiName), m_lastMidiFor,
                                                ".mid", FileNameToEngine(QDir::homePath())));
}

void TRuvoAppForm::OpenRecentFile(const QString& fileName) {
    const QFileInfo file(fileName);
    if (!file.isFile() || !file.isReadable()) {
        m_historyMenu->RemoveHistory(fileName);
        EngineHost().ErrorBox(FileNameToEngine(fileName) +
                              ":\nThis recent file cannot be opened any more; it is taken off the list.");
        return;
    }
    OpenFile(fileName);
}

}  // namespace ruvo
