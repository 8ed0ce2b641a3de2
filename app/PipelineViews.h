#pragma once
// What the document pipeline needs from the windows around it: the progress display with its
// Cancel button, and the main window's side of a conversion (player, alert, save dialog,
// showing the document). The main window and the progress dialog implement them; tests use
// fakes. UI thread only.

#include "engine/WavHead.h"

#include <cstdint>
#include <string>

namespace ruvo {

class IProgressView {
public:
    virtual ~IProgressView() = default;
    // Clears a pending cancel and sets the bar to 0 with a step that reaches about 100 % in
    // `steps` steps; does not show the display.
    virtual void ProgressStart(std::int32_t steps) = 0;
    virtual void ProgressShow() = 0;
    virtual void ProgressHide() = 0;
    // Advances the bar by one step, shows the new percentage and lets pending events run.
    virtual void ProgressStep() = 0;
    // Lets pending events run (between spectrum frames).
    virtual void ProgressIdle() = 0;
    // Cancel was pressed since the last ProgressStart.
    virtual bool CancelRequested() const = 0;
};

// The answers to the question before a document with unsaved work is closed or replaced.
enum class CloseAnswer { Save, Discard, Cancel };

class IDocumentView {
public:
    virtual ~IDocumentView() = default;
    virtual void ShowPlayer() = 0;
    virtual void HidePlayer() = 0;
    // The warning before a re-run that grid edits will be lost, when the user wants it;
    // true to go on.
    virtual bool ConfirmRerun() = 0;
    // Shows `doc` (caption, grid metrics, status panels, panes, player); the grid metrics
    // may move doc's ViewStart. `fillGrid` refills the note grid from the grid file. A doc
    // without grid file shows the empty window.
    virtual void ShowDocument(WavHead& doc, bool fillGrid) = 0;
    // A grid file has just been built for the document about to be shown; `fresh` for a new
    // document, whose view starts at doc's ViewStart (column 0) whatever the grid showed before.
    virtual void GridFileBuilt(bool fresh) = 0;
    // The first conversion completed: Save Midi becomes available.
    virtual void EnableSaveMidi() = 0;
    // Asks for the MIDI file's name; false when the user cancelled.
    virtual bool ChooseMidiFileName(std::string& name) = 0;
    // A one-line note about the file being converted (one that ends before its header says),
    // for the status bar.
    virtual void ShowStatusNote(const std::string& note) { static_cast<void>(note); }
    // Asks once whether to save the document before it is closed or replaced; without
    // `canCancel` only Save and Discard are offered.
    virtual CloseAnswer AskSaveBeforeClose(const std::string& question, bool canCancel) {
        static_cast<void>(question);
        static_cast<void>(canCancel);
        return CloseAnswer::Discard;
    }
    // Asks for the name of the WAV file a recording is saved as; false when cancelled.
    virtual bool ChooseRecordingFileName(std::string& name) {
        static_cast<void>(name);
        return false;
    }
    // Offers to analyse a converted copy of a file that the WAV check refuses; true to go on.
    virtual bool ConfirmImport(const std::string& question) {
        static_cast<void>(question);
        return true;
    }
    // The user's file `fileName` has become the document (not a recording of the player):
    // the recent-files list takes it.
    virtual void FileConverted(const std::string& /*fileName*/) {}
};

}  // namespace ruvo
