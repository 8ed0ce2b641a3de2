#include "audio/EnhWave.h"

#include "platform/qt/PushSink.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QMediaDevices>
#include <QTimer>

#include <algorithm>
#include <cstring>

namespace ruvo {

namespace {

constexpr int kDoneCheckMs = 10;

// The device a TEWDev names, or a null device when there is none.
QAudioDevice ChosenDevice(TEWDev device, bool input) {
    if (device == TEWDev::wvMapper) {
        return input ? PushSink::DefaultInput() : PushSink::DefaultOutput();
    }
    const QList<QAudioDevice> devices = input ? QMediaDevices::audioInputs() : QMediaDevices::audioOutputs();
    const auto index = static_cast<qsizetype>(device) - static_cast<qsizetype>(TEWDev::wvDevice0);
    return index < devices.size() ? devices.at(index) : QAudioDevice();
}

}  // namespace

QAudioFormat PcmFormat(std::int32_t channels, std::int32_t samples, std::int32_t sampleBits) {
    QAudioFormat format;
    format.setChannelCount(channels);
    format.setSampleRate(samples);
    format.setSampleFormat(sampleBits == 8 ? QAudioFormat::UInt8 : QAudioFormat::Int16);
    return format;
}

// ---- TEnhWaveIn -----------------------------------------------------------------------------

TEnhWaveIn::TEnhWaveIn(QObject* parent) : QObject(parent) {}

TEnhWaveIn::~TEnhWaveIn() { Close(); }

bool TEnhWaveIn::SetMaxBuffers(std::int32_t value) {
    if (value < kMinWaveInBuffers || value > kMaxWaveInBuffers) {
        return false;
    }
    m_maxBuffers = value;
    return true;
}

bool TEnhWaveIn::SetBufferSize(std::int32_t value) {
    if (value < kMinWaveInBufferSize) {
        return false;
    }
    m_bufferSize = value;
    return true;
}

bool TEnhWaveIn::Open() {
    Close();
    const QAudioDevice device = ChosenDevice(m_device, true);
    const QAudioFormat format = PcmFormat(m_channels, m_samples, m_sampleBits);
    if (device.isNull() || !device.isFormatSupported(format)) {
        return false;
    }
    m_source = std::make_unique<QAudioSource>(device, format);
    m_open = true;
    m_deviceId = device.id();
    m_io = m_source->start();
    m_recording = m_io != nullptr && m_source->error() == QAudio::NoError;
    if (!m_recording) {
        m_io = nullptr;
        return false;
    }
    // The ring: allocated once per open and reused for every delivery.
    m_buffers.assign(static_cast<std::size_t>(m_maxBuffers), std::vector<char>(static_cast<std::size_t>(m_bufferSize)));
    m_nextBuffer = 0;
    m_pending.clear();
    connect(m_io, &QIODevice::readyRead, this, &TEnhWaveIn::ReadyRead);
    QTimer::singleShot(0, this, [this] {
        if (m_recording) {
            emit OnOpen();
        }
    });
    return true;
}

void TEnhWaveIn::ReadyRead() {
    if (!m_recording || m_io == nullptr) {
        return;
    }
    const QByteArray arrived = m_io->readAll();
    if (!arrived.isEmpty()) emit OnArrived(arrived.constData(), static_cast<std::int32_t>(arrived.size()));
    m_pending += arrived;
    const auto size = static_cast<qsizetype>(m_bufferSize);
    qsizetype used = 0;
    while (m_pending.size() - used >= size && m_recording) {
        std::vector<char>& buffer = m_buffers[m_nextBuffer];
        std::memcpy(buffer.data(), m_pending.constData() + used, static_cast<std::size_t>(size));
        used += size;
        m_nextBuffer = (m_nextBuffer + 1) % m_buffers.size();
        emit OnData(buffer.data(), m_bufferSize);
    }
    m_pending.remove(0, used);
}

void TEnhWaveIn::Close() {
    const bool wasOpen = m_open;
    if (m_recording) {
        m_recording = false;
        if (m_io != nullptr) {
            disconnect(m_io, nullptr, this, nullptr);
        }
        m_source->stop();
    }
    m_io = nullptr;
    m_source.reset();
    m_buffers.clear();
    m_pending.clear();
    m_open = false;
    m_deviceId.clear();
    if (wasOpen) {
        emit OnClose();
    }
}

// ---- TEnhWaveOut ----------------------------------------------------------------------------

TEnhWaveOut::TEnhWaveOut(QObject* parent) : QObject(parent) {
    m_sink = new PushSink(this);  // owned by parent
    m_doneTimer = new QTimer(this);  // owned by parent
    m_doneTimer->setInterval(kDoneCheckMs);
    connect(m_doneTimer, &QTimer::timeout, this, &TEnhWaveOut::CheckDone);
    connect(m_sink, &PushSink::OnFailed, this, [this] {
        m_lastError = m_sink->LastError();
        Close();
        emit OnFailed();
    });
}

TEnhWaveOut::~TEnhWaveOut() {
    // No signals to an owner that is being destroyed.
    blockSignals(true);
    Close();
}

bool TEnhWaveOut::Open(int bufferMs) {
    Close();
    const QAudioDevice device = ChosenDevice(m_device, false);
    if (device.isNull()) {
        m_lastError = QStringLiteral("No sound output device.");
        return false;
    }
    m_format = PcmFormat(m_channels, m_samples, m_sampleBits);
    m_handedBytes = 0;
    if (!m_sink->Start(m_format, bufferMs, [this](char* data, qint64 maxBytes) { return Fill(data, maxBytes); }, device)) {
        m_lastError = m_sink->LastError();
        return false;
    }
    m_open = true;
    m_paused = false;
    m_deviceId = device.id();
    m_doneTimer->start();
    QTimer::singleShot(0, this, [this] {
        if (m_open) {
            emit OnOpen();
        }
    });
    return true;
}

bool TEnhWaveOut::Write(const char* data, std::int32_t size) {
    if (!m_open || size <= 0) {
        return Playing();
    }
    auto header = std::make_unique<Header>();
    header->Data.assign(data, data + size);
    m_queue.push_back(std::move(header));
    return Playing();
}

bool TEnhWaveOut::ReleaseBuffer(const Header* header) {
    const auto found =
        std::find_if(m_queue.begin(), m_queue.end(), [header](const std::unique_ptr<Header>& h) { return h.get() == header; });
    if (found != m_queue.end()) {
        m_queue.erase(found);
    }
    return Playing();
}

qint64 TEnhWaveOut::Fill(char* data, qint64 maxBytes) {
    qint64 filled = 0;
    for (const std::unique_ptr<Header>& header : m_queue) {
        if (filled >= maxBytes) {
            break;
        }
        const std::size_t left = header->Data.size() - header->Handed;
        if (left == 0) {
            continue;
        }
        const auto take = static_cast<std::size_t>(std::min<qint64>(maxBytes - filled, static_cast<qint64>(left)));
        std::memcpy(data + filled, header->Data.data() + header->Handed, take);
        header->Handed += take;
        filled += static_cast<qint64>(take);
        m_handedBytes += static_cast<qint64>(take);
        if (header->Handed == header->Data.size()) {
            header->EndUSecs = m_handedBytes * 1000000 / std::max<qint64>(1, m_format.bytesForDuration(1000000));
        }
    }
    return filled;
}

qint64 TEnhWaveOut::PlayedUSecs() const { return m_open && m_sink != nullptr ? m_sink->PlayedUSecs() : 0; }

void TEnhWaveOut::CheckDone() {
    // The buffers leave in order, each once the device clock has passed its last byte.
    const qint64 played = m_sink->PlayedUSecs();
    while (!m_queue.empty()) {
        const Header* head = m_queue.front().get();
        if (head->Handed < head->Data.size() || head->EndUSecs > played) {
            break;
        }
        ReleaseBuffer(head);
        emit OnDone();
        if (!m_open) {
            return;
        }
    }
}

void TEnhWaveOut::Pause() {
    if (m_open && !m_paused) {
        m_paused = true;
        m_sink->Suspend();
    }
}

void TEnhWaveOut::Resume() {
    if (m_open && m_paused) {
        m_paused = false;
        m_sink->Resume();
    }
}

void TEnhWaveOut::Close() {
    m_doneTimer->stop();
    m_sink->Stop();
    m_queue.clear();
    const bool wasOpen = m_open;
    m_open = false;
    m_paused = false;
    m_deviceId.clear();
    if (wasOpen) {
        emit OnClose();
    }
}

}  // namespace ruvo
