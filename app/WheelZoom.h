#pragma once
// TWheelZoom: Ctrl and the mouse wheel zoom in time over the panes it watches (the note grid,
// the waveform): each notch up calls `zoomIn`, each notch down `zoomOut`; the plain wheel
// still scrolls. An event filter owned by the main window (Qt parent); UI thread.

#include <QObject>

#include <functional>

namespace ruvo {

class TWheelZoom : public QObject {
    Q_OBJECT

public:
    TWheelZoom(std::function<void()> zoomIn, std::function<void()> zoomOut, QObject* parent);
    // Watches `target`'s wheel events from now on.
    void Watch(QObject* target);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void()> m_zoomIn;
    std::function<void()> m_zoomOut;
    int m_pendingDelta = 0;  // eighths of a degree not yet a whole notch (fine-grained wheels)
};

}  // namespace ruvo
