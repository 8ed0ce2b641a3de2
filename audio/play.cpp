#include "audio/play.h"

#include "audio/EnhWave.h"
#include "audio/MediaPlayer.h"
#include "audio/PlayerFiles.h"
#include "engine/EngineHost.h"
#include "engine/FileIoError.h"
#include "engine/UFile.h"
#include "platform/qt/FluidSynth.h"
#include "platform/qt/PathConvert.h"
#include "platform/qt/PushSink.h"

#include <QApplication>
#include <QAudioDevice>
#include <QLabel>
#include <QMediaDevices>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

namespace ruvo {

namespace {

constexpr int kClientWidth = 219;
constexpr int kClientHeight = 122;
constexpr int kDevicePollMs = 2000;
constexpr std::int32_t kWaveInBuffers = 3;
constexpr std::int32_t kWaveInBufferSize = 8820;  // 0.2 s of 16-bit mono at 22050 Hz

enum class Glyph : std::uint8_t { Play, Pause, Stop, Rec };

QPixmap DrawGlyph(Glyph glyph, const QColor& color) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    switch (glyph) {
    case Glyph::Play: {
        QPainterPath path;
        path.moveTo(4, 2);
        path.lineTo(14, 8);
        path.lineTo(4, 14);
        path.closeSubpath();
        painter.drawPath(path);
        break;
    }
    case Glyph::Pause:
        painter.drawRect(3, 2, 4, 12);
        painter.drawRect(9, 2, 4, 12);
        break;
    case Glyph::Stop:
        painter.drawRect(3, 3, 10, 10);
        break;
    case Glyph::Rec:
        painter.drawEllipse(QRectF(2.5, 2.5, 11, 11));
        break;
    }
    return pixmap;
}

// Two images per button: the glyph, and a grey one for the disabled button.
QIcon GlyphIcon(Glyph glyph) {
    QIcon icon;
    const QColor color = glyph == Glyph::Rec ? QColor(220, 0, 0) : (glyph == Glyph::Play ? QColor(0, 128, 0) : Qt::black);
    icon.addPixmap(DrawGlyph(glyph, color), QIcon::Normal);
    icon.addPixmap(DrawGlyph(glyph, QColor(160, 160, 160)), QIcon::Disabled);
    return icon;
}

QToolButton* MakeButton(QWidget* parent, const char* name, Glyph glyph, const QString& hint, int left) {
    auto* button = new QToolButton(parent);  // owned by parent
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(GlyphIcon(glyph));
    button->setToolTip(hint);
    button->setGeometry(left, 88, 25, 25);
    button->setEnabled(false);
    return button;
}

void RemoveFile(const std::string& name) {
    if (!name.empty()) {
        std::error_code ignored;
        std::filesystem::remove(name, ignored);
    }
}

}  // namespace

// ---- TWaveTrace -----------------------------------------------------------------------------

TWaveTrace::TWaveTrace(QWidget* parent) : QWidget(parent) {}

void TWaveTrace::ShowBuffer(const char* bytes, std::int32_t size) {
    m_buffer.assign(bytes, bytes + size);
    update();
}

void TWaveTrace::Clear() {
    m_buffer.clear();
    update();
}

void TWaveTrace::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    const int w = width();
    const int h = height();
    const auto samples = static_cast<std::int64_t>(m_buffer.size() / 2);
    if (samples == 0 || w <= 0) {
        return;
    }
    painter.setPen(palette().color(QPalette::WindowText));
    for (int x = 0; x < w; ++x) {
        // Sample k of the buffer at column x; its high byte as a signed value.
        const auto k = static_cast<std::int64_t>(std::trunc(static_cast<double>(x) / w * static_cast<double>(samples)));
        const auto s = static_cast<std::int8_t>(m_buffer[static_cast<std::size_t>(2 * k + 1)]);
        const int y = h / 2 - static_cast<int>(std::nearbyint(s / 128.0 * h));
        painter.drawLine(x, h / 2, x, y);
    }
}

// ---- TPlayer --------------------------------------------------------------------------------

