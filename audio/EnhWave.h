#pragma once
// The wave devices: TEnhWaveIn records PCM from a sound input into a ring of MaxBuffers
// buffers of BufferSize bytes and hands each full buffer to OnData; TEnhWaveOut queues PCM
// buffers for a sound output and reports each one played through OnDone. Both run on the
// UI thread (Qt delivers the devices' data there) and take their property values at the
// next Open. Owned by the player window (Qt parent).

#include <QAudioFormat>
#include <QByteArray>
#include <QObject>

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class QAudioDevice;
class QAudioSource;
class QIODevice;
class QTimer;

namespace ruvo {

class PushSink;

// wvMapper: the system's default device; wvDevice0 .. wvDevice9: the devices in the order
// the system lists them.
enum class TEWDev : std::uint8_t {
    wvMapper,
    wvDevice0,
    wvDevice1,
    wvDevice2,
    wvDevice3,
    wvDevice4,
    wvDevice5,
    wvDevice6,
    wvDevice7,
    wvDevice8,
    wvDevice9,
};

constexpr std::int32_t kMinWaveInBuffers = 1;
constexpr std::int32_t kMaxWaveInBuffers = 9;
constexpr std::int32_t kMinWaveInBufferSize = 16;

// The format of a channel count, rate and sample size (8: unsigned, 16: signed).
QAudioFormat PcmFormat(std::int32_t channels, std::int32_t samples, std::int32_t sampleBits);

class TEnhWaveIn : public QObject {
    Q_OBJECT

public:
    explicit TEnhWaveIn(QObject* parent = nullptr);
    ~TEnhWaveIn() override;

    std::int32_t Channels() const { return m_channels; }
    void SetChannels(std::int32_t value) { m_channels = value; }
    std::int32_t Samples() const { return m_samples; }
    void SetSamples(std::int32_t value) { m_samples = value; }
    std::int32_t SampleBits() const { return m_sampleBits; }
    void SetSampleBits(std::int32_t value) { m_sampleBits = value; }
    std::int32_t MaxBuffers() const { return m_maxBuffers; }
    // 1..9; other values are refused (false) and change nothing.
    bool SetMaxBuffers(std::int32_t value);
    std::int32_t BufferSize() const { return m_bufferSize; }
    // At least 16; smaller values are refused (false).
    bool SetBufferSize(std::int32_t value);
    TEWDev Device() const { return m_device; }
    void SetDevice(TEWDev value) { m_device = value; }
    // The open device's identifier; empty while closed.
    QByteArray DeviceID() const { return m_deviceId; }
    // Buffers in circulation (MaxBuffers while open).
    std::int32_t BufferCount() const { return static_cast<std::int32_t>(m_buffers.size()); }

    // Opens the device and starts recording; the result is Recording(). OnOpen follows
    // once the buffers are in place.
    bool Open();
    // Stops and closes; nothing is delivered afterwards (a partial buffer is dropped).
    void Close();
    bool Recording() const { return m_recording; }
    bool IsOpen() const { return m_open; }

signals:
    void OnOpen();
    // A full buffer: `size` bytes at `data`, valid during the call only.
    void OnData(const char* data, std::int32_t size);
    // Whatever the input delivered just now, before it is cut into buffers (a tap for a live
    // view): `size` bytes at `data`, valid during the call only. The buffers are unchanged.
    void OnArrived(const char* data, std::int32_t size);
    void OnClose();

private:
    void ReadyRead();

    std::int32_t m_channels = 1;
    std::int32_t m_samples = 8000;
    std::int32_t m_sampleBits = 8;
    std::int32_t m_maxBuffers = 2;
    std::int32_t m_bufferSize = 2048;
    TEWDev m_device = TEWDev::wvMapper;
    bool m_open = false;
    bool m_recording = false;
    QByteArray m_deviceId;
    std::unique_ptr<QAudioSource> m_source;
    QIODevice* m_io = nullptr;  // owned by m_source
    std::vector<std::vector<char>> m_buffers;
    std::size_t m_nextBuffer = 0;
    QByteArray m_pending;  // bytes read but not yet a full buffer
};

class TEnhWaveOut : public QObject {
    Q_OBJECT

public:
    // One submitted buffer: its own copy of the data and how much of it went to the device.
    struct Header {
        std::vector<char> Data;
        std::size_t Handed = 0;
        qint64 EndUSecs = 0;  // device clock at which its last byte has been played
    };

    explicit TEnhWaveOut(QObject* parent = nullptr);
    ~TEnhWaveOut() override;

    std::int32_t Channels() const { return m_channels; }
    void SetChannels(std::int32_t value) { m_channels = value; }
    std::int32_t Samples() const { return m_samples; }
    void SetSamples(std::int32_t value) { m_samples = value; }
    std::int32_t SampleBits() const { return m_sampleBits; }
    void SetSampleBits(std::int32_t value) { m_sampleBits = value; }
    TEWDev Device() const { return m_device; }
    void SetDevice(TEWDev value) { m_device = value; }
    QByteArray DeviceID() const { return m_deviceId; }

    // Opens the output with the properties' format; `bufferMs` is the device's own buffer.
    // False (LastError) without a device or for a format it does not play. OnOpen follows.
    bool Open(int bufferMs = 100);
    // Queues a copy of `size` bytes; false (nothing queued) while the device is closed.
    // Returns whether the queue is non-empty.
    bool Write(const char* data, std::int32_t size);
    // Drops `header` from the queue if it is there; returns whether the queue is non-empty.
    bool ReleaseBuffer(const Header* header);
    // Stops at once (queued sound is dropped), releases every buffer and closes.
    void Close();
    void Pause();
    void Resume();
    bool Paused() const { return m_paused; }
    bool Playing() const { return !m_queue.empty(); }
    bool IsOpen() const { return m_open; }
    std::size_t QueuedBuffers() const { return m_queue.size(); }
    // Microseconds of sound the device has played since Open (0 when closed).
    qint64 PlayedUSecs() const;
    const QString& LastError() const { return m_lastError; }

signals:
    void OnOpen();
    // A buffer has been played and released.
    void OnDone();
    void OnClose();
    // The device stopped or went during playback; the output has been closed (LastError).
    void OnFailed();

private:
    qint64 Fill(char* data, qint64 maxBytes);
    void CheckDone();

    std::int32_t m_channels = 1;
    std::int32_t m_samples = 8000;
    std::int32_t m_sampleBits = 8;
    TEWDev m_device = TEWDev::wvMapper;
    bool m_open = false;
    bool m_paused = false;
    QByteArray m_deviceId;
    QString m_lastError;
    QAudioFormat m_format;
    PushSink* m_sink = nullptr;   // owned by parent
    QTimer* m_doneTimer = nullptr;  // owned by parent
    std::deque<std::unique_ptr<Header>> m_queue;
    qint64 m_handedBytes = 0;  // bytes given to the device since Open
};

}  // namespace ruvo
