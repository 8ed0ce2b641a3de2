#include "panes/Scales.h"

#include "panes/TimeLabels.h"

#include "engine/Rounding.h"

#include <QPainter>

#include <algorithm>
#include <array>

namespace ruvo {

namespace {

constexpr double kShorterFactor = 0.714285714285714;  // 5/7
constexpr double kLongerSpanFactor = 1.4;
constexpr double kLongerRowFactor = 1.5;
constexpr int kLevelTicks = 10;

int Round(double x) { return static_cast<int>(RoundToInt(x)); }

}  // namespace

std::vector<QLine> TimeScaleLines(int w, int h, std::int32_t viewWidth) {
    std::vector<QLine> lines;
    lines.emplace_back(0, h - 1, w - 1, h - 1);
    if (viewWidth < 1) {
        return lines;
    }
    for (std::int32_t a = 0; a <= viewWidth; ++a) {
        int x = Round(static_cast<double>(a) * w / viewWidth);
        if (a % 5 == 0) {
            x = std::min(x, w - 1);
            lines.emplace_back(x, h - 1, x, 0);
        } else {
            lines.emplace_back(x, h - 1, x, Round(h * 0.5));
        }
    }
    return lines;
}

std::vector<QLine> LevelScaleLines(int w, int h, bool right) {
    const int spine = right ? w - 1 : 0;
    const int longEnd = right ? 0 : w - 1;
    std::vector<QLine> lines;
    lines.emplace_back(spine, 0, spine, h - 1);
    for (int i = 0; i <= kLevelTicks; ++i) {
        int y = Round(i * h * 0.1);
        if (i % 5 == 0) {
            y = std::min(y, h - 1);
            lines.emplace_back(spine, y, longEnd, y);
        } else {
            lines.emplace_back(spine, y, Round(w * 0.5), y);
        }
    }
    return lines;
}

std::vector<Swatch> GradationSwatches(int w, int h) {
    static const std::array<QColor, 9> kColors = {QColor(0, 0, 0),   QColor(0, 0, 255),   QColor(0, 128, 128),
                                                  QColor(0, 128, 0), QColor(128, 128, 0), QColor(128, 0, 0),
                                                  QColor(255, 0, 0), QColor(255, 255, 0), QColor(255, 255, 255)};
    std::vector<Swatch> swatches;
    for (std::size_t i = 0; i < kColors.size(); ++i) {
        // The right edge from the unrounded left one, so that no gap opens between swatches.
        const double left = static_cast<double>(i) * w / 10.0;
        const int right = Round(left + w / 10.0);
        swatches.push_back({QRect(QPoint(Round(left), 0), QPoint(right - 1, h - 1)), kColors[i]});
    }
    return swatches;
}

std::int32_t LongerTimeSpan(std::int32_t viewWidth, std::int32_t frameCount) {
    if (viewWidth <= frameCount) {
        viewWidth = Round(viewWidth * kLongerSpanFactor);
    }
    return std::min(viewWidth, frameCount);
}

std::int32_t ShorterTimeSpan(std::int32_t viewWidth) {
    return viewWidth >= 4 ? Round(viewWidth * kShorterFactor) : viewWidth;
}

std::int32_t ShorterRows(std::int32_t rowHeight) { return std::max(1, Round(rowHeight * kShorterFactor)); }

std::int32_t LongerRows(std::int32_t rowHeight, std::int32_t gridHeight) {
    return gridHeight >= rowHeight ? Round(rowHeight * kLongerRowFactor + 0.5) : rowHeight;
}

TScalePane::TScalePane(Kind kind, QWidget* parent) : QWidget(parent), m_kind(kind) {}

void TScalePane::SetViewWidth(std::int32_t frames) {
    if (frames != m_viewWidth) {
        m_viewWidth = frames;
        update();
    }
}

void TScalePane::paintEvent(QPaintEvent* /*event*/) {
    switch (m_kind) {
        case Kind::HTime: HTimePaint(); break;
        case Kind::VLevel: VLevelPaint(); break;
        case Kind::VLevelRight: VLevelRightPaint(); break;
        case Kind::Gradation: GradationPaint(); break;
    }
    if (m_overlay) {
        QPainter painter(this);
        m_overlay(painter);
    }
}

void TScalePane::DrawLines(const std::vector<QLine>& lines) {
    QPainter painter(this);
    painter.setPen(QPen(Qt::black, 0));
    for (const QLine& line : lines) {
        painter.drawLine(line);
    }
}

void TScalePane::HTimePaint() {
    DrawLines(TimeScaleLines(width(), height(), m_viewWidth));
    DrawSecondLabels();
}

void TScalePane::SetViewStart(std::int32_t frame) {
    if (frame != m_viewStart) {
        m_viewStart = frame;
        update();
    }
}

void TScalePane::DrawSecondLabels() {
    QPainter painter(this);
    QFont small = font();
    small.setPixelSize(std::max(7, height() - 4));
    painter.setFont(small);
    for (const TimeLabel& label : SecondLabels(m_viewStart, m_viewWidth, width())) {
        const QString text = QString::fromStdString(label.Text);
        const QRect box = painter.boundingRect(QRect(label.X + 2, 0, kMinLabelPitch - 4, height()),
                                               Qt::AlignLeft | Qt::AlignBottom, text);
        // On the scale's own colour, so that the short ticks under the text do not cross it.
        painter.fillRect(box, palette().color(QPalette::Window));
        painter.drawText(box, Qt::AlignLeft | Qt::AlignBottom, text);
    }
}

void TScalePane::VLevelPaint() { DrawLines(LevelScaleLines(width(), height(), false)); }

void TScalePane::VLevelRightPaint() { DrawLines(LevelScaleLines(width(), height(), true)); }

void TScalePane::GradationPaint() {
    QPainter painter(this);
    for (const Swatch& swatch : GradationSwatches(width(), height())) {
        painter.fillRect(swatch.Rect, swatch.Color);
    }
}

}  // namespace ruvo
