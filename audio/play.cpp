#include "audio/play.h"

#include "platform/qt/PathConvert.h"

#include <QFrame>
#include <QRadioButton>
#include <QStyle>
#include <QToolButton>

namespace ruvo {

namespace {

constexpr int kClientWidth = 219;
constexpr int kClientHeight = 122;

QToolButton* MakeButton(QWidget* parent, QStyle::StandardPixmap icon, const QString& hint, int left, int top) {
    auto* button = new QToolButton(parent);  // owned by parent
    button->setIcon(parent->style()->standardIcon(icon));
    button->setToolTip(hint);
    button->setGeometry(left, top, 25, 25);
    button->setEnabled(false);
    return button;
}

}  // namespace

TPlayer::TPlayer(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("Player"));
    setWindowTitle(QStringLiteral("Player"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    setFixedSize(kClientWidth, kClientHeight);

    m_wave = new QFrame(this);  // owned by parent
    m_wave->setObjectName(QStringLiteral("wave"));
    m_wave->setFrameShape(QFrame::Panel);
    m_wave->setFrameShadow(QFrame::Sunken);
    m_wave->setGeometry(8, 8, 121, 62);

    m_play = MakeButton(this, QStyle::SP_MediaPlay, QStringLiteral("Play"), 8, 88);
    m_play->setObjectName(QStringLiteral("Play"));
    m_pause = MakeButton(this, QStyle::SP_MediaPause, QStringLiteral("Pause"), 40, 88);
    m_pause->setObjectName(QStringLiteral("Pause"));
    m_stop = MakeButton(this, QStyle::SP_MediaStop, QStringLiteral("Stop"), 72, 88);
    m_stop->setObjectName(QStringLiteral("Stop"));
    m_rec = MakeButton(this, QStyle::SP_DialogYesButton, QStringLiteral("Record"), 104, 88);
    m_rec->setObjectName(QStringLiteral("Rec"));

    m_wav = new QRadioButton(QStringLiteral("Wav"), this);  // owned by parent
    m_wav->setObjectName(QStringLiteral("Wav"));
    m_wav->setToolTip(QStringLiteral("Play wav file"));
    m_wav->setGeometry(144, 16, 64, 20);
    m_wav->setEnabled(false);
    m_midi = new QRadioButton(QStringLiteral("Midi"), this);  // owned by parent
    m_midi->setObjectName(QStringLiteral("Midi"));
    m_midi->setToolTip(QStringLiteral("Play Midi data"));
    m_midi->setGeometry(144, 44, 64, 20);
    m_midi->setEnabled(false);
}

void TPlayer::SetRecord(const WavHead& record) {
    m_record = record;
    setWindowTitle(QStringLiteral("Player-") + FileNameFromEngine(m_record.FileName));
    if (!m_initialised) {
        m_initialised = true;
        m_wav->setChecked(true);
        m_midi->setChecked(false);
    }
}

}  // namespace ruvo
