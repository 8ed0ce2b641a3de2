#include "panes/NoteEdits.h"

#include "engine/EngineHost.h"
#include "engine/FileIoError.h"
#include "engine/Rounding.h"
#include "engine/UFile.h"
#include "panes/NoteGridFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace ruvo {

namespace {

// The record operations of one family: doubles for the note table, bytes for the grid file.
template <typename Value>
struct Records;

template <>
struct Records<double> {
    static std::int32_t Open(TFileBase& file, const std::string& name, std::int32_t mode) {
        return file.OpenFile(name, mode, kGridRows);
    }
    static void Read(TFileBase& file, std::span<double> rec) { file.ReadData(rec); }
    static void Write(TFileBase& file, std::span<const double> rec) { file.WriteData(rec); }
    static void Close(TFileBase& file) { file.CloseFile(); }
};

template <>
struct Records<std::int8_t> {
    static std::int32_t Open(TFileBase& file, const std::string& name, std::int32_t mode) {
        return file.OpenFileShort(name, mode, kGridRows);
    }
    static void Read(TFileBase& file, std::span<std::int8_t> rec) { file.ReadDataShort(rec); }
    static void Write(TFileBase& file, std::span<const std::int8_t> rec) { file.WriteDataShort(rec); }
    static void Close(TFileBase& file) { file.CloseFileShort(); }
};

// The index of grid row `row` in a record of the family: the note for a double, the row itself
// for a grid byte.
template <typename Value>
std::size_t Slot(std::int32_t row) {
    if constexpr (std::is_same_v<Value, double>) {
        return static_cast<std::size_t>(RowToNote(row));
    } else {
        return static_cast<std::size_t>(row);
    }
}

// Streams every frame of `source` into `next`, letting `edit(frame, record)` change the
// record on its way. false when an open was refused (the engine has shown why).
template <typename Value, typename Edit>
bool WriteNewVersion(const std::string& source, const ReplacementFile& next, std::int32_t frames, Edit&& edit) {
    using R = Records<Value>;
    TFileBase in;
    TFileBase out;
    if (R::Open(in, source, kModeRead) != 0) {
        return false;
    }
    if (R::Open(out, next.Path(), kModeWrite) != 0) {
        R::Close(in);
        return false;
    }
    std::vector<Value> rec(kGridRows);
    for (std::int32_t frame = 0; frame < frames; ++frame) {
        R::Read(in, rec);
        edit(frame, std::span<Value>(rec));
        R::Write(out, rec);
    }
    R::Close(in);
    R::Close(out);
    return true;
}

bool Within(std::int32_t frame, std::int32_t first, std::int32_t last) { return frame >= first && frame <= last; }

template <typename Value>
void RewriteRun(const std::string& name, std::int32_t frames, const NoteEdit& edit, Value value) {
    ReplacementFile next(name);
    const std::size_t slot = Slot<Value>(edit.Row);
    if (!WriteNewVersion<Value>(name, next, frames, [&](std::int32_t frame, std::span<Value> rec) {
            if (Within(frame, edit.Start, edit.End)) {
                rec[slot] = value;
            }
        })) {
        return;
    }
    next.CommitOrThrow();
}

// A refused replacement is reported in `box` and the edit goes on with the next file.
template <typename Value>
void RewriteSwap(const std::string& name, std::int32_t frames, const NoteEdit& edit, const char* box) {
    ReplacementFile next(name);
    const std::size_t a = Slot<Value>(edit.Row);
    const std::size_t b = Slot<Value>(edit.OtherRow);
    if (!WriteNewVersion<Value>(name, next, frames, [&](std::int32_t frame, std::span<Value> rec) {
            if (Within(frame, edit.Start, edit.End)) {
                std::swap(rec[a], rec[b]);
            }
        })) {
        return;
    }
    std::string reason;
    if (!next.Commit(reason)) {
        EngineHost().ErrorBox(box);
    }
}

// The old run is read first, so that the new columns may lie before, after or across the old
// ones. Each frame is then cleared before it is pasted into, which gives the same table as a
// clear of the whole file followed by a paste: an overlapping move keeps every value.
template <typename Value>
void RewriteShift(const std::string& name, std::int32_t frames, const NoteEdit& edit) {
    const std::int32_t first = std::max(edit.Start, 0);
    const std::int32_t last = std::min(edit.End, frames - 1);
    const std::size_t oldSlot = Slot<Value>(edit.Row);
    const std::size_t newSlot = Slot<Value>(edit.OtherRow);

    std::vector<Value> moved;
    {
        using R = Records<Value>;
        TFileBase in;
        if (R::Open(in, name, kModeRead) != 0) {
            return;
        }
        std::vector<Value> rec(kGridRows);
        for (std::int32_t frame = 0; frame <= last; ++frame) {
            R::Read(in, rec);
            if (frame >= first) {
                moved.push_back(rec[oldSlot]);
            }
        }
        R::Close(in);
    }

    const std::int32_t pasteFirst = std::max(edit.NewStart, 0);
    ReplacementFile next(name);
    if (!WriteNewVersion<Value>(name, next, frames, [&](std::int32_t frame, std::span<Value> rec) {
            if (Within(frame, edit.Start, edit.End)) {
                rec[oldSlot] = Value{};
            }
            if (Within(frame, edit.NewStart, edit.NewEnd)) {
                const auto index = static_cast<std::size_t>(frame - pasteFirst);
                rec[newSlot] = index < moved.size() ? moved[index] : Value{};
            }
        })) {
        return;
    }
    next.CommitOrThrow();
}

void RequireRow(std::int32_t row) {
    if (row < 0 || row >= kGridRows) {
        throw std::out_of_range("A note edit names a row outside the note grid.");
    }
}

}  // namespace

