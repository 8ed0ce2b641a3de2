#include "panes/PaintBox.h"

#include <QMouseEvent>
#include <QPainter>

namespace ruvo {

void ApplyPaneHint(QWidget* widget, const QString& hint) {
    const qsizetype bar = hint.indexOf(QLatin1Char('|'));
    widget->setToolTip(bar < 0 ? hint : hint.left(bar));
    widget->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
}

TPaintBox::TPaintBox(QWidget* parent) : QWidget(parent) { setMouseTracking(true); }

void TPaintBox::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    emit OnPaint(painter);
}

void TPaintBox::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    emit OnMouseDown(event->button(), pos.x(), pos.y());
}

void TPaintBox::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void TPaintBox::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    emit OnMouseMove(event->buttons(), pos.x(), pos.y());
}

void TPaintBox::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    emit OnMouseUp(event->button(), pos.x(), pos.y());
}

}  // namespace ruvo
