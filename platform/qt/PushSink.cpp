#include "platform/qt/PushSink.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QMediaDevices>
#include <QTimer>

#include <algorithm>

namespace ruvo {

namespace {

constexpr int kFeedPeriodMs = 4;

}  // namespace

PushSink::PushSink(QObject* parent) : QObject(parent) {
    m_timer = new QTimer(this);  // owned by parent
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(kFeedPeriodMs);
    connect(m_timer, &QTimer::timeout, this, &PushSink::Feed);
}

PushSink::~PushSink() { Stop(); }

QAudioDevice PushSink::DefaultOutput() {
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (!device.isNull()) {
        return device;
    }
    const QList<QAudioDevice> all = QMediaDevices::audioOutputs();
    return all.isEmpty() ? QAudioDevice() : all.constFirst();
}

QAudioDevice PushSink::DefaultInput() {
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (!device.isNull()) {
        return device;
    }
    const QList<QAudioDevice> all = QMediaDevices::audioInputs();
    return all.isEmpty() ? QAudioDevice() : all.constFirst();
}

bool PushSink::OutputAvailable() { return !DefaultOutput().isNull(); }

bool PushSink::Start(const QAudioFormat& format, int bufferMs, Fill fill, const QAudioDevice& chosen) {
    Stop();
    const QAudioDevice device = chosen.isNull() ? DefaultOutput() : chosen;
    if (device.isNull()) {
        m_lastError = QStringLiteral("No sound output device.");
        return false;
    }
    if (!device.isFormatSupported(format)) {
        m_lastError = QStringLiteral("The sound output does not play this format.");
        return false;
    }
    auto sink = std::make_unique<QAudioSink>(device, format);
    m_bytesPerSecond = format.bytesForDuration(1000000);
    sink->setBufferSize(std::max<qint64>(format.bytesForDuration(qint64{bufferMs} * 1000), format.bytesPerFrame()));
    QIODevice* io = sink->start();
    if (io == nullptr || sink->error() != QAudio::NoError) {
        m_lastError = QStringLiteral("The sound output could not be started.");
        return false;
    }
    m_sink = std::move(sink);
    m_io = io;
    m_fill = std::move(fill);
    m_written = 0;
    m_sourceEnded = false;
    m_suspended = false;
    m_lastError.clear();
    Feed();
    m_timer->start();
    return true;
}

void PushSink::Stop() {
    m_timer->stop();
    m_io = nullptr;
    if (m_sink) {
        m_sink->stop();
        m_sink.reset();
    }
    m_fill = nullptr;
    m_sourceEnded = false;
    m_suspended = false;
}

void PushSink::Suspend() {
    if (m_sink && !m_suspended) {
        m_suspended = true;
        m_sink->suspend();
    }
}

void PushSink::Resume() {
    if (m_sink && m_suspended) {
        m_suspended = false;
        m_sink->resume();
    }
}

void PushSink::SourceEnded() { m_sourceEnded = true; }

qint64 PushSink::PlayedUSecs() const { return m_sink ? m_sink->processedUSecs() : 0; }

qint64 PushSink::BufferBytes() const { return m_sink ? m_sink->bufferSize() : 0; }

void PushSink::Feed() {
    if (!m_sink || m_io == nullptr || m_suspended) {
        return;
    }
    const qint64 frameBytes = m_sink->format().bytesPerFrame();
    qint64 room = m_sink->bytesFree();
    room -= room % frameBytes;
    if (!m_sourceEnded && room > 0) {
        m_scratch.resize(static_cast<std::size_t>(room));
        const qint64 filled = m_fill ? m_fill(m_scratch.data(), room) : 0;
        if (filled < 0) {
            m_sourceEnded = true;
        } else if (filled > 0) {
            m_written += m_io->write(m_scratch.data(), filled);
        }
    }
    if (!m_sourceEnded) {
        return;
    }
    // Drained: the sink's buffer is empty again and the clock has passed what was written.
    const qint64 writtenUSecs = m_bytesPerSecond > 0 ? m_written * 1000000 / m_bytesPerSecond : 0;
    if (m_sink->bytesFree() >= m_sink->bufferSize() && m_sink->processedUSecs() >= writtenUSecs) {
        m_timer->stop();
        m_sourceEnded = false;
        emit OnDrained();
    }
}

}  // namespace ruvo
