#pragma once
// TMediaPlayer: plays one file through a TEnhWaveOut, the way the player window uses a media
// control: a WAV file as its own samples (8-bit unsigned or 16-bit signed, mono or stereo, at
// its own rate), a MIDI file rendered by FluidSynth as it plays. Sound is read or rendered
// ahead in short chunks, so the first sound comes at once and a long file never waits for
// the whole of it. OnNotify(nvSuccessful) comes once the last chunk has been played, not
// when it was handed over; OnNotify(nvFailure) when the device stops or goes during playback.
// With a MIDI output set (SetMidiOut), a MIDI file is sent to it instead of being rendered.
// Owned by the player window (Qt parent); UI thread only.

#include "platform/qt/FluidSynth.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <fstream>
#include <memory>
#include <vector>

namespace ruvo {

class IMidiOut;
class TEnhWaveOut;
class TMidiSender;
struct TimedMidiMessage;

enum class TMPDeviceTypes : std::uint8_t { dtWaveAudio, dtSequencer };
enum class TMPNotifyValues : std::uint8_t { nvSuccessful, nvSuperseded, nvAborted, nvFailure };

// Error codes of the player; 0 is success.
constexpr std::int32_t kMediaNoError = 0;
constexpr std::int32_t kMediaNoDevice = 1;
constexpr std::int32_t kMediaCannotOpenFile = 2;
constexpr std::int32_t kMediaBadFormat = 3;
constexpr std::int32_t kMediaNoSynth = 4;
constexpr std::int32_t kMediaNotOpen = 5;

class TMediaPlayer : public QObject {
    Q_OBJECT

public:
    explicit TMediaPlayer(QObject* parent = nullptr);
    ~TMediaPlayer() override;

    const QString& FileName() const { return m_fileName; }
    void SetFileName(const QString& name) { m_fileName = name; }
    TMPDeviceTypes DeviceType() const { return m_deviceType; }
    void SetDeviceType(TMPDeviceTypes type) { m_deviceType = type; }

    // Opens FileName as DeviceType; false with Error() and ErrorMessage().
    bool Open();
    bool Play();
    // Pauses, or resumes when paused.
    void Pause();
    void Stop();
    void Close();
    bool IsOpen() const { return m_open; }
    bool Playing() const { return m_playing; }
    bool Paused() const;
    // Microseconds of the file heard since Play; -1 when nothing plays.
    qint64 PlayedUSecs() const;
    std::int32_t Error() const { return m_error; }
    const QString& ErrorMessage() const { return m_errorMessage; }

    // Starts loading the soundfont in the background, so that the first MIDI file starts
    // without that delay (Open waits for a load under way).
    void Preload() { m_synth.LoadInBackground(this, {}); }
    // Whether a sound output exists now; a sequencer also needs the soundfont.
    static bool OutputAvailable();
    // Where a MIDI file goes instead of the synthesizer (nullptr: the synthesizer). A change
    // during such a playback ends it with nvFailure.
    void SetMidiOut(IMidiOut* out);

signals:
    void OnNotify(TMPNotifyValues value);

private:
    bool Fail(std::int32_t code, const QString& message);
    bool OpenWave();
    bool OpenSequencer();
    // Keeps a few chunks queued ahead of the device.
    void Feed();
    void BufferDone();
    void OutputFailed();
    bool OpenSender();
    void SenderFinished();

    QString m_fileName;
    TMPDeviceTypes m_deviceType = TMPDeviceTypes::dtWaveAudio;
    TEnhWaveOut* m_out = nullptr;  // owned by parent
    FluidSynth m_synth;
    std::ifstream m_wave;
    std::int64_t m_waveLeft = 0;   // data bytes not yet read
    std::int64_t m_chunkBytes = 0;
    std::int64_t m_tailFrames = 0;  // frames rendered after the MIDI file's last event
    std::int64_t m_soundBuffers = 0;  // buffers of the file's sound written since Play
    std::int64_t m_doneBuffers = 0;   // buffers played since Play
    std::int32_t m_error = kMediaNoError;
    QString m_errorMessage;
    bool m_open = false;
    bool m_playing = false;
    bool m_sourceDone = false;
    IMidiOut* m_midiOut = nullptr;
    TMidiSender* m_sender = nullptr;  // owned by parent
    std::vector<TimedMidiMessage> m_midiEvents;
    bool m_viaSender = false;  // the open file is sent to m_midiOut
};

}  // namespace ruvo
