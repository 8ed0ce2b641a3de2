#include "GridTestSupport.h"

#include "panes/StrCGrid.h"

#include <QPixmap>

namespace ruvo::testsupport {

QImage GrabCells(TStrColGrid& grid) { return grid.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32); }

std::map<QRgb, int> ColoursIn(const QImage& image, const QRect& area) {
    std::map<QRgb, int> counts;
    const QRect clipped = area.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        for (int x = clipped.left(); x <= clipped.right(); ++x) {
            ++counts[image.pixel(x, y) | 0xff000000u];
        }
    }
    return counts;
}

}  // namespace ruvo::testsupport
