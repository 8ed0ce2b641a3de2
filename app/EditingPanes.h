#pragma once
// EditingPanes: the panes around the note grid of the main window (waveform, selection strip,
// note grid editor with its note symbol box, threshold and harmonic strips), made as children
// of the window's client area at their design places and wired to the document pipeline.
// Every mouse handler runs through the window's guard, which shows an error and lets a close
// that waited for a re-run happen. Owned by the main window; UI thread.

#include "panes/PaneHost.h"
#include "panes/SelectionDrag.h"

#include <QObject>
#include <QPixmap>

#include <functional>
#include <memory>
#include <vector>

class QWidget;

namespace ruvo {

class DocumentPipeline;
class THarmonicPane;
class TNoteGridEditor;
class TPaintBox;
class TSelectionPane;
class TStrColGrid;
class TThresholdPane;
class TWaveformPane;

class EditingPanes : public QObject, public IPaneHost {
    Q_OBJECT

public:
    // Runs one handler; an exception it raises is shown and ends it.
    using Guard = std::function<void(const std::function<void()>&)>;

    // `grid` and `scratch`: MidiDisp2 and MididispbackUp; `symbols`: the note symbol of every
    // grid row. All outlive the panes.
    EditingPanes(QWidget& client, DocumentPipeline& pipeline, TStrColGrid& grid, TStrColGrid& scratch,
                 const std::vector<QPixmap>& symbols, Guard guard);
    ~EditingPanes() override;

    // The pane widgets, owned by the client area; the window's layout may move them.
    TPaintBox* WavDisp() const { return m_wavDisp; }
    TPaintBox* SelectRgn() const { return m_selectRgn; }
    TPaintBox* OnpuDisp() const { return m_onpuDisp; }
    // The strips; setEnabled(false) refuses their gestures, SetHint gives a new hint text.
    TPaintBox* ThreadValue() const { return m_threadValue; }
    TPaintBox* DoubleNote() const { return m_doubleNote; }
    TNoteGridEditor& NoteGridEditor() { return *m_editor; }
    TThresholdPane& ThresholdPane() { return *m_threshold; }

    // Another note table is shown (a new document, a re-run, a step of the history): a drag
    // begun on the grid or the threshold strip before it ends without writing anything.
    void DocumentReplaced();
    // Undo (`back`) or redo of the latest step. The grid keeps the rows and columns in view;
    // the cells a grid edit step changes are scrolled into view when they lie outside it.
    void StepHistory(bool back);

    // Repaints every pane (after a refresh of the document view or status).
    void Repaint();
    // The strips as the analysis needs them: in melody mode the harmonic strip is drawn
    // disabled (one note per frame leaves no harmonic note to erase), and the threshold
    // strip's hint tells what its margin does in either mode.
    void ShowAnalysisMode(AnalysisMode mode);

    // IPaneHost
    WavHead& Doc() override;
    bool Busy() const override;
    void RefreshStatus() override;
    void RefreshDocumentView() override;
    std::int32_t RerunNoteStage() override;
    std::int32_t EditSideFile(SideFile file, std::int32_t first, std::int32_t last, double value) override;
    void CommitNoteEdit(const NoteEdit& edit, const std::string& stepName) override;

private:
    void CreateWaveform(QWidget& client);
    void CreateNoteGridEditor(QWidget& client, TStrColGrid& grid, TStrColGrid& scratch,
                              const std::vector<QPixmap>& symbols);
    void CreateStrips(QWidget& client);
    // A document is shown and no run is going: a drag may select.
    bool HasSelectableDocument() const;

    DocumentPipeline& m_pipeline;
    Guard m_guard;
    TStrColGrid* m_grid = nullptr;       // the note grid, owned by the window
    TPaintBox* m_wavDisp = nullptr;      // owned by parent
    TPaintBox* m_selectRgn = nullptr;    // owned by parent
    TPaintBox* m_onpuDisp = nullptr;     // owned by parent
    TPaintBox* m_threadValue = nullptr;  // owned by parent
    TPaintBox* m_doubleNote = nullptr;   // owned by parent
    std::unique_ptr<TWaveformPane> m_waveform;
    std::unique_ptr<TSelectionPane> m_selection;
    std::unique_ptr<TNoteGridEditor> m_editor;
    std::unique_ptr<TThresholdPane> m_threshold;
    std::unique_ptr<THarmonicPane> m_harmonics;
    SelectionDrag m_selectionDrag;
};

}  // namespace ruvo
