#pragma once
// The note grid file ("mig"): one record of 72 signed bytes per frame that quantises the note
// table into levels (byte r belongs to grid row r, that is to note 71 - r). Its build after a
// conversion or re-run, the colour of every level, and the looks of the note grid's cells
// for a range of frames. No widgets; used on the UI thread.

#include "engine/WavHead.h"
#include "panes/CellLook.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace ruvo {

constexpr std::int32_t kGridRows = 72;       // grid rows = notes per frame
constexpr std::int8_t kUserNoteLevel = 110;  // a note added or lengthened by the user
constexpr std::int8_t kPeakLevel = 101;      // the level of the table's largest value
constexpr double kMaxNoteValue = 120.0;      // note values are kept in [-120, 120]
constexpr double kMinPeakNoteValue = 0.1;    // PeakNoteValue never lies below this
constexpr double kLevelOffset = 0.000001;    // keeps the smallest positive values at level 1

constexpr std::int32_t RowToNote(std::int32_t row) { return kGridRows - 1 - row; }
constexpr std::int32_t NoteToRow(std::int32_t note) { return kGridRows - 1 - note; }

// Builds doc.MidiGridFileName from doc.NoteIntenFileName: clamps the note table to
// [-120, 120] in place (through doc.Temp1FileName), sets doc.PeakNoteValue, writes a new
// "mig" file and deletes the old one. With reset = 1 (a new document) also resets the view
// (ViewStart 0, ViewWidth min(FrameCount, 100)) and selects every frame; 0 for a re-run.
// Nothing happens without a note table. Result 0, or -1 when a file could not be named or
// opened (the engine has shown why; the document keeps its previous grid file).
// Throws FileIoError when a transfer fails; the previous grid file then stays too.
// `idle`, when given, runs every few hundred frames so that the windows stay painted.
[[nodiscard]] std::int32_t BuildGridFile(WavHead& doc, std::int32_t reset, const std::function<void()>& idle = {});

// The level of note value `value` when the table's peak is `peak` (at least 0.1): 1..101
// for a sounding note, 0 silent, negative erased, always within [-120, 120].
std::int8_t NoteLevel(double value, double peak);

// The cell colour of a grid level: black erased, blue silent, six intensity colours from
// teal to yellow, white for a user's note, grey for any other byte.
QRgb GridLevelColor(std::int8_t level);

// The looks of the note grid's cells, read from a grid file by record offset: the level's
// colour, solid inside the selection SelStart .. SelEnd and diagonal cross-hatched outside.
// Opens the file for each call, so a file replaced in between is read anew.
class NoteGridLooks {
public:
    NoteGridLooks(std::string gridFileName, std::int32_t selStart, std::int32_t selEnd);

    // Looks of columns first .. first + colCount - 1, rowCount per column, column after
    // column. Rows past the record and frames past the end of the file read as silent.
    // Throws FileIoError when the file cannot be opened or read.
    void Columns(std::int32_t first, std::int32_t colCount, std::int32_t rowCount, std::span<CellLook> looks) const;

private:
    std::string m_gridFileName;
    std::int32_t m_selStart;
    std::int32_t m_selEnd;
};

}  // namespace ruvo
