#pragma once
// The passive panes around the note grid: the time scale HTime under the waveform, the level
// scales VLevel and VLevelRight beside it and the colour legend Gradation, with the zoom
// arithmetic of the four zoom buttons. The geometry functions are widget-free; TScalePane
// paints one of the four. Owned by the main window (Qt parent); UI thread only.

#include <QColor>
#include <QLine>
#include <QRect>
#include <QWidget>

class QPainter;

#include <cstdint>
#include <functional>
#include <vector>

namespace ruvo {

// The lines of the time scale of a box w x h showing viewWidth frames: a base line, then one
// tick per frame from the view's left edge, every fifth one the full height.
std::vector<QLine> TimeScaleLines(int w, int h, std::int32_t viewWidth);
// The lines of a level scale (negative to positive full scale over the height): the spine
// and eleven ticks, the ends and the middle ones long. `right`: the mirror image, for the
// scale on the waveform's right.
std::vector<QLine> LevelScaleLines(int w, int h, bool right);

struct Swatch {
    QRect Rect;
    QColor Color;
};
// The legend's nine swatches, each a tenth of the width, in the note grid's colours from
// erased (black) to the user's notes (white); the last tenth stays unpainted.
std::vector<Swatch> GradationSwatches(int w, int h);

// Visible frames after "time span longer": x 1.4 while the view is not past the recording,
// never more than frameCount.
std::int32_t LongerTimeSpan(std::int32_t viewWidth, std::int32_t frameCount);
// Visible frames after "time span shorter": x 5/7 from 4 frames upwards.
std::int32_t ShorterTimeSpan(std::int32_t viewWidth);
// Row height after "height of one tone shorter": x 5/7 (never below 1).
std::int32_t ShorterRows(std::int32_t rowHeight);
// Row height after "height of one tone longer": Round(h x 1.5 + 0.5), allowed only while the
// grid is at least as high as the current rows; otherwise unchanged.
std::int32_t LongerRows(std::int32_t rowHeight, std::int32_t gridHeight);

class TScalePane : public QWidget {
    Q_OBJECT

public:
    enum class Kind { HTime, VLevel, VLevelRight, Gradation };

    TScalePane(Kind kind, QWidget* parent = nullptr);

    Kind PaneKind() const { return m_kind; }
    // Frames the time scale spans (the document's ViewWidth).
    void SetViewWidth(std::int32_t frames);
    std::int32_t ViewWidth() const { return m_viewWidth; }
    // The first frame the time scale shows (the document's ViewStart), for its seconds.
    void SetViewStart(std::int32_t frame);

    void HTimePaint();
    // Drawn over the scale after its own lines (the time scale's bar and beat lines).
    void SetOverlay(std::function<void(QPainter&)> overlay) { m_overlay = std::move(overlay); }
    void VLevelPaint();
    void VLevelRightPaint();
    void GradationPaint();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void DrawLines(const std::vector<QLine>& lines);
    // The seconds beside the time scale's ticks, in a small font.
    void DrawSecondLabels();

    Kind m_kind;
    std::int32_t m_viewWidth = 1;
    std::function<void(QPainter&)> m_overlay;
    std::int32_t m_viewStart = 0;
};

}  // namespace ruvo
