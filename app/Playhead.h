#pragma once
// TPlayhead: while the player plays, a red line stands over the waveform and the note grid at
// the frame being heard, moved about 30 times a second from the sound device's clock. Its lines are
// child widgets of the two panes (mouse events pass through them). Owned by the main window
// (Qt parent); UI thread.

#include <QObject>
#include <QTimer>

class QWidget;

namespace ruvo {

class DocumentPipeline;
class TPaintBox;
class TPlayer;
class TStrColGrid;

class TPlayhead : public QObject {
    Q_OBJECT

public:
    TPlayhead(TPlayer& player, DocumentPipeline& pipeline, TPaintBox& wave, TStrColGrid& grid, QObject* parent);

    // For good: the window calls it first thing in its teardown, since the player's sound output
    // runs events while it closes and the playhead must not look at the parts already gone.
    void Stop();

    // The frame last shown (fractional), or negative while hidden.
    double ShownFrame() const { return m_shownFrame; }
    QWidget* WaveLine() const { return m_waveLine; }
    QWidget* GridLine() const { return m_gridLine; }
    // Moves the lines to what is heard now (the timer's work; tests call it directly).
    void Follow();

private:
    TPlayer& m_player;
    DocumentPipeline& m_pipeline;
    TPaintBox& m_wave;
    TStrColGrid& m_grid;
    bool m_stopped = false;
    QWidget* m_waveLine = nullptr;  // owned by parent (the waveform box)
    QWidget* m_gridLine = nullptr;  // owned by parent (the grid's viewport)
    QTimer m_timer;
    double m_shownFrame = -1.0;
};

}  // namespace ruvo
