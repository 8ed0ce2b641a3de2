// The main window's MIDI output: the keyboard and the player's MIDI playback go where the
// "MIDI &output" submenu says; its faults reach the status bar with the sound status.

#include "app/Main.h"

#include "app/LiveRecording.h"
#include "app/MidiOutputChoice.h"
#include "engine/LiveAnalysis.h"
#include "audio/play.h"
#include "panes/KeyBoardPane.h"
#include "platform/qt/FluidMidiOut.h"

#include <QAction>
#include <QMenu>

namespace ruvo {

void TRuvoAppForm::CreateMidiOutput() {
    m_midiOutput = new TMidiOutputChoice(*m_midiOut, m_settings, this);  // owned by parent
    m_keyBoard->SetMidiOut(m_midiOutput);
    for (QObject* holder : m_displayPlayer->associatedObjects()) {
        if (auto* setting = qobject_cast<QMenu*>(holder)) {
            m_midiOutput->AddMenu(*setting);
            break;
        }
    }
    connect(m_midiOutput, &TMidiOutputChoice::OnOutputChanged, this, [this] {
        m_player->SetMidiOut(m_midiOutput->External());
        ShowSoundStatus();
        if (m_midiOutput->External() != nullptr) {
            ShowHint(QStringLiteral("MIDI output: the JACK port ruvo:midi_out"));
        }
    });
    m_midiOutput->Restore();
}

// Live notes go only to a port of another program: through the built-in synthesizer they would
// sound from the loudspeakers into the microphone that is recording them.
void TRuvoAppForm::ConnectLiveNotes() {
    m_liveRecording->SetOnNoteEvent([this](const LiveNoteEvent& event) {
        if (IMidiOut* external = m_midiOutput != nullptr ? m_midiOutput->External() : nullptr) {
            external->ShortMsg(LiveEventMessage(event));
        }
    });
}

}  // namespace ruvo
