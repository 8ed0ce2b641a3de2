#pragma once
// TPaintBox: a plain rectangle that its owner draws and that reports mouse presses, moves
// and releases in its own pixels. The panes of the main window (waveform, selection strip,
// threshold and harmonic strips, note symbol) are paint boxes whose handlers live in the pane
// objects. A widget of the UI thread, owned by its Qt parent.

#include <QString>
#include <QWidget>

class QPainter;

namespace ruvo {

// Sets a hint "short|long": the short text is the tooltip, the long one the status-bar text.
void ApplyPaneHint(QWidget* widget, const QString& hint);

class TPaintBox : public QWidget {
    Q_OBJECT

public:
    explicit TPaintBox(QWidget* parent = nullptr);

    void SetHint(const QString& hint) { ApplyPaneHint(this, hint); }

signals:
    // Emitted from paintEvent; the painter covers the whole box.
    void OnPaint(QPainter& painter);
    // Mouse events in box pixels; a double click is two presses. Releases and moves after a
    // press arrive also when the pointer has left the box.
    void OnMouseDown(Qt::MouseButton button, int x, int y);
    void OnMouseMove(Qt::MouseButtons buttons, int x, int y);
    void OnMouseUp(Qt::MouseButton button, int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace ruvo
