#include "platform/qt/FluidMidiOut.h"

#include "platform/qt/PushSink.h"

#include <QAudioFormat>
#include <QTimer>

namespace ruvo {

namespace {

constexpr int kBufferMs = 20;
// A released note rings on; the sink keeps playing that long after Close.
constexpr int kTailMs = 2000;
// A soundfont that takes longer than this to load is announced in the status bar.
constexpr int kLoadingNoticeMs = 500;

}  // namespace

FluidMidiOut::FluidMidiOut(QObject* parent) : QObject(parent) {
    m_sink = new PushSink(this);  // owned by parent
    m_idleTimer = new QTimer(this);  // owned by parent
    m_idleTimer->setSingleShot(true);
    m_idleTimer->setInterval(kTailMs);
    connect(m_idleTimer, &QTimer::timeout, this, &FluidMidiOut::StopWhenIdle);
}

FluidMidiOut::~FluidMidiOut() = default;

void FluidMidiOut::Preload() {
    if (m_synth.Loaded() || m_synth.Loading()) {
        return;
    }
    m_synth.LoadInBackground(this, [this] { SoundFontReady(); });
    QTimer::singleShot(kLoadingNoticeMs, this, [this] {
        m_loadingNoticed = m_synth.Loading();
        if (m_loadingNoticed) {
            emit OnStatusChanged();
        }
    });
}

void FluidMidiOut::SoundFontReady() {
    if (m_open && m_synth.Loaded()) {
        for (const std::uint32_t message : m_waiting) {
            m_synth.ShortMsg(message);
        }
    }
    m_waiting.clear();
    emit OnStatusChanged();
}

std::string FluidMidiOut::Unavailable() const {
    if (!PushSink::OutputAvailable()) {
        return "No sound output device: the keyboard is silent.";
    }
    if (m_synth.Loading() && m_loadingNoticed) {
        return "Loading the sounds...";
    }
    if (!m_synth.Loaded() && FluidSynth::FindSoundFont().empty()) {
        return "No General MIDI soundfont (timgm6mb-soundfont): the keyboard is silent.";
    }
    if (!m_synth.Loaded() && !m_synth.Loading() && !m_synth.LastError().isEmpty()) {
        return m_synth.LastError().toStdString();
    }
    return {};
}

std::int32_t FluidMidiOut::Open() {
    if (m_open) {
        return kMidiAllocated;
    }
    if (!PushSink::OutputAvailable()) {
        return kMidiNoDevice;
    }
    // A load that failed is not tried again at every key.
    if (m_synth.LastError().isEmpty()) {
        Preload();
    }
    if (!m_synth.Loaded() && !m_synth.Loading()) {
        return kMidiNoMap;
    }
    m_idleTimer->stop();
    if (!m_sink->Active()) {
        QAudioFormat format;
        format.setSampleRate(FluidSynth::kSampleRate);
        format.setChannelCount(FluidSynth::kChannels);
        format.setSampleFormat(QAudioFormat::Int16);
        if (!m_sink->Start(format, kBufferMs, [this](char* data, qint64 maxBytes) { return Fill(data, maxBytes); })) {
            return kMidiOpenFailed;
        }
    }
    m_open = true;
    return kMidiOpenOk;
}

void FluidMidiOut::Reset() {
    if (m_open) {
        m_waiting.clear();
        m_synth.AllNotesOff();
    }
}

void FluidMidiOut::ShortMsg(std::uint32_t message) {
    if (!m_open) {
        return;
    }
    if (m_synth.Loading()) {
        m_waiting.push_back(message);
        return;
    }
    m_synth.ShortMsg(message);
}

void FluidMidiOut::Close() {
    if (!m_open) {
        return;
    }
    // A key released before the soundfont came in is not played afterwards.
    m_waiting.clear();
    m_open = false;
    m_idleTimer->start();
}

int FluidMidiOut::BufferMs() const {
    constexpr qint64 kBytesPerMs = qint64{FluidSynth::kSampleRate} * FluidSynth::kChannels * 2 / 1000;
    return static_cast<int>(m_sink->BufferBytes() / kBytesPerMs);
}

qint64 FluidMidiOut::Fill(char* data, qint64 maxBytes) {
    constexpr qint64 kFrameBytes = qint64{FluidSynth::kChannels} * 2;
    const qint64 frames = maxBytes / kFrameBytes;
    m_synth.Render(reinterpret_cast<std::int16_t*>(data), static_cast<int>(frames));
    return frames * kFrameBytes;
}

void FluidMidiOut::StopWhenIdle() {
    if (!m_open) {
        m_synth.AllNotesOff();
        m_sink->Stop();
    }
}

}  // namespace ruvo
