#include "panes/NoteEditCommand.h"

#include "engine/RawFile.h"
#include "panes/NoteGridFile.h"

#include <algorithm>
#include <type_traits>
#include <utility>

namespace ruvo {

namespace {

constexpr std::size_t kChunkFrames = 4096;  // records per transfer when a file is streamed

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

template <typename Value>
constexpr std::size_t RecordBytes() {
    return sizeof(Value) * static_cast<std::size_t>(kGridRows);
}

// The values of one span's cells, read straight from the file.
template <typename Value>
std::vector<Value> ReadCells(const std::string& name, const NoteSpan& span) {
    const auto count = static_cast<std::size_t>(span.Last - span.First + 1);
    std::vector<Value> values;
    values.reserve(count);
    std::vector<Value> chunk(kChunkFrames * static_cast<std::size_t>(kGridRows));
    RawFile file;
    file.Open(name, RawFile::Mode::Read);
    file.Seek(static_cast<std::int64_t>(span.First) * static_cast<std::int64_t>(RecordBytes<Value>()));
    const std::size_t slot = Slot<Value>(span.Row);
    while (values.size() < count) {
        const std::size_t frames = std::min(kChunkFrames, count - values.size());
        const std::size_t got = file.Read(chunk.data(), frames * RecordBytes<Value>()) / RecordBytes<Value>();
        for (std::size_t f = 0; f < got; ++f) {
            values.push_back(chunk[f * static_cast<std::size_t>(kGridRows) + slot]);
        }
        if (got < frames) {
            break;  // a file shorter than its document: cells past its end do not exist
        }
    }
    file.Close();
    return values;
}

// Streams `name` into a new version with every cell of `spans` set from `values` (one vector
// per span) and renames it over the file. Every byte not in a cell is copied as it is.
template <typename Value>
void WriteCells(const std::string& name, const std::vector<NoteSpan>& spans,
                const std::vector<const std::vector<Value>*>& values) {
    ReplacementFile next(name);
    {
        RawFile in;
        RawFile out;
        in.Open(name, RawFile::Mode::Read);
        out.Open(next.Path(), RawFile::Mode::Recreate);
        std::vector<Value> chunk(kChunkFrames * static_cast<std::size_t>(kGridRows));
        std::int64_t firstFrame = 0;
        for (;;) {
            const std::size_t bytes = in.Read(chunk.data(), chunk.size() * sizeof(Value));
            if (bytes == 0) {
                break;
            }
            const auto frames = static_cast<std::int64_t>(bytes / RecordBytes<Value>());
            for (std::size_t s = 0; s < spans.size(); ++s) {
                const NoteSpan& span = spans[s];
                const std::vector<Value>& cells = *values[s];
                const std::int64_t from = std::max<std::int64_t>(span.First, firstFrame);
                const std::int64_t to =
                    std::min<std::int64_t>(span.First + static_cast<std::int64_t>(cells.size()), firstFrame + frames);
                const std::size_t slot = Slot<Value>(span.Row);
                for (std::int64_t frame = from; frame < to; ++frame) {
                    chunk[static_cast<std::size_t>(frame - firstFrame) * static_cast<std::size_t>(kGridRows) + slot] =
                        cells[static_cast<std::size_t>(frame - span.First)];
                }
            }
            out.Write(chunk.data(), bytes);
            firstFrame += frames;
        }
        in.Close();
        out.Close();
    }
    next.CommitOrThrow();
}

}  // namespace

NoteEditCommand::NoteEditCommand(std::string name, std::vector<Cells> cells, bool hasGrid)
    : m_name(std::move(name)), m_cells(std::move(cells)), m_hasGrid(hasGrid) {}

std::unique_ptr<NoteEditCommand> NoteEditCommand::Apply(const WavHead& doc, const NoteEdit& edit, std::string name) {
    if (doc.NoteIntenFileName.empty()) {
        return nullptr;
    }
    const bool hasGrid = !doc.MidiGridFileName.empty();
    std::vector<Cells> cells;
    for (NoteSpan span : edit.Spans()) {
        span.First = std::max(span.First, 0);
        span.Last = std::min(span.Last, doc.FrameCount - 1);
        if (span.First > span.Last || span.Row < 0 || span.Row >= kGridRows) {
            continue;
        }
        Cells run;
        run.Span = span;
        run.OldNotes = ReadCells<double>(doc.NoteIntenFileName, span);
        if (hasGrid) {
            run.OldGrid = ReadCells<std::int8_t>(doc.MidiGridFileName, span);
        }
        cells.push_back(std::move(run));
    }
    std::unique_ptr<NoteEditCommand> step(new NoteEditCommand(std::move(name), std::move(cells), hasGrid));
    try {
        ApplyNoteEdit(doc, edit);
    } catch (...) {
        // The note table may have changed before the grid file failed: both go back.
        try {
            step->Write(doc, true);
        } catch (...) {
        }
        throw;
    }
    for (Cells& run : step->m_cells) {
        run.NewNotes = ReadCells<double>(doc.NoteIntenFileName, run.Span);
        if (hasGrid) {
            run.NewGrid = ReadCells<std::int8_t>(doc.MidiGridFileName, run.Span);
        }
    }
    return step;
}

void NoteEditCommand::Undo(WavHead& doc) { Write(doc, true); }

void NoteEditCommand::Redo(WavHead& doc) { Write(doc, false); }

void NoteEditCommand::Write(const WavHead& doc, bool before) const {
    if (m_cells.empty()) {
        return;
    }
    std::vector<NoteSpan> spans;
    std::vector<const std::vector<double>*> notes;
    std::vector<const std::vector<std::int8_t>*> grid;
    for (const Cells& run : m_cells) {
        spans.push_back(run.Span);
        notes.push_back(before ? &run.OldNotes : &run.NewNotes);
        grid.push_back(before ? &run.OldGrid : &run.NewGrid);
    }
    WriteCells<double>(doc.NoteIntenFileName, spans, notes);
    if (m_hasGrid && !doc.MidiGridFileName.empty()) {
        WriteCells<std::int8_t>(doc.MidiGridFileName, spans, grid);
    }
}

}  // namespace ruvo
