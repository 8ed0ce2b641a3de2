#include "audio/MediaPlayer.h"

#include "audio/EnhWave.h"
#include "audio/MidiSender.h"
#include "platform/IMidiOut.h"
#include "platform/qt/PathConvert.h"
#include "platform/qt/PushSink.h"

#include <QTimer>

#include <algorithm>
#include <array>
#include <vector>

namespace ruvo {

namespace {

constexpr int kChunkMs = 50;
constexpr std::size_t kChunksAhead = 20;  // 1 s, beyond what the device holds
// The device's own buffer: a busy machine may leave the UI thread unscheduled for a while
// without a gap. Pause and Stop act on the device at once, so it adds no delay there.
constexpr int kDeviceBufferMs = 500;
// The last notes of a MIDI file ring on after its last event.
constexpr int kMidiTailMs = 600;

std::uint32_t Le(const unsigned char* at, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | at[i];
    }
    return value;
}

struct WaveLayout {
    std::int32_t Channels = 0;
    std::int32_t Rate = 0;
    std::int32_t Bits = 0;
    std::int64_t DataStart = 0;
    std::int64_t DataBytes = 0;
};

// Walks the RIFF chunks for "fmt " and "data"; false when the file is not such a WAV file.
bool ReadWaveLayout(std::ifstream& file, WaveLayout& layout) {
    std::array<unsigned char, 12> riff{};
    file.read(reinterpret_cast<char*>(riff.data()), riff.size());
    if (!file || std::string(riff.begin(), riff.begin() + 4) != "RIFF" ||
        std::string(riff.begin() + 8, riff.end()) != "WAVE") {
        return false;
    }
    file.seekg(0, std::ios::end);
    const std::int64_t fileBytes = file.tellg();
    std::int64_t at = 12;
    bool haveFormat = false;
    while (at + 8 <= fileBytes) {
        std::array<unsigned char, 8> head{};
        file.seekg(at);
        file.read(reinterpret_cast<char*>(head.data()), head.size());
        if (!file) {
            return false;
        }
        const std::string id(head.begin(), head.begin() + 4);
        const std::int64_t size = Le(head.data() + 4, 4);
        if (id == "fmt " && size >= 16) {
            std::array<unsigned char, 16> fmt{};
            file.read(reinterpret_cast<char*>(fmt.data()), fmt.size());
            if (!file) {
                return false;
            }
            layout.Channels = static_cast<std::int32_t>(Le(fmt.data() + 2, 2));
            layout.Rate = static_cast<std::int32_t>(Le(fmt.data() + 4, 4));
            layout.Bits = static_cast<std::int32_t>(Le(fmt.data() + 14, 2));
            haveFormat = true;
        } else if (id == "data") {
            layout.DataStart = at + 8;
            layout.DataBytes = std::min(size, fileBytes - layout.DataStart);
            return haveFormat;
        }
        at += 8 + size + (size % 2);
    }
    return false;
}

}  // namespace

TMediaPlayer::TMediaPlayer(QObject* parent) : QObject(parent) {
    m_out = new TEnhWaveOut(this);  // owned by parent
    connect(m_out, &TEnhWaveOut::OnDone, this, &TMediaPlayer::BufferDone);
    connect(m_out, &TEnhWaveOut::OnFailed, this, &TMediaPlayer::OutputFailed);
    m_sender = new TMidiSender(this);  // owned by parent
    connect(m_sender, &TMidiSender::OnFinished, this, &TMediaPlayer::SenderFinished);
}

TMediaPlayer::~TMediaPlayer() {
    blockSignals(true);
    Close();
}

bool TMediaPlayer::OutputAvailable() { return PushSink::OutputAvailable(); }

bool TMediaPlayer::Paused() const { return m_viaSender ? m_sender->Paused() : m_out->Paused(); }

