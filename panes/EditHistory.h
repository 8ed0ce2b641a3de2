#pragma once
// EditHistory: the undo and redo steps of one document, oldest first, and the work files they
// keep. A new step drops every redo step (and its files) at once; at most kMaxSteps steps and
// kMaxKeptBytes of kept files, the oldest dropped first. Owned by the document pipeline with
// the document it belongs to; no widgets; UI thread.

#include "panes/EditCommand.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ruvo {

class EditHistory {
public:
    static constexpr std::size_t kMaxSteps = 32;
    static constexpr std::int64_t kMaxKeptBytes = std::int64_t{1} << 30;

    EditHistory() = default;
    EditHistory(const EditHistory&) = delete;
    EditHistory& operator=(const EditHistory&) = delete;

    // A step that has just been applied to the document.
    void Push(std::unique_ptr<IEditCommand> step);
    bool CanUndo() const { return m_done > 0; }
    bool CanRedo() const { return m_done < m_steps.size(); }
    // The names of the steps Undo and Redo would take; empty when there is none.
    std::string UndoName() const;
    std::string RedoName() const;
    // The steps Undo and Redo would take; nullptr when there is none.
    const IEditCommand* UndoStep() const { return CanUndo() ? m_steps[m_done - 1].Step.get() : nullptr; }
    const IEditCommand* RedoStep() const { return CanRedo() ? m_steps[m_done].Step.get() : nullptr; }
    // Reverts the latest done step, or re-applies the first undone one. false when there is
    // none. A file error of the step throws and leaves the history where it was.
    bool Undo(WavHead& doc);
    bool Redo(WavHead& doc);
    // Drops every step and deletes the files they keep (a new or closed document).
    void Clear();

    std::size_t StepCount() const { return m_steps.size(); }
    std::int64_t KeptBytes() const;
    std::vector<std::string> KeptFiles() const;

    // The document as it is now counts as saved (a MIDI export); Modified() is true once an
    // edit, undo or redo has moved it from there.
    void MarkSaved() { m_savedSerial = CurrentSerial(); }
    bool Modified() const { return m_savedSerial != CurrentSerial(); }
    // Names the document's state: the same number means the same files and fields, whatever
    // edits, undos and redos led there; a new document gets a new one.
    std::uint64_t Serial() const { return CurrentSerial(); }

private:
    struct Entry {
        std::unique_ptr<IEditCommand> Step;
        std::uint64_t Serial = 0;
    };
    // The serial of the latest done step; 0 for the document as converted.
    std::uint64_t CurrentSerial() const { return m_done == 0 ? m_baseSerial : m_steps[m_done - 1].Serial; }
    void DropOldest();

    std::vector<Entry> m_steps;
    std::size_t m_done = 0;  // steps 0 .. m_done - 1 are applied
    std::uint64_t m_nextSerial = 1;
    std::uint64_t m_baseSerial = 0;  // the state before the oldest kept step
    std::uint64_t m_savedSerial = 0;
};

}  // namespace ruvo
