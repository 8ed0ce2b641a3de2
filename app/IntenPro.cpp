#include "app/IntenPro.h"

#include "app/Placement.h"
#include "engine/Rounding.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace ruvo {

TIntenCalProgress::TIntenCalProgress(QWidget* anchor)
    : QDialog(anchor, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint),
      m_anchor(anchor) {
    setObjectName(QStringLiteral("IntenCalProgress"));
    setWindowTitle(QStringLiteral("Conversion..."));
    setModal(false);
    setFixedSize(281, 97);

    m_intProgress = new QProgressBar(this);  // owned by parent
    m_intProgress->setObjectName(QStringLiteral("IntProgress"));
    m_intProgress->setGeometry(16, 12, 249, 17);
    m_intProgress->setRange(0, 100);
    m_intProgress->setValue(0);
    m_intProgress->setTextVisible(false);

    m_percent = new QLabel(QStringLiteral("Percent"), this);  // owned by parent
    m_percent->setObjectName(QStringLiteral("Percent"));
    m_percent->setGeometry(16, 34, 249, 17);
    m_percent->setAlignment(Qt::AlignCenter);

    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);  // owned by parent
    m_cancel->setObjectName(QStringLiteral("Cancel"));
    m_cancel->setGeometry(103, 58, 75, 25);
    m_cancel->setDefault(true);
    connect(m_cancel, &QPushButton::clicked, this, &TIntenCalProgress::CancelClick);
}

std::int32_t TIntenCalProgress::StepFor(std::int32_t steps) {
    return static_cast<std::int32_t>(RoundToInt(100.0 / steps + 0.5));
}

std::int32_t TIntenCalProgress::Stepped(std::int32_t position, std::int32_t step, std::int32_t minimum,
                                        std::int32_t maximum) {
    const std::int32_t next = position + step;
    if (next <= maximum || maximum <= minimum) {
        return next;
    }
    return minimum + (next - minimum) % (maximum - minimum);
}

void TIntenCalProgress::ProgressStart(std::int32_t steps) {
    m_cancelRequested = 0;
    if (m_anchor != nullptr) {
        move(CentredOn(*this, *m_anchor));
    }
    m_intProgress->setRange(0, 100);
    m_intProgress->setValue(0);
    m_step = StepFor(steps);
}

void TIntenCalProgress::ProgressShow() { show(); }

void TIntenCalProgress::ProgressHide() { hide(); }

void TIntenCalProgress::ProgressStep() {
    const std::int32_t position =
        Stepped(m_intProgress->value(), m_step, m_intProgress->minimum(), m_intProgress->maximum());
    m_intProgress->setValue(position);
    m_percent->setText(QString::number(position) + QLatin1Char('%'));
    m_percent->repaint();
    QCoreApplication::processEvents();
}

void TIntenCalProgress::ProgressIdle() { QCoreApplication::processEvents(); }

void TIntenCalProgress::CancelClick() {
    m_cancelRequested = -1;
    m_intProgress->setValue(0);
    hide();
}

void TIntenCalProgress::reject() { CancelClick(); }

}  // namespace ruvo