TPlayer::TPlayer(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("Player"));
    setWindowTitle(QStringLiteral("Player"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    setFixedSize(kClientWidth, kClientHeight);

    m_wave = new TWaveTrace(this);  // owned by parent
    m_wave->setObjectName(QStringLiteral("wave"));
    m_wave->setGeometry(8, 8, 121, 62);
    m_status = new QLabel(this);  // owned by parent
    m_status->setObjectName(QStringLiteral("SoundStatus"));
    m_status->setGeometry(8, 71, 203, 16);
    m_status->setWordWrap(false);
    QFont small = m_status->font();
    small.setPixelSize(10);
    m_status->setFont(small);

    m_play = MakeButton(this, "Play", Glyph::Play, QStringLiteral("Play"), 8);
    m_pause = MakeButton(this, "Pause", Glyph::Pause, QStringLiteral("Pause"), 40);
    m_stop = MakeButton(this, "Stop", Glyph::Stop, QStringLiteral("Stop"), 72);
    m_rec = MakeButton(this, "Rec", Glyph::Rec, QStringLiteral("Record"), 104);
    connect(m_play, &QToolButton::clicked, this, &TPlayer::PlayClick);
    connect(m_pause, &QToolButton::clicked, this, &TPlayer::PauseClick);
    connect(m_stop, &QToolButton::clicked, this, &TPlayer::StopClick);
    connect(m_rec, &QToolButton::clicked, this, &TPlayer::RecClick);

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
    // The soundfont takes a moment to load: it loads when MIDI is chosen, not at Play.
    connect(m_midi, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked) {
            m_mediaPlayer->Preload();
        }
        UpdateControls();
    });

    m_mediaPlayer = new TMediaPlayer(this);  // owned by parent
    m_mediaPlayer->setObjectName(QStringLiteral("MediaPlayer1"));
    connect(m_mediaPlayer, &TMediaPlayer::OnNotify, this, &TPlayer::MediaPlayer1Notify);

    m_waveIn = new TEnhWaveIn(this);  // owned by parent
    m_waveIn->setObjectName(QStringLiteral("WaveIn"));
    m_waveIn->SetSamples(kRecordingRate);
    m_waveIn->SetSampleBits(16);
    m_waveIn->SetChannels(1);
    (void)m_waveIn->SetMaxBuffers(kWaveInBuffers);
    (void)m_waveIn->SetBufferSize(kWaveInBufferSize);
    // The system's default input: the order in which devices are listed here says nothing.
    m_waveIn->SetDevice(TEWDev::wvMapper);
    connect(m_waveIn, &TEnhWaveIn::OnData, this, &TPlayer::WaveInData);

    m_waveOut = new TEnhWaveOut(this);  // owned by parent
    m_waveOut->setObjectName(QStringLiteral("WaveOut"));
    m_waveOut->SetSampleBits(16);
    m_waveOut->SetDevice(TEWDev::wvMapper);

    // Qt 6.4 lists a device that appears later but does not always say so, and a sound server
    // started later is found by PushSink alone: look again now and then.
    auto* poll = new QTimer(this);  // owned by parent
    poll->setInterval(kDevicePollMs);
    connect(poll, &QTimer::timeout, this, &TPlayer::UpdateSound);
    poll->start();
    UpdateSound();
}

TPlayer::~TPlayer() {
    // Closing during a playback or a recording: nothing is handed over; the files go.
    m_mediaPlayer->Close();
    DeletePlayFile();
    if (m_state == State::Recording) {
        DiscardRecording();
    }
}

bool TPlayer::IsRecording() const { return m_waveIn->Recording(); }

void TPlayer::UpdateSound() {
    // Watching Qt's devices connects its sound system to the server: only once there is one.
    if (m_devices == nullptr && PushSink::ServerUp()) {
        auto* devices = new QMediaDevices(this);  // owned by parent
        connect(devices, &QMediaDevices::audioOutputsChanged, this, &TPlayer::UpdateSound);
        connect(devices, &QMediaDevices::audioInputsChanged, this, &TPlayer::UpdateSound);
        m_devices = devices;
    }
    m_haveOutput = TMediaPlayer::OutputAvailable();
    m_haveInput = !PushSink::DefaultInput().isNull();
    // Once there, the soundfont stays; only a missing one is looked for again.
    m_haveSoundFont = m_haveSoundFont || !FluidSynth::FindSoundFont().empty();
    QStringList missing;
    if (!m_haveOutput) {
        missing << QStringLiteral("no sound output");
    }
    if (!m_haveInput) {
        missing << QStringLiteral("no sound input");
    }
    if (m_haveOutput && !m_haveSoundFont) {
        missing << QStringLiteral("no MIDI soundfont");
    }
    const QString status = missing.isEmpty() ? QString() : QStringLiteral("Player: ") + missing.join(QStringLiteral(", "));
    m_status->setText(status);
    m_status->setToolTip(status);
    m_status->setVisible(!status.isEmpty());
    UpdateControls();
    if (status != m_soundStatus) {
        m_soundStatus = status;
        emit OnSoundStatusChanged(status);
    }
}

void TPlayer::UpdateControls() {
    const bool idle = m_state == State::Idle;
    const bool haveFile = !m_record.FileName.empty();
    m_rec->setEnabled(idle && m_haveInput);
    m_play->setEnabled(idle && haveFile && (m_haveOutput || (m_external && m_midi->isChecked())));
    m_pause->setEnabled(m_state == State::Playing);
    m_stop->setEnabled(m_state != State::Idle);
    m_wav->setEnabled(haveFile && m_haveOutput);
    m_midi->setEnabled(haveFile && ((m_haveOutput && m_haveSoundFont) || m_external));
    if (!m_midi->isEnabled() && m_midi->isChecked()) {
        m_wav->setChecked(true);
    }
}

