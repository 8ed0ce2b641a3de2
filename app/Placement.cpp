#include "app/Placement.h"

#include "engine/Rounding.h"

#include <QWidget>

namespace ruvo {

QPoint CentredOn(const QWidget& window, const QWidget& anchor) {
    const QRect outer = anchor.frameGeometry();
    QSize own = window.frameGeometry().size();
    if (!window.testAttribute(Qt::WA_WState_Created) || own == window.size()) {
        own = window.size() + (outer.size() - anchor.size());
    }
    return {static_cast<int>(RoundToInt(outer.left() + outer.width() * 0.5 - own.width() * 0.5)),
            static_cast<int>(RoundToInt(outer.top() + outer.height() * 0.5 - own.height() * 0.5))};
}

}  // namespace ruvo
