#pragma once
// The three edits of the document's notes: a value into a run of one row, two rows exchanged
// over a run of columns, a run moved to other columns and another row. Each rewrites the note
// table (NoteIntenFileName, 72 doubles per frame, element 71 - row) first and the grid file
// (MidiGridFileName, 72 signed bytes per frame, byte = row) second, streaming the whole file
// into a new version beside it that then replaces it, so a failure leaves the previous file
// whole. No widgets, no note table in memory; UI thread.

#include "engine/WavHead.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ruvo {

// Grid row `Row` in columns (frames) First .. Last, both included.
struct NoteSpan {
    std::int32_t Row = 0;
    std::int32_t First = 0;
    std::int32_t Last = 0;
    bool operator==(const NoteSpan&) const = default;
};

// One edit as a value, so that a caller can note what it is about to change (Spans) before
// applying it.
struct NoteEdit {
    enum class Kind { SetRun, SwapRows, ShiftRun };

    Kind Op = Kind::SetRun;
    std::int32_t Start = 0;     // first column; the old first column of a shift
    std::int32_t End = 0;       // last column; the old last column of a shift
    std::int32_t Row = 0;       // the row; RowA of a swap; the old row of a shift
    std::int32_t OtherRow = 0;  // RowB of a swap; the new row of a shift
    std::int32_t NewStart = 0;  // shift only
    std::int32_t NewEnd = 0;    // shift only
    double Value = 0.0;         // SetRun only, before the clamp

    static NoteEdit SetRun(std::int32_t start, std::int32_t end, std::int32_t row, double value);
    static NoteEdit SwapRows(std::int32_t start, std::int32_t end, std::int32_t rowA, std::int32_t rowB);
    static NoteEdit ShiftRun(std::int32_t oldStart, std::int32_t oldEnd, std::int32_t newRow, std::int32_t newEnd,
                             std::int32_t newStart, std::int32_t oldRow);

    // The cells whose value may differ after the edit, in both files alike.
    std::vector<NoteSpan> Spans() const;
    bool operator==(const NoteEdit&) const = default;
};

// The value a run is set to: within [-120, 120]; anything not >= -120 (NaN too) is -120.
double ClampNoteValue(double value);
// Its grid byte: 110 (a user's note) for a positive value, else the rounded value.
std::int8_t NoteValueLevel(double value);

// Applies `edit` to doc's two files. Nothing without a note table; the grid half is skipped
// without a grid file. A failed open, read, write or replacement throws FileIoError and
// leaves that file as it was (when the grid half fails, the note table has already changed).
// A swap reports a refused replacement in the boxes "Error at NoteIntenFileName" and
// "Error at MidiGridFileName" and goes on with the next file, as it always has.
void ApplyNoteEdit(const WavHead& doc, const NoteEdit& edit);

// The edits by their own names.
void SetNoteRun(const WavHead& doc, std::int32_t start, std::int32_t end, std::int32_t row, double value);
void SwapNoteRows(const WavHead& doc, std::int32_t start, std::int32_t end, std::int32_t rowA, std::int32_t rowB);
void ShiftNoteRun(const WavHead& doc, std::int32_t oldStart, std::int32_t oldEnd, std::int32_t newRow,
                  std::int32_t newEnd, std::int32_t newStart, std::int32_t oldRow);

// A side file of the note stage (one double per frame: the threshold margins, the
// harmonic-keep values) with `value` in frames first .. last and every other record copied
// unchanged (nothing replaced when first > last, but the file is rewritten all the same).
// Through a new version beside the file; a failure throws FileIoError and leaves it whole.
void SetSideFileRun(const std::string& name, std::int32_t frames, std::int32_t first, std::int32_t last, double value);

// A new version of a file written beside it ("<name>.new") and then renamed over it in one
// step. The new version is removed when it was not committed.
class ReplacementFile {
public:
    explicit ReplacementFile(std::string target);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    const std::string& Path() const { return m_path; }
    // Renames the new version over the target; false with the system's reason when refused
    // (the target is then unchanged).
    bool Commit(std::string& reason);
    // As Commit, but a refusal throws FileIoError.
    void CommitOrThrow();

private:
    std::string m_target;
    std::string m_path;
    bool m_committed = false;
};

}  // namespace ruvo