void TPlayer::SetState(State state) {
    m_state = state;
    UpdateControls();
}

void TPlayer::SetRecord(const WavHead& record, const std::string& shownName) {
    m_record = record;
    if (m_state != State::Recording) {
        setWindowTitle(QStringLiteral("Player-") +
                       FileNameFromEngine(shownName.empty() ? m_record.FileName : shownName));
    }
    if (!m_initialised) {
        m_initialised = true;
        m_wav->setChecked(true);
        m_midi->setChecked(false);
    }
    UpdateControls();
}

void TPlayer::DeletePlayFile() {
    RemoveFile(m_playFile);
    m_playFile.clear();
}

std::string TPlayer::MakePlayFile() {
    if (m_record.SelStart > m_record.SelEnd) {
        EngineHost().MessageBox(ExcerptMessage(kExcerptReversed));
        return {};
    }
    std::string name;
    if (m_wav->isChecked()) {
        GetTempName("Wat", name);
        if (name.empty()) {
            return {};
        }
        std::int32_t result = kExcerptEmpty;
        try {
            result = CutWavExcerpt(m_record, name);
        } catch (...) {
            RemoveFile(name);
            throw;
        }
        if (result != kExcerptDone) {
            RemoveFile(name);
            EngineHost().MessageBox(ExcerptMessage(result));
            return {};
        }
        return name;
    }
    // The note table has FrameCount columns: a selection past it plays what exists.
    const std::int32_t endCol = std::min(m_record.SelEnd, m_record.FrameCount);
    if (endCol <= m_record.SelStart) {
        EngineHost().MessageBox(ExcerptMessage(kExcerptEmpty));
        return {};
    }
    m_makeMidi.ConvMidi(kMidiToTempFile, m_record, m_record.SelStart, endCol, name);
    return name;
}

void TPlayer::PlayClick() {
    if (m_state != State::Idle || m_record.FileName.empty()) {
        return;
    }
    if (!m_haveOutput && !(m_external && m_midi->isChecked())) {
        EngineHost().MessageBox("No sound output device: nothing can be played.");
        return;
    }
    m_mediaPlayer->Close();
    DeletePlayFile();
    std::string name;
    try {
        name = MakePlayFile();
    } catch (const std::exception& error) {
        EngineHost().ErrorBox(error.what());
        return;
    }
    if (name.empty()) {
        return;
    }
    m_playFile = name;
    SetState(State::Playing);
    m_mediaPlayer->SetFileName(FileNameFromEngine(name));
    m_mediaPlayer->SetDeviceType(m_wav->isChecked() ? TMPDeviceTypes::dtWaveAudio : TMPDeviceTypes::dtSequencer);
    if (!m_mediaPlayer->Open() || !m_mediaPlayer->Play()) {
        // The buttons stay as they are: Stop ends it and deletes the file.
        EngineHost().MessageBox(
            QStringLiteral("ErrorCode: %1\n%2").arg(m_mediaPlayer->Error()).arg(m_mediaPlayer->ErrorMessage()).toStdString());
    }
}

void TPlayer::SetMidiOut(IMidiOut* out) {
    m_external = out != nullptr;
    m_mediaPlayer->SetMidiOut(out);
    UpdateControls();
}

double TPlayer::PlayedSeconds() const {
    const qint64 played = IsPlaying() ? m_mediaPlayer->PlayedUSecs() : -1;
    return played < 0 ? -1.0 : static_cast<double>(played) / 1.0e6;
}

void TPlayer::PauseClick() { m_mediaPlayer->Pause(); }

void TPlayer::StopClick() {
    const State was = m_state;
    SetState(State::Idle);
    if (!m_playFile.empty()) {
        m_mediaPlayer->Stop();
        m_mediaPlayer->Close();
        DeletePlayFile();
    }
    if (was == State::Recording) {
        FinishRecording();
    }
}

void TPlayer::FinishRecording() {
    if (!m_waveIn->Recording()) {
        DiscardRecording();
        return;
    }
    const std::string name = CloseTake();
    QApplication::processEvents();
    if (!name.empty()) {
        HandOver(name);
    }
}

std::string TPlayer::CloseTake() {
    m_waveIn->Close();
    m_recFile.close();
    setWindowTitle(QStringLiteral("Player"));
    m_wave->Clear();
    try {
        m_total = RepairRecordingHeader(m_recName);
    } catch (const std::exception& error) {
        DiscardRecording();
        EngineHost().ErrorBox(error.what());
        return {};
    }
    std::string name = std::move(m_recName);
    m_recName.clear();
    return name;
}