void TMediaPlayer::SetMidiOut(IMidiOut* out) {
    if (out == m_midiOut) {
        return;
    }
    const bool cut = m_playing && m_viaSender;
    m_midiOut = out;
    if (cut) {
        Stop();
        (void)Fail(kMediaNoDevice, QStringLiteral("The MIDI output has changed: the playback stopped."));
        QTimer::singleShot(0, this, [this] { emit OnNotify(TMPNotifyValues::nvFailure); });
    }
}

bool TMediaPlayer::OpenSender() {
    std::string error;
    if (!ReadMidiFileEvents(ToPath(m_fileName), m_midiEvents, error)) {
        return Fail(kMediaCannotOpenFile, QString::fromStdString(error));
    }
    m_viaSender = true;
    m_open = true;
    return true;
}

void TMediaPlayer::SenderFinished() {
    m_playing = false;
    QTimer::singleShot(0, this, [this] { emit OnNotify(TMPNotifyValues::nvSuccessful); });
}

bool TMediaPlayer::Fail(std::int32_t code, const QString& message) {
    m_error = code;
    m_errorMessage = message;
    return false;
}

bool TMediaPlayer::Open() {
    Close();
    m_error = kMediaNoError;
    m_errorMessage.clear();
    if (m_deviceType == TMPDeviceTypes::dtSequencer && m_midiOut != nullptr) {
        return OpenSender();
    }
    if (!OutputAvailable()) {
        return Fail(kMediaNoDevice, QStringLiteral("No sound output device."));
    }
    const bool opened = m_deviceType == TMPDeviceTypes::dtWaveAudio ? OpenWave() : OpenSequencer();
    if (!opened) {
        m_wave.close();
        m_synth.StopFile();
        return false;
    }
    m_open = true;
    return true;
}

bool TMediaPlayer::OpenWave() {
    m_wave.open(ToPath(m_fileName), std::ios::binary);
    if (!m_wave) {
        return Fail(kMediaCannotOpenFile, QStringLiteral("The file %1 could not be opened.").arg(m_fileName));
    }
    WaveLayout layout;
    if (!ReadWaveLayout(m_wave, layout) || (layout.Bits != 8 && layout.Bits != 16) || layout.Channels < 1 ||
        layout.Channels > 2 || layout.Rate <= 0) {
        return Fail(kMediaBadFormat, QStringLiteral("The file %1 is not a WAV file that can be played.").arg(m_fileName));
    }
    m_wave.clear();
    m_wave.seekg(layout.DataStart);
    m_waveLeft = layout.DataBytes;
    m_out->SetChannels(layout.Channels);
    m_out->SetSamples(layout.Rate);
    m_out->SetSampleBits(layout.Bits);
    const std::int64_t frameBytes = std::int64_t{layout.Channels} * (layout.Bits / 8);
    m_chunkBytes = std::max<std::int64_t>(frameBytes, std::int64_t{layout.Rate} * kChunkMs / 1000 * frameBytes);
    return true;
}

bool TMediaPlayer::OpenSequencer() {
    if (!m_synth.Load()) {
        return Fail(kMediaNoSynth, m_synth.LastError());
    }
    if (!m_synth.StartFile(FileNameToEngine(m_fileName))) {
        return Fail(kMediaCannotOpenFile, m_synth.LastError());
    }
    m_out->SetChannels(FluidSynth::kChannels);
    m_out->SetSamples(FluidSynth::kSampleRate);
    m_out->SetSampleBits(16);
    m_chunkBytes = std::int64_t{FluidSynth::kSampleRate} * kChunkMs / 1000 * FluidSynth::kChannels * 2;
    m_tailFrames = std::int64_t{FluidSynth::kSampleRate} * kMidiTailMs / 1000;
    return true;
}

qint64 TMediaPlayer::PlayedUSecs() const {
    if (m_viaSender) {
        return m_playing ? m_sender->PlayedUSecs() : -1;
    }
    return m_playing && m_out->IsOpen() ? m_out->PlayedUSecs() : -1;
}

