#include "app/Glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace ruvo {

namespace {

// An eighth note on a coloured square, 32 pixels wide.
QPixmap NotePicture(const QColor& background, const QColor& ink, int size) {
    QPixmap picture(size, size);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(background);
    painter.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    painter.setBrush(ink);
    painter.save();
    painter.translate(13, 23);
    painter.rotate(-20);
    painter.drawEllipse(QRectF(-5, -3.5, 10, 7));
    painter.restore();
    painter.drawRect(QRectF(16.5, 6, 2, 17));
    QPainterPath flag;
    flag.moveTo(18.5, 6);
    flag.cubicTo(21, 10, 25, 11, 24, 17);
    flag.cubicTo(23.5, 13, 21, 12, 18.5, 11);
    flag.closeSubpath();
    painter.drawPath(flag);
    return picture;
}

}  // namespace

QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48}) {
        icon.addPixmap(NotePicture(QColor(0, 0, 255), Qt::yellow, size));
    }
    return icon;
}

QIcon TempoGlyph() {
    // A metronome: a trapezoid body with its pendulum.
    QPixmap picture(20, 20);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(QColor(128, 128, 0));
    const QPointF body[] = {{7, 2}, {13, 2}, {17, 18}, {3, 18}};
    painter.drawPolygon(body, 4);
    painter.setPen(QPen(Qt::white, 1.5));
    painter.drawLine(QPointF(10, 15), QPointF(14, 5));
    return QIcon(picture);
}

}  // namespace ruvo
