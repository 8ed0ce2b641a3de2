#include "app/uTenpo4.h"

#include "engine/WavHead.h"

#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

namespace ruvo {

TTempo2::TTempo2(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("Tempo2"));
    setWindowTitle(QStringLiteral("Tempo2"));
    setFixedSize(225, 150);

    auto* frame = new QGroupBox(this);  // owned by parent
    frame->setGeometry(8, 8, 209, 97);
    m_fast = new QRadioButton(QStringLiteral("Fast"), frame);  // owned by parent
    m_fast->setObjectName(QStringLiteral("Fast"));
    m_fast->setGeometry(24, 12, 161, 21);
    m_medium = new QRadioButton(QStringLiteral("Medium"), frame);  // owned by parent
    m_medium->setObjectName(QStringLiteral("Medium"));
    m_medium->setGeometry(24, 38, 161, 21);
    m_slow = new QRadioButton(QStringLiteral("Slow"), frame);  // owned by parent
    m_slow->setObjectName(QStringLiteral("Slow"));
    m_slow->setGeometry(24, 64, 161, 21);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);  // owned by parent
    ok->setObjectName(QStringLiteral("OKBtn"));
    ok->setGeometry(30, 115, 75, 25);
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);  // owned by parent
    cancel->setObjectName(QStringLiteral("CancelBtn"));
    cancel->setGeometry(120, 115, 75, 25);
    connect(ok, &QPushButton::clicked, this, &TTempo2::OKBtnClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TTempo2::SetTempo(std::int32_t value) {
    *m_tempoChoice = value;
    for (QRadioButton* button : {m_fast, m_medium, m_slow}) {
        // Auto-exclusive buttons refuse to leave the group with none checked.
        button->setAutoExclusive(false);
        button->setChecked(false);
        button->setAutoExclusive(true);
    }
    if (value == kTempoFast) {
        m_fast->setChecked(true);
    } else if (value == kTempoMedium) {
        m_medium->setChecked(true);
    } else if (value == kTempoSlow) {
        m_slow->setChecked(true);
    }
}

void TTempo2::OKBtnClick() {
    if (m_fast->isChecked()) {
        *m_tempoChoice = kTempoFast;
    } else if (m_medium->isChecked()) {
        *m_tempoChoice = kTempoMedium;
    } else if (m_slow->isChecked()) {
        *m_tempoChoice = kTempoSlow;
    }
    accept();
}

void TTempo2::showEvent(QShowEvent* event) {
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        const QRect own = frameGeometry();
        move(area.center() - QPoint(own.width() / 2, own.height() / 2));
    }
    QDialog::showEvent(event);
}

}  // namespace ruvo
