#include "app/Playhead.h"

#include "app/DocumentPipeline.h"
#include "audio/play.h"
#include "panes/PaintBox.h"
#include "panes/PlayheadPosition.h"
#include "panes/StrCGrid.h"

#include <QWidget>

#include <cmath>

namespace ruvo {
namespace {

constexpr int kFollowMs = 30;  // 33 moves a second while playing, 20 on a busy machine
constexpr int kIdleMs = 200;   // how soon a start of the player is noticed

QWidget* MakeLine(QWidget* parent) {
    auto* line = new QWidget(parent);  // owned by parent
    line->setObjectName(QStringLiteral("Playhead"));
    line->setAttribute(Qt::WA_TransparentForMouseEvents);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, Qt::red);
    line->setPalette(palette);
    line->hide();
    return line;
}

}  // namespace

TPlayhead::TPlayhead(TPlayer& player, DocumentPipeline& pipeline, TPaintBox& wave, TStrColGrid& grid,
                     QObject* parent)
    : QObject(parent), m_player(player), m_pipeline(pipeline), m_wave(wave), m_grid(grid) {
    m_waveLine = MakeLine(&wave);
    m_gridLine = MakeLine(grid.viewport());
    connect(&m_timer, &QTimer::timeout, this, &TPlayhead::Follow);
    m_timer.start(kIdleMs);
}

void TPlayhead::Stop() {
    m_stopped = true;
    m_timer.stop();
}

void TPlayhead::Follow() {
    if (m_stopped) {
        return;
    }
    const double seconds = m_player.PlayedSeconds();
    if (seconds < 0.0 || !m_pipeline.HasDocument()) {
        m_waveLine->hide();
        m_gridLine->hide();
        m_shownFrame = -1.0;
        m_timer.setInterval(kIdleMs);
        return;
    }
    m_timer.setInterval(kFollowMs);
    const WavHead& doc = m_pipeline.Doc;
    m_shownFrame = HeardFrame(m_player.Record().SelStart, seconds);
    const int waveX = WaveformX(doc, m_shownFrame, m_wave.width());
    m_waveLine->setGeometry(waveX, 0, 2, m_wave.height());
    m_waveLine->setVisible(waveX >= 0 && waveX < m_wave.width());
    const auto column = static_cast<std::int32_t>(std::floor(m_shownFrame));
    const QRect cell = m_grid.CellRect(column, m_grid.TopRow());
    if (cell.isEmpty()) {
        m_gridLine->hide();
        return;
    }
    const int gridX = cell.left() + static_cast<int>((m_shownFrame - column) * cell.width());
    m_gridLine->setGeometry(gridX, 0, 2, m_grid.viewport()->height());
    m_gridLine->show();
    m_gridLine->raise();
    m_waveLine->raise();
}

}  // namespace ruvo