void TPlayer::HandOver(const std::string& name) {
    m_record.FileName = name;
    FillRecordingRecord(m_record, m_total);
    emit OnRecordingDone();
}

std::string TPlayer::TakeRecording() {
    if (m_state != State::Recording) {
        return {};
    }
    SetState(State::Idle);
    return CloseTake();
}

void TPlayer::DiscardTake() {
    if (m_state == State::Recording) {
        SetState(State::Idle);
        DiscardRecording();
    }
}

void TPlayer::StopOnWriteFailure() {
    if (m_state != State::Recording || m_writeError == 0) {
        return;
    }
    const std::string reason = std::strerror(m_writeError);
    SetState(State::Idle);
    const std::string name = CloseTake();
    if (name.empty()) {
        return;
    }
    HandOver(name);
    EngineHost().MessageBox("The recording stopped: " + reason + ". What was recorded is kept.");
}

void TPlayer::DiscardRecording() {
    m_waveIn->Close();
    m_recFile.close();
    RemoveFile(m_recName);
    m_recName.clear();
    m_wave->Clear();
    setWindowTitle(QStringLiteral("Player-") + FileNameFromEngine(m_record.FileName));
}

void TPlayer::RecClick() {
    if (m_state != State::Idle) {
        return;
    }
    if (!m_haveInput) {
        EngineHost().MessageBox("No sound input device: nothing can be recorded.");
        return;
    }
    std::string name;
    GetTempName("rwf", name);
    if (name.empty()) {
        return;
    }
    try {
        WriteRecordingHeader(name);
    } catch (const std::exception& error) {
        RemoveFile(name);
        EngineHost().ErrorBox(error.what());
        return;
    }
    m_recFile.open(name, std::ios::binary | std::ios::app);
    if (!m_recFile) {
        const FileIoError error(name, "open", std::strerror(errno));
        RemoveFile(name);
        EngineHost().ErrorBox(error.what());
        return;
    }
    m_recName = name;
    m_writeError = 0;
    m_total = 0;
    m_bufferCount = 0;
    SetState(State::Recording);
    if (!m_waveIn->Open()) {
        SetState(State::Idle);
        DiscardRecording();
        EngineHost().MessageBox("The sound input could not be started.");
    }
}

void TPlayer::WaveInData(const char* bytes, std::int32_t size) {
    // Partial buffers at the end of a recording are dropped.
    if (size != m_waveIn->BufferSize() || m_state != State::Recording || m_writeError != 0) {
        return;
    }
    // No more than a WAV header can announce.
    if (std::int64_t{m_total} + size > kMaxRecordingBytes) {
        m_writeError = EFBIG;
        QTimer::singleShot(0, this, &TPlayer::StopOnWriteFailure);
        return;
    }
    // Every buffer reaches the disk at once, so that a full disk is known while recording.
    errno = 0;
    m_recFile.write(bytes, size);
    m_recFile.flush();
    if (!m_recFile) {
        m_writeError = errno != 0 ? errno : EIO;
        // Not from inside the input's delivery: stopping closes the input.
        QTimer::singleShot(0, this, &TPlayer::StopOnWriteFailure);
        return;
    }
    m_total += size;
    // Echo is off: the output is never opened, so the hand-over is dropped (loudspeakers
    // next to the microphone would howl).
    (void)m_waveOut->Write(bytes, size);
    m_wave->ShowBuffer(bytes, size);
    if (m_bufferCount % 3 == 0) {
        setWindowTitle(windowTitle() == QStringLiteral("...NOW!") ? QStringLiteral("Recording...")
                                                                  : QStringLiteral("...NOW!"));
    }
    ++m_bufferCount;
    // Once a second.
    if (m_bufferCount % 5 == 1) {
        if (const std::int64_t left = RecordingSecondsLeft(m_recName); left < kRecordingSpaceWarningSeconds) {
            emit OnRecordingWarning(
                QStringLiteral("Less than a minute of space is left for the recording: %1 s.").arg(left));
        }
    }
}

void TPlayer::MediaPlayer1Notify(TMPNotifyValues value) {
    const bool ended = value == TMPNotifyValues::nvSuccessful || value == TMPNotifyValues::nvFailure;
    if (!ended || m_state != State::Playing) {
        return;
    }
    const QString failure = m_mediaPlayer->ErrorMessage();
    m_mediaPlayer->Close();
    DeletePlayFile();
    SetState(State::Idle);
    UpdateSound();
    if (value == TMPNotifyValues::nvFailure) {
        emit OnPlaybackFailed(failure);
        return;
    }
    emit OnPlaybackFinished();
}

}  // namespace ruvo
