#include "platform/qt/PushSink.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QMediaDevices>
#include <QTimer>

#include <pulse/context.h>
#include <pulse/mainloop.h>

#include <algorithm>
#include <chrono>
#include <memory>

namespace ruvo {

namespace {

constexpr int kFeedPeriodMs = 4;
// A sink whose clock stands this long while it has sound to play has lost its device.
constexpr qint64 kStallMs = 3000;
// Feeds further apart than this (a busy machine) say nothing about the sink's clock.
constexpr qint64 kFeedGapMs = 500;
constexpr qint64 kServerProbeMs = 1000;
constexpr auto kServerAnswerTime = std::chrono::milliseconds(1000);

// Connects to the sound server as Qt's sound system would (the same address, the same
// permission to start one), and disconnects again.
bool SoundServerAnswers() {
    const std::unique_ptr<pa_mainloop, void (*)(pa_mainloop*)> loop(pa_mainloop_new(), pa_mainloop_free);
    if (!loop) {
        return false;
    }
    const std::unique_ptr<pa_context, void (*)(pa_context*)> context(
        pa_context_new(pa_mainloop_get_api(loop.get()), "ruvo"), pa_context_unref);
    if (!context || pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kServerAnswerTime;
    bool ready = false;
    while (std::chrono::steady_clock::now() < deadline) {
        const pa_context_state_t state = pa_context_get_state(context.get());
        ready = state == PA_CONTEXT_READY;
        if (ready || !PA_CONTEXT_IS_GOOD(state)) {
            break;
        }
        if (pa_mainloop_prepare(loop.get(), 50000) < 0 || pa_mainloop_poll(loop.get()) < 0 ||
            pa_mainloop_dispatch(loop.get()) < 0) {
            break;
        }
    }
    pa_context_disconnect(context.get());
    return ready;
}

}  // namespace

bool PushSink::ServerUp() {
    static bool up = false;
    static QElapsedTimer sinceProbe;
    if (!up && (!sinceProbe.isValid() || sinceProbe.elapsed() >= kServerProbeMs)) {
        up = SoundServerAnswers();
        sinceProbe.start();
    }
    return up;
}

PushSink::PushSink(QObject* parent) : QObject(parent) {
    m_timer = new QTimer(this);  // owned by parent
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(kFeedPeriodMs);
    connect(m_timer, &QTimer::timeout, this, &PushSink::Feed);
}

PushSink::~PushSink() { Stop(); }

QAudioDevice PushSink::DefaultOutput() {
    if (!ServerUp()) {
        return {};
    }
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (!device.isNull()) {
        return device;
    }
    const QList<QAudioDevice> all = QMediaDevices::audioOutputs();
    return all.isEmpty() ? QAudioDevice() : all.constFirst();
}

QAudioDevice PushSink::DefaultInput() {
    if (!ServerUp()) {
        return {};
    }
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
    m_lastPlayed = -1;
    m_sinceFeed.invalidate();
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
        m_lastPlayed = -1;
        m_sink->resume();
    }
}

void PushSink::SourceEnded() { m_sourceEnded = true; }

qint64 PushSink::PlayedUSecs() const { return m_sink ? m_sink->processedUSecs() : 0; }

qint64 PushSink::BufferBytes() const { return m_sink ? m_sink->bufferSize() : 0; }

bool PushSink::Lost() {
    if ((m_sink->state() == QAudio::StoppedState && m_sink->error() != QAudio::NoError) || m_sink->bytesFree() < 0) {
        return true;
    }
    const qint64 played = m_sink->processedUSecs();
    const bool fedLately = m_sinceFeed.isValid() && m_sinceFeed.elapsed() < kFeedGapMs;
    m_sinceFeed.start();
    // Only a sink that holds sound it has not played can stand still.
    const bool holdsSound = m_sink->bytesFree() < m_sink->bufferSize();
    if (played != m_lastPlayed || !fedLately || !holdsSound) {
        m_lastPlayed = played;
        m_sinceProgress.start();
        return false;
    }
    return m_sinceProgress.elapsed() >= kStallMs;
}

void PushSink::Feed() {
    if (!m_sink || m_io == nullptr || m_suspended) {
        return;
    }
    if (Lost()) {
        Stop();
        m_lastError = QStringLiteral("Playback stopped: the sound output device was lost.");
        emit OnFailed();
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
