#pragma once
// Where a window goes when it is centred on another one.

#include <QPoint>

class QWidget;

namespace ruvo {

// The top-left corner of `window`'s frame centred on `anchor`'s frame:
// Round(anchor.Left + anchor.Width * 0.5 - window.Width * 0.5), and likewise for Top. A
// window that was never shown has no frame yet; it is taken to get the anchor's.
QPoint CentredOn(const QWidget& window, const QWidget& anchor);

}  // namespace ruvo
