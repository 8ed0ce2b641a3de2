#pragma once
// The appearance of one grid cell's mark: colour and brush style. A plain value shared by the
// grid widget and the widget-free code that decides what the cells show.

#include <QRgb>
#include <QtCore/qnamespace.h>

namespace ruvo {

struct CellLook {
    QRgb Color = 0;
    Qt::BrushStyle Style = Qt::SolidPattern;
};

}  // namespace ruvo
