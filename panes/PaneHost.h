#pragma once
// What the panes of the main window need from the window around them: the document, whether
// a conversion or re-run is running (the panes then refuse their gestures), the two refreshes,
// the re-run of the note stage and the one door through which grid edits reach the files.
// The main window implements it on its document pipeline; tests may fake it. UI thread only.

#include "engine/WavHead.h"

#include <cstdint>
#include <string>
#include <utility>

namespace ruvo {

struct NoteEdit;

// The side files of the note stage that the strips edit.
enum class SideFile { Threshold, Harmonic };

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
    // Sets frames first .. last of a side file to `value` and re-runs the note stage, after
    // the alert, as one step of the history named after the strip; 0 done.
    virtual std::int32_t EditSideFile(SideFile file, std::int32_t first, std::int32_t last, double value) = 0;
    // Writes a grid edit into the note table and the grid file as the history's step
    // `stepName` (throws on file errors).
    virtual void CommitNoteEdit(const NoteEdit& edit, const std::string& stepName) = 0;
};

// A click in the waveform or the overview: the left button moves the selection's start to
// `frame`, the right button its end (not clamped), then the panes repaint. A start clicked
// past the end, or an end before the start, swaps the two: the selection is always in order,
// and so always shown. Refused while a run is going.
inline void SelectFrame(IPaneHost& host, bool leftButton, bool rightButton, std::int32_t frame) {
    if (host.Busy()) {
        return;
    }
    WavHead& doc = host.Doc();
    if (leftButton) {
        doc.SelStart = frame;
    } else if (rightButton) {
        doc.SelEnd = frame;
    }
    if (doc.SelStart > doc.SelEnd) {
        std::swap(doc.SelStart, doc.SelEnd);
    }
    host.RefreshStatus();
}

}  // namespace ruvo
