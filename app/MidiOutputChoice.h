#pragma once
// TMidiOutputChoice: where the keyboard's notes and the player's MIDI playback go, the
// built-in synthesizer or the JACK port "ruvo:midi_out", as the "MIDI &output" submenu of the
// "&Setting" menu chooses; the choice is remembered. It is itself the keyboard's IMidiOut and
// forwards to the output in use. When the JACK port cannot be made or its server goes away, it
// says so (Fault, OnFault) and the built-in synthesizer plays. Owned by the main window (Qt
// parent); UI thread only.

#include "platform/IMidiOut.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

class QAction;
class QMenu;

namespace ruvo {

class ISettingsStore;
class JackMidiOut;

enum class MidiOutputKind : std::uint8_t { BuiltIn, Jack };

class TMidiOutputChoice : public QObject, public IMidiOut {
    Q_OBJECT

public:
    TMidiOutputChoice(IMidiOut& builtIn, ISettingsStore& settings, QObject* parent = nullptr);
    ~TMidiOutputChoice() override;

    // Adds the "MIDI &output" submenu at the end of `setting`.
    void AddMenu(QMenu& setting);
    // Chooses the output the settings remember (a JACK port opens now).
    void Restore();
    // Chooses and remembers `kind`; false (with Fault) when the JACK port could not be opened.
    bool Choose(MidiOutputKind kind);
    MidiOutputKind Chosen() const { return m_chosen; }
    // The JACK output while it is chosen and works, for the player; nullptr otherwise.
    IMidiOut* External() const;
    // Why the chosen JACK port is not in use, with what plays instead; empty when nothing is
    // wrong.
    const QString& Fault() const { return m_fault; }

    std::int32_t Open() override;
    void Reset() override;
    void ShortMsg(std::uint32_t message) override;
    void Close() override;
    std::string Unavailable() const override;

signals:
    // The JACK port failed or went: `text` for the status bar.
    void OnFault(const QString& text);
    // External() has changed.
    void OnOutputChanged();

private:
    IMidiOut& Current() const;
    void ServerGone(const QString& reason);
    void SetFault(const QString& reason);
    void ShowChoice();

    IMidiOut& m_builtIn;
    ISettingsStore& m_settings;
    std::unique_ptr<JackMidiOut> m_jack;
    MidiOutputKind m_chosen = MidiOutputKind::BuiltIn;
    IMidiOut* m_held = nullptr;  // the output a key was opened on, until it is closed
    QString m_fault;
    QAction* m_builtInItem = nullptr;  // owned by the menu
    QAction* m_jackItem = nullptr;     // owned by the menu
};

}  // namespace ruvo
