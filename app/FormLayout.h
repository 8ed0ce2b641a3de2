#pragma once
// Where the main window's panes stand: the design layout of the window at its design size and
// the resize rule that moves and stretches them with the window. Widget-free: rectangles by
// pane name, in the co-ordinates of the window's client area below the menu bar.
//
// The rule is given for the window's outer size. Qt's outer size depends on the window
// manager's frame and the menu bar's font, so the outer size is taken as the client area's
// size plus the design's fixed frame: 8 pixels wide and 46 high (the design window is
// 655 x 552 outside and 647 x 506 inside). At the design size the rule gives the design.

#include <QRect>
#include <QSize>
#include <QString>

#include <map>

namespace ruvo {

constexpr QSize kDesignOuterSize(655, 552);
constexpr QSize kOuterFrame(8, 46);  // outer size minus client size
// The largest outer size at which the panes keep their design places.
constexpr QSize kSmallestResized(644, 552);

using PaneRects = std::map<QString, QRect>;

// Every pane, scale, button and label the rule moves, and the other panes of the window, at
// their design places.
PaneRects DesignLayout();

constexpr QSize OuterSizeOfClient(QSize client) {
    return {client.width() + kOuterFrame.width(), client.height() + kOuterFrame.height()};
}

// The resize rule for outer width w and height h: moves and stretches the panes of `rects`
// that it names (a pane missing from `rects` is skipped) and leaves every other value as it
// is. Does nothing and returns false when w <= 644 and h <= 552.
bool FormResizeLayout(int w, int h, PaneRects& rects);

}  // namespace ruvo
