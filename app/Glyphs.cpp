#include "app/Glyphs.h"

#include "app/IconDesign.h"

#include <QPainter>
#include <QPixmap>

namespace ruvo {

QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(QPixmap::fromImage(ProgramIconImage(size)));
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