NoteEdit NoteEdit::SetRun(std::int32_t start, std::int32_t end, std::int32_t row, double value) {
    return {.Op = Kind::SetRun, .Start = start, .End = end, .Row = row, .Value = value};
}

NoteEdit NoteEdit::SwapRows(std::int32_t start, std::int32_t end, std::int32_t rowA, std::int32_t rowB) {
    return {.Op = Kind::SwapRows, .Start = start, .End = end, .Row = rowA, .OtherRow = rowB};
}

NoteEdit NoteEdit::ShiftRun(std::int32_t oldStart, std::int32_t oldEnd, std::int32_t newRow, std::int32_t newEnd,
                            std::int32_t newStart, std::int32_t oldRow) {
    return {.Op = Kind::ShiftRun,
            .Start = oldStart,
            .End = oldEnd,
            .Row = oldRow,
            .OtherRow = newRow,
            .NewStart = newStart,
            .NewEnd = newEnd};
}

std::vector<NoteSpan> NoteEdit::Spans() const {
    switch (Op) {
        case Kind::SetRun: return {{Row, Start, End}};
        case Kind::SwapRows: return {{Row, Start, End}, {OtherRow, Start, End}};
        case Kind::ShiftRun: return {{Row, Start, End}, {OtherRow, NewStart, NewEnd}};
    }
    return {};
}

double ClampNoteValue(double value) {
    if (!(value >= -kMaxNoteValue)) {
        return -kMaxNoteValue;
    }
    return std::min(value, kMaxNoteValue);
}

std::int8_t NoteValueLevel(double value) {
    if (value > 0.0) {
        return kUserNoteLevel;
    }
    return static_cast<std::int8_t>(RoundToInt(ClampNoteValue(value)));
}

void ApplyNoteEdit(const WavHead& doc, const NoteEdit& edit) {
    if (doc.NoteIntenFileName.empty()) {
        return;
    }
    RequireRow(edit.Row);
    if (edit.Op != NoteEdit::Kind::SetRun) {
        RequireRow(edit.OtherRow);
    }
    const bool grid = !doc.MidiGridFileName.empty();
    switch (edit.Op) {
        case NoteEdit::Kind::SetRun: {
            const double value = ClampNoteValue(edit.Value);
            RewriteRun<double>(doc.NoteIntenFileName, doc.FrameCount, edit, value);
            if (grid) {
                RewriteRun<std::int8_t>(doc.MidiGridFileName, doc.FrameCount, edit, NoteValueLevel(value));
            }
            return;
        }
        case NoteEdit::Kind::SwapRows:
            RewriteSwap<double>(doc.NoteIntenFileName, doc.FrameCount, edit, "Error at NoteIntenFileName");
            if (grid) {
                RewriteSwap<std::int8_t>(doc.MidiGridFileName, doc.FrameCount, edit, "Error at MidiGridFileName");
            }
            return;
        case NoteEdit::Kind::ShiftRun:
            RewriteShift<double>(doc.NoteIntenFileName, doc.FrameCount, edit);
            if (grid) {
                RewriteShift<std::int8_t>(doc.MidiGridFileName, doc.FrameCount, edit);
            }
            return;
    }
}

void SetNoteRun(const WavHead& doc, std::int32_t start, std::int32_t end, std::int32_t row, double value) {
    ApplyNoteEdit(doc, NoteEdit::SetRun(start, end, row, value));
}

void SwapNoteRows(const WavHead& doc, std::int32_t start, std::int32_t end, std::int32_t rowA, std::int32_t rowB) {
    ApplyNoteEdit(doc, NoteEdit::SwapRows(start, end, rowA, rowB));
}

void ShiftNoteRun(const WavHead& doc, std::int32_t oldStart, std::int32_t oldEnd, std::int32_t newRow,
                  std::int32_t newEnd, std::int32_t newStart, std::int32_t oldRow) {
    ApplyNoteEdit(doc, NoteEdit::ShiftRun(oldStart, oldEnd, newRow, newEnd, newStart, oldRow));
}

void SetSideFileRun(const std::string& name, std::int32_t frames, std::int32_t first, std::int32_t last, double value) {
    ReplacementFile next(name);
    {
        TFileBase in;
        TFileBase out;
        if (in.OpenFile(name, kModeRead, 1) != 0) {
            return;
        }
        if (out.OpenFile(next.Path(), kModeWrite, 1) != 0) {
            in.CloseFile();
            return;
        }
        std::array<double, 1> rec{};
        for (std::int32_t frame = 0; frame < frames; ++frame) {
            in.ReadData(rec);
            if (Within(frame, first, last)) {
                rec[0] = value;
            }
            out.WriteData(rec);
        }
        in.CloseFile();
        out.CloseFile();
    }
    next.CommitOrThrow();
}

ReplacementFile::ReplacementFile(std::string target) : m_target(std::move(target)), m_path(m_target + ".new") {}

ReplacementFile::~ReplacementFile() {
    if (!m_committed) {
        std::remove(m_path.c_str());
    }
}

bool ReplacementFile::Commit(std::string& reason) {
    errno = 0;
    if (std::rename(m_path.c_str(), m_target.c_str()) != 0) {
        const int error = errno;
        reason = error != 0 ? std::strerror(error) : "the file could not be replaced";
        return false;
    }
    m_committed = true;
    return true;
}

void ReplacementFile::CommitOrThrow() {
    std::string reason;
    if (!Commit(reason)) {
        throw FileIoError(m_target, "replace", reason);
    }
}

}  // namespace ruvo
