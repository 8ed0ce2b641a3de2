#pragma once
// BeatLinePainter: draws the bar and beat lines over the note grid and the time scale, from
// beats its source gives for the span in view. The grid and the scale call it at the end of
// their painting; it owns nothing of theirs. UI thread.

#include "panes/BeatLines.h"

#include <QSize>

#include <cstdint>
#include <functional>
#include <vector>

class QPainter;
class QRect;

namespace ruvo {

class TStrColGrid;

class BeatLinePainter {
public:
    // The beats from `fromSeconds` to `toSeconds`; empty when there is no score to show.
    using Source = std::function<std::vector<BeatLine>(double fromSeconds, double toSeconds)>;

    void SetSource(Source source) { m_source = std::move(source); }
    // The "Beat lines" item: hidden lines cost the panes nothing.
    void SetShown(bool shown) { m_shown = shown; }
    bool Shown() const { return m_shown; }

    // Where the grid's columns (one frame each) stand in its viewport.
    static BeatView GridView(const TStrColGrid& grid);
    // The time scale shows `viewWidth` frames from `viewStart` over `width` pixels.
    static BeatView ScaleView(std::int32_t width, std::int32_t viewStart, std::int32_t viewWidth);

    // Over the grid's cells within `area` (viewport pixels): bars solid, beats faint.
    void PaintGrid(QPainter& painter, const TStrColGrid& grid, const QRect& area) const;
    // Over the time scale: bars the full height, beats from the middle down.
    void PaintScale(QPainter& painter, QSize size, std::int32_t viewStart, std::int32_t viewWidth) const;

    // The lines the panes would draw for `view` now.
    std::vector<BeatPixel> Pixels(const BeatView& view) const;

private:
    Source m_source;
    bool m_shown = true;
};

}  // namespace ruvo
