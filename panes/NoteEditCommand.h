#pragma once
// NoteEditCommand: a grid edit as a step of the history. It holds the old and the new values of
// the cells the edit may change, in the note table and in the grid file, and writes one set or
// the other back (as a new version of each file renamed over it), so that both files return
// bit for bit to their state before or after the edit. No files of its own; UI thread.

#include "panes/EditCommand.h"
#include "panes/NoteEdits.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ruvo {

class NoteEditCommand : public IEditCommand {
public:
    // Applies `edit` to doc's files and returns the step that reverts it; nothing when the
    // document has no note table. A file error throws after the cells read so far have been
    // put back.
    static std::unique_ptr<NoteEditCommand> Apply(const WavHead& doc, const NoteEdit& edit, std::string name);

    const std::string& Name() const override { return m_name; }
    void Undo(WavHead& doc) override;
    void Redo(WavHead& doc) override;
    std::vector<std::string> KeptFiles() const override { return {}; }
    std::int64_t KeptBytes() const override { return 0; }

    // The cells of one span of the edit (clamped to the document's frames), as they were and
    // as they are after it.
    struct Cells {
        NoteSpan Span;
        std::vector<double> OldNotes;
        std::vector<double> NewNotes;
        std::vector<std::int8_t> OldGrid;
        std::vector<std::int8_t> NewGrid;
    };
    const std::vector<Cells>& Recorded() const { return m_cells; }

private:
    NoteEditCommand(std::string name, std::vector<Cells> cells, bool hasGrid);
    // Writes the old (`before`) or new values of every recorded cell into doc's two files.
    void Write(const WavHead& doc, bool before) const;

    std::string m_name;
    std::vector<Cells> m_cells;
    bool m_hasGrid = false;
};

}  // namespace ruvo
