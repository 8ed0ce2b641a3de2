#include "audio/MidiSender.h"

#include "platform/IMidiOut.h"

#include <QTimer>


namespace ruvo {

namespace {

// Notes start within this of their time; the receiving side adds its own period.
constexpr int kTickMs = 2;

}  // namespace

TMidiSender::TMidiSender(QObject* parent) : QObject(parent) {
    m_timer = new QTimer(this);  // owned by parent
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(kTickMs);
    connect(m_timer, &QTimer::timeout, this, &TMidiSender::SendDue);
}

bool TMidiSender::Start(IMidiOut& out, std::vector<TimedMidiMessage> events) {
    Stop();
    if (out.Open() != kMidiOpenOk) {
        return false;
    }
    m_out = &out;
    m_events = std::move(events);
    m_next = 0;
    m_before = 0;
    m_clock.start();
    m_timer->start();
    SendDue();
    return true;
}

qint64 TMidiSender::PlayedUSecs() const {
    if (m_out == nullptr) {
        return -1;
    }
    return m_before + (m_clock.isValid() ? m_clock.nsecsElapsed() / 1000 : 0);
}

void TMidiSender::SendDue() {
    if (m_out == nullptr || !m_clock.isValid()) {
        return;
    }
    const double now = static_cast<double>(PlayedUSecs()) / 1.0e6;
    for (; m_next < m_events.size() && m_events[m_next].Seconds <= now; ++m_next) {
        m_out->ShortMsg(m_events[m_next].Message);
    }
    if (m_next == m_events.size()) {
        Stop();
        emit OnFinished();
    }
}

void TMidiSender::Pause() {
    if (m_out == nullptr || !m_clock.isValid()) {
        return;
    }
    m_before = PlayedUSecs();
    m_clock.invalidate();
    m_timer->stop();
    m_out->Reset();
}

void TMidiSender::Resume() {
    if (m_out == nullptr || m_clock.isValid()) {
        return;
    }
    m_clock.start();
    m_timer->start();
}

void TMidiSender::Stop() {
    m_timer->stop();
    m_clock.invalidate();
    if (m_out != nullptr) {
        m_out->Reset();
        m_out->Close();
        m_out = nullptr;
    }
}

}  // namespace ruvo
