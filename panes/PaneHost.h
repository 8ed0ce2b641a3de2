#pragma once
// What the panes of the main window need from the window around them: the document, whether
// a conversion or re-run is running (the panes then refuse their gestures), the two refreshes,
// the re-run of the note stage and the one door through which grid edits reach the files.
// The main window implements it on its document pipeline; tests may fake it. UI thread only.

#include "engine/WavHead.h"

#include <cstdint>

namespace ruvo {

struct NoteEdit;

class IPaneHost {
public:
    virtual ~IPaneHost() = default;
    virtual WavHead& Doc() = 0;
    virtual bool Busy() const = 0;
    // Repaints the panes and status panels, not the note grid's cells.
    virtual void RefreshStatus() = 0;
    // As RefreshStatus, and refills the note grid from the grid file.
    virtual void RefreshDocumentView() = 0;
    // The note stage again on the document's side files, after the alert; 0 done.
    virtual std::int32_t RerunNoteStage() = 0;
    // Writes a grid edit into the note table and the grid file (throws on file errors).
    virtual void CommitNoteEdit(const NoteEdit& edit) = 0;
};

}  // namespace ruvo