bool TMediaPlayer::Play() {
    if (!m_open) {
        return Fail(kMediaNotOpen, QStringLiteral("No file is open."));
    }
    if (m_playing) {
        m_viaSender ? m_sender->Resume() : m_out->Resume();
        return true;
    }
    if (m_viaSender) {
        if (!m_sender->Start(*m_midiOut, m_midiEvents)) {
            return Fail(kMediaNoDevice, QString::fromStdString(m_midiOut->Unavailable()));
        }
        m_playing = true;
        return true;
    }
    if (!m_out->Open(kDeviceBufferMs)) {
        return Fail(kMediaNoDevice, m_out->LastError());
    }
    m_playing = true;
    m_sourceDone = false;
    m_soundBuffers = 0;
    m_doneBuffers = 0;
    Feed();
    return true;
}

void TMediaPlayer::Feed() {
    std::vector<char> chunk;
    while (m_playing && !m_sourceDone && m_out->QueuedBuffers() < kChunksAhead) {
        chunk.resize(static_cast<std::size_t>(m_chunkBytes));
        std::int64_t got = 0;
        if (m_deviceType == TMPDeviceTypes::dtWaveAudio) {
            const std::int64_t want = std::min(m_chunkBytes, m_waveLeft);
            m_wave.read(chunk.data(), static_cast<std::streamsize>(want));
            got = m_wave.gcount();
            m_waveLeft -= got;
            m_sourceDone = got < m_chunkBytes || m_waveLeft <= 0;
        } else {
            constexpr std::int64_t kFrameBytes = FluidSynth::kChannels * 2;
            std::int64_t frames = m_chunkBytes / kFrameBytes;
            if (!m_synth.FilePlaying()) {
                frames = std::min(frames, m_tailFrames);
                m_tailFrames -= frames;
                m_sourceDone = m_tailFrames <= 0;
            }
            m_synth.Render(reinterpret_cast<std::int16_t*>(chunk.data()), static_cast<int>(frames));
            got = frames * kFrameBytes;
        }
        if (got > 0) {
            m_out->Write(chunk.data(), static_cast<std::int32_t>(got));
            ++m_soundBuffers;
        }
        if (m_sourceDone) {
            // The device starts playing once its buffer is full: silence after the end lets
            // a sound shorter than the buffer start too. It is cut off at the end.
            const qint64 silenceBytes = PcmFormat(m_out->Channels(), m_out->Samples(), m_out->SampleBits())
                                            .bytesForDuration(qint64{kDeviceBufferMs} * 1000);
            const char silence = m_out->SampleBits() == 8 ? '\x80' : '\0';
            const std::vector<char> pad(static_cast<std::size_t>(silenceBytes), silence);
            m_out->Write(pad.data(), static_cast<std::int32_t>(pad.size()));
        }
    }
}

void TMediaPlayer::BufferDone() {
    ++m_doneBuffers;
    Feed();
    if (m_playing && m_sourceDone && m_doneBuffers >= m_soundBuffers) {
        m_playing = false;
        m_out->Close();
        // After this handler: the owner may close or reopen the player in its slot.
        QTimer::singleShot(0, this, [this] { emit OnNotify(TMPNotifyValues::nvSuccessful); });
    }
}

void TMediaPlayer::OutputFailed() {
    if (!m_playing) {
        return;
    }
    m_playing = false;
    (void)Fail(kMediaNoDevice, m_out->LastError());
    QTimer::singleShot(0, this, [this] { emit OnNotify(TMPNotifyValues::nvFailure); });
}

void TMediaPlayer::Pause() {
    if (!m_playing) {
        return;
    }
    if (m_viaSender) {
        m_sender->Paused() ? m_sender->Resume() : m_sender->Pause();
        return;
    }
    if (m_out->Paused()) {
        m_out->Resume();
    } else {
        m_out->Pause();
    }
}

void TMediaPlayer::Stop() {
    if (m_playing) {
        m_playing = false;
        m_viaSender ? m_sender->Stop() : m_out->Close();
    }
}

void TMediaPlayer::Close() {
    Stop();
    m_wave.close();
    m_wave.clear();
    m_synth.StopFile();
    m_midiEvents.clear();
    m_viaSender = false;
    m_open = false;
}

}  // namespace ruvo
