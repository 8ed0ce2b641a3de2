#include "app/EditingPanes.h"

#include "app/DocumentPipeline.h"
#include "panes/EditHistory.h"
#include "panes/HarmonicPane.h"
#include "panes/NoteEditCommand.h"
#include "panes/NoteEdits.h"
#include "panes/NoteGridEditor.h"
#include "panes/PaintBox.h"
#include "panes/SelectionDrag.h"
#include "panes/SelectionPane.h"
#include "panes/StrCGrid.h"
#include "panes/ThresholdPane.h"
#include "panes/ThresholdStatus.h"
#include "panes/WaveformPane.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QPainter>
#include <QPalette>
#include <QStatusTipEvent>
#include <QString>
#include <QWidget>

#include <algorithm>

namespace ruvo {

namespace {

constexpr const char* kClassicThresholdHint =
    "Threshould|Posiblility of remaind tone increases when a line upped by left button & drug.";
constexpr const char* kMelodyThresholdHint =
    "Threshould|Melody mode: a higher line widens the voicing window, so quieter passages keep their notes "
    "(left button & drag).";
constexpr const char* kClassicHarmonicHint =
    "Harmonic Tone|White means harmonic tones erased (Left click). Red means don't erased (Right click)..";
constexpr const char* kMelodyHarmonicHint =
    "Harmonic Tone|Melody mode keeps one note per frame: there are no harmonic tones to erase or keep.";
constexpr const char* kChordsThresholdHint =
    "Threshould|Chords mode: a higher line lets softer notes start; a lower one keeps only the loudest "
    "(left button & drag).";
constexpr const char* kChordsHarmonicHint =
    "Harmonic Tone|Chords mode tells overtones from notes by itself: this strip is not used.";

// The first row or column to show so that lo .. hi is in view, `first` itself when it is
// already; a span longer than the view shows its beginning.
std::int32_t Reveal(std::int32_t first, std::int32_t visible, std::int32_t lo, std::int32_t hi) {
    if (lo >= first && hi < first + visible) {
        return first;
    }
    if (lo < first || hi - lo + 1 > visible) {
        return lo;
    }
    return hi - visible + 1;
}

TPaintBox* MakeBox(QWidget& parent, const char* name, const QRect& place, const char* hint) {
    auto* box = new TPaintBox(&parent);  // owned by parent
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(place);
    box->SetHint(QString::fromLatin1(hint));
    return box;
}

}  // namespace

EditingPanes::EditingPanes(QWidget& client, DocumentPipeline& pipeline, TStrColGrid& grid, TStrColGrid& scratch,
                           const std::vector<QPixmap>& symbols, Guard guard)
    : m_pipeline(pipeline), m_guard(std::move(guard)), m_grid(&grid) {
    CreateWaveform(client);
    CreateNoteGridEditor(client, grid, scratch, symbols);
    CreateStrips(client);
}

EditingPanes::~EditingPanes() = default;

void EditingPanes::CreateWaveform(QWidget& client) {
    m_wavDisp = MakeBox(client, "WavDisp", QRect(136, 34, 457, 94),
                        "Selected area|Left button sets start selected time,  Right button sets end selected time.");
    m_selectRgn = MakeBox(client, "SelectRgn", QRect(88, 144, 537, 16),
                          "Selected area|Selected area is solid green rectangular. Displayed area is shown by red "
                          "lines.");
    m_waveform = std::make_unique<TWaveformPane>(*this, *m_wavDisp);
    m_selection = std::make_unique<TSelectionPane>(*this, *m_selectRgn);
    connect(m_wavDisp, &TPaintBox::OnPaint, this, [this](QPainter& painter) { m_waveform->WavDispPaint(painter); });
    connect(m_wavDisp, &TPaintBox::OnMouseDown, this, [this](Qt::MouseButton button, int x, int y) {
        m_guard([&] { m_waveform->WavDispMouseDown(button, x, y); });
    });
    connect(m_selectRgn, &TPaintBox::OnPaint, this,
            [this](QPainter& painter) { m_selection->SelectRgnPaint(painter); });
    connect(m_selectRgn, &TPaintBox::OnMouseDown, this, [this](Qt::MouseButton button, int x, int y) {
        m_guard([&] { m_selection->SelectRgnMouseDown(button, x, y); });
    });
    // A left drag in either box selects the frames it spans, after the press's own click.
    const auto dragIn = [this](TPaintBox* box, std::int32_t (*frameAt)(const WavHead&, std::int32_t, std::int32_t)) {
        connect(box, &TPaintBox::OnMouseDown, this, [this, box, frameAt](Qt::MouseButton button, int x, int /*y*/) {
            if (button == Qt::LeftButton && HasSelectableDocument()) {
                m_selectionDrag.Press(frameAt(m_pipeline.Doc, x, box->width()));
            }
        });
        connect(box, &TPaintBox::OnMouseMove, this, [this, box, frameAt](Qt::MouseButtons buttons, int x, int /*y*/) {
            if ((buttons & Qt::LeftButton) != 0 && m_selectionDrag.Active()) {
                m_guard([&] { m_selectionDrag.Move(*this, frameAt(m_pipeline.Doc, x, box->width())); });
            }
        });
        connect(box, &TPaintBox::OnMouseUp, this, [this](Qt::MouseButton button, int, int) {
            if (button == Qt::LeftButton) {
                m_selectionDrag.Release();
            }
        });
    };
    dragIn(m_wavDisp, &WaveformFrameAt);
    dragIn(m_selectRgn, &OverviewFrameAt);
}

bool EditingPanes::HasSelectableDocument() const {
    return !m_pipeline.Busy() && !m_pipeline.Doc.MidiGridFileName.empty() && m_pipeline.Doc.FrameCount > 0;
}

void EditingPanes::CreateNoteGridEditor(QWidget& client, TStrColGrid& grid, TStrColGrid& scratch,
                                        const std::vector<QPixmap>& symbols) {
    ApplyPaneHint(&grid, QStringLiteral("Note and time|You can move, delete, add and changing length the tones by "
                                        "mouse click & drag operation."));
    m_onpuDisp = MakeBox(client, "OnpuDisp", QRect(8, 211, 70, 130),
                         "Note|Grahical note, but only height of tone, not length of tone.");
    m_editor = std::make_unique<TNoteGridEditor>(*this, grid, scratch, *m_onpuDisp, symbols);
    connect(m_onpuDisp, &TPaintBox::OnPaint, this, [this](QPainter& painter) { m_editor->OnpuDispPaint(painter); });
    connect(&grid, &TStrColGrid::OnMouseDown, this,
            [this](Qt::MouseButton button, Qt::KeyboardModifiers /*modifiers*/, std::int32_t x, std::int32_t y) {
                m_guard([&] { m_editor->MidiDisp2MouseDown(button, x, y); });
            });
    connect(&grid, &TStrColGrid::OnMouseMove, this,
            [this](Qt::MouseButtons /*buttons*/, Qt::KeyboardModifiers /*modifiers*/, std::int32_t x, std::int32_t y) {
                m_guard([&] { m_editor->MidiDisp2MouseMove(x, y); });
            });
    connect(&grid, &TStrColGrid::OnMouseUp, this,
            [this](Qt::MouseButton button, Qt::KeyboardModifiers /*modifiers*/, std::int32_t x, std::int32_t y) {
                m_guard([&] { m_editor->MidiDisp2MouseUp(button, x, y); });
            });
    connect(&grid, &TStrColGrid::OnTopLeftChanged, this,
            [this] { m_guard([this] { m_editor->MidiDisp2TopLeftChanged(); }); });
}

void EditingPanes::CreateStrips(QWidget& client) {
    m_doubleNote = MakeBox(client, "DoubleNote", QRect(135, 408, 455, 15), kClassicHarmonicHint);
    m_threadValue = MakeBox(client, "ThreadValue", QRect(135, 422, 455, 38), kClassicThresholdHint);
    m_threshold = std::make_unique<TThresholdPane>(*this, *m_threadValue);
    m_harmonics = std::make_unique<THarmonicPane>(*this, *m_doubleNote);
    connect(m_threadValue, &TPaintBox::OnPaint, this,
            [this](QPainter& painter) { m_threshold->ThreadValuePaint(painter); });
    connect(m_threadValue, &TPaintBox::OnMouseDown, this, [this](Qt::MouseButton button, int x, int y) {
        m_guard([&] { m_threshold->ThreadValueMouseDown(button, x, y); });
    });
    connect(m_threadValue, &TPaintBox::OnMouseMove, this, [this](Qt::MouseButtons /*buttons*/, int x, int y) {
        m_guard([&] { m_threshold->ThreadValueMouseMove(x, y); });
    });
    // The margin at the pointer, and the one a drag sets, in the status bar.
    connect(m_threadValue, &TPaintBox::OnMouseMove, this, [this](Qt::MouseButtons /*buttons*/, int /*x*/, int y) {
        const std::string text =
            ThresholdStatusText(m_pipeline.Doc, y, m_threadValue->height(), m_threshold->ThresholdDrag() == 1);
        if (!text.empty()) {
            QStatusTipEvent tip(QString::fromStdString(text));
            QApplication::sendEvent(m_threadValue, &tip);
        }
    });
    connect(m_threadValue, &TPaintBox::OnMouseUp, this, [this](Qt::MouseButton button, int x, int y) {
        m_guard([&] { m_threshold->ThreadValueMouseUp(button, x, y); });
    });
    connect(m_doubleNote, &TPaintBox::OnPaint, this, [this](QPainter& painter) {
        m_harmonics->DoubleNotePaint(painter);
        if (!m_doubleNote->isEnabled()) {
            // Greyed and hatched, as a control that does nothing here.
            const QPalette& palette = m_doubleNote->palette();
            painter.fillRect(m_doubleNote->rect(), palette.color(QPalette::Disabled, QPalette::Window));
            painter.fillRect(m_doubleNote->rect(),
                             QBrush(palette.color(QPalette::Disabled, QPalette::WindowText), Qt::BDiagPattern));
        }
    });
    connect(m_doubleNote, &TPaintBox::OnMouseDown, this, [this](Qt::MouseButton button, int x, int y) {
        m_guard([&] { m_harmonics->DoubleNoteMouseDown(button, x, y); });
    });
}

void EditingPanes::DocumentReplaced() {
    m_editor->EndDrag();
    m_threshold->EndDrag();
}

void EditingPanes::StepHistory(bool back) {
    const EditHistory& history = m_pipeline.History();
    std::vector<NoteSpan> spans;
    if (const auto* edit = dynamic_cast<const NoteEditCommand*>(back ? history.UndoStep() : history.RedoStep())) {
        for (const NoteEditCommand::Cells& cells : edit->Recorded()) {
            spans.push_back(cells.Span);
        }
    }
    const std::int32_t topRow = m_grid->TopRow();
    const std::int32_t leftCol = m_grid->LeftCol();
    if ((back ? m_pipeline.Undo() : m_pipeline.Redo()) != 0) {
        return;
    }
    std::int32_t row = topRow;
    std::int32_t col = leftCol;
    if (!spans.empty()) {
        const auto [lowRow, highRow] = std::minmax_element(
            spans.begin(), spans.end(), [](const NoteSpan& a, const NoteSpan& b) { return a.Row < b.Row; });
        std::int32_t first = spans.front().First;
        std::int32_t last = spans.front().Last;
        for (const NoteSpan& span : spans) {
            first = std::min(first, span.First);
            last = std::max(last, span.Last);
        }
        row = Reveal(topRow, m_grid->VisibleRowCount(), lowRow->Row, highRow->Row);
        col = Reveal(leftCol, m_grid->VisibleColCount(), first, last);
    }
    m_grid->SetTopRow(row);
    m_grid->SetLeftCol(col);
}

void EditingPanes::Repaint() {
    m_wavDisp->update();
    m_selectRgn->update();
    m_doubleNote->update();
    m_threshold->Refreshed();
}

void EditingPanes::ShowAnalysisMode(AnalysisMode mode) {
    const bool melody = mode == AnalysisMode::Melody;
    const bool chords = mode == AnalysisMode::Chords;
    m_threadValue->SetHint(QString::fromLatin1(chords ? kChordsThresholdHint
                                               : melody ? kMelodyThresholdHint
                                                        : kClassicThresholdHint));
    m_doubleNote->SetHint(QString::fromLatin1(chords ? kChordsHarmonicHint
                                              : melody ? kMelodyHarmonicHint
                                                       : kClassicHarmonicHint));
    m_doubleNote->setEnabled(!melody && !chords);
    m_doubleNote->update();
}

WavHead& EditingPanes::Doc() { return m_pipeline.Doc; }

bool EditingPanes::Busy() const { return m_pipeline.Busy(); }

void EditingPanes::RefreshStatus() { m_pipeline.RefreshStatus(); }

void EditingPanes::RefreshDocumentView() { m_pipeline.RefreshDocumentView(); }

std::int32_t EditingPanes::RerunNoteStage() { return m_pipeline.RerunNoteStage(); }

std::int32_t EditingPanes::EditSideFile(SideFile file, std::int32_t first, std::int32_t last, double value) {
    return m_pipeline.EditSideFile(file, first, last, value);
}

void EditingPanes::CommitNoteEdit(const NoteEdit& edit, const std::string& stepName) {
    m_pipeline.CommitNoteEdit(edit, stepName);
}

}  // namespace ruvo
