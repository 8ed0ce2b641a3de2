#include "app/WheelZoom.h"

#include <QWheelEvent>

#include <utility>

namespace ruvo {
namespace {

constexpr int kNotch = 120;  // angle delta of one wheel notch, in eighths of a degree

}  // namespace

TWheelZoom::TWheelZoom(std::function<void()> zoomIn, std::function<void()> zoomOut, QObject* parent)
    : QObject(parent), m_zoomIn(std::move(zoomIn)), m_zoomOut(std::move(zoomOut)) {}

void TWheelZoom::Watch(QObject* target) { target->installEventFilter(this); }

bool TWheelZoom::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Wheel) {
        return QObject::eventFilter(watched, event);
    }
    const auto* wheel = static_cast<QWheelEvent*>(event);
    if ((wheel->modifiers() & Qt::ControlModifier) == 0) {
        return QObject::eventFilter(watched, event);
    }
    m_pendingDelta += wheel->angleDelta().y();
    while (m_pendingDelta >= kNotch) {
        m_pendingDelta -= kNotch;
        m_zoomIn();
    }
    while (m_pendingDelta <= -kNotch) {
        m_pendingDelta += kNotch;
        m_zoomOut();
    }
    return true;  // a zoom never scrolls as well
}

}  // namespace ruvo
