#pragma once
// The on-screen keyboard `KeyBoard`: one piano key per note grid row (row r = MIDI key
// 104 - r), drawn beside the note grid with its row height and top row, playing the row's
// key on the MIDI output while a mouse button is held on it. KeyBoardLogic holds the key
// arithmetic and the messages; TKeyBoard is the widget. The MIDI output belongs to the main
// window (observer pointer); UI thread only.

#include "panes/StrCGrid.h"

#include <QString>

#include <cstdint>

class QPainter;

namespace ruvo {

class IMidiOut;

namespace KeyBoardLogic {

constexpr std::int32_t kRows = 72;
constexpr std::int32_t kTopKey = 104;      // MIDI key of row 0
constexpr std::uint32_t kFluteProgram = 73;

constexpr std::int32_t RowToKey(std::int32_t row) { return kTopKey - row; }
// Black keys: C#, D#, F#, G#, A#.
bool IsBlackKey(std::int32_t row);
bool IsCKey(std::int32_t row);
// "C7" for row 8 ... "C2" for row 68; empty for rows that are not a C.
QString KeyLabel(std::int32_t row);

// Short messages on channel 1: status in the low byte, then key, then velocity.
constexpr std::uint32_t ProgramChangeMsg() { return 0xC0u | (kFluteProgram << 8); }
constexpr std::uint32_t NoteOnMsg(std::int32_t key) { return 0x7F0090u + static_cast<std::uint32_t>(key) * 256u; }
constexpr std::uint32_t NoteOffMsg(std::int32_t key) { return 0x7F0080u + static_cast<std::uint32_t>(key) * 256u; }

}  // namespace KeyBoardLogic

class TKeyBoard : public TStrColGrid {
    Q_OBJECT

public:
    explicit TKeyBoard(QWidget* parent = nullptr);

    void SetMidiOut(IMidiOut* midiOut) { m_midiOut = midiOut; }
    // The grid whose rows the keyboard follows (observer): the wheel over the keyboard scrolls
    // that grid, and the keyboard with it, so that every key stays beside its row.
    void SetWheelTarget(TStrColGrid* grid) { m_wheelTarget = grid; }
    // The key last started (the main window's KeyNote).
    std::int32_t KeyNote() const { return m_keyNote; }
    bool KeyHeld() const { return m_held; }

    void KeyBoardDrawCell(QPainter& painter, std::int32_t row, const QRect& rect);
    void KeyBoardMouseDown(std::int32_t x, std::int32_t y);
    void KeyBoardMouseUp();
    void KeyBoardMouseMove(std::int32_t x, std::int32_t y);

signals:
    // The pointer is over `row`: the note symbol of that row is to be shown.
    void OnRowHover(std::int32_t row);
    // The MIDI output did not open; `text` is the message to show. No note is left sounding.
    void OnMidiError(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    std::int32_t RowAt(std::int32_t x, std::int32_t y) const;

    IMidiOut* m_midiOut = nullptr;
    TStrColGrid* m_wheelTarget = nullptr;
    std::int32_t m_keyNote = 0;
    bool m_held = false;
};

}  // namespace ruvo
