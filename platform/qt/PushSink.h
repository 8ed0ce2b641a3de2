#pragma once
// A QAudioSink on the default output in push mode: a precise timer of a few milliseconds asks
// the owner's fill function for as many bytes as the sink has room for, which keeps the
// latency at the sink's small buffer. After SourceEnded() it reports OnDrained once what was
// written has left the sink. A sink that stops, fails or no longer plays is stopped and reported
// through OnFailed. Owned by its user (QObject parent or unique_ptr); UI thread only.

#include <QAudioDevice>
#include <QAudioFormat>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QAudioSink;
class QIODevice;
class QTimer;

namespace ruvo {

class PushSink : public QObject {
    Q_OBJECT

public:
    // Writes at most `maxBytes` (whole frames) to `data`; returns the count, or -1 when the
    // source has ended (as SourceEnded()).
    using Fill = std::function<qint64(char* data, qint64 maxBytes)>;

    explicit PushSink(QObject* parent = nullptr);
    ~PushSink() override;

    // Starts on `device` (a null device: the current default output); false with LastError()
    // when there is no device or it refuses the format. `bufferMs`: the sink's buffer, which
    // is the latency.
    [[nodiscard]] bool Start(const QAudioFormat& format, int bufferMs, Fill fill, const QAudioDevice& device = {});
    // Stops at once; what is still buffered is dropped.
    void Stop();
    void Suspend();
    void Resume();
    bool Active() const { return m_sink != nullptr; }
    bool Suspended() const { return m_suspended; }
    // No more data will come: OnDrained follows once the sink has played what it holds.
    void SourceEnded();
    // Microseconds of sound the sink has played since Start.
    qint64 PlayedUSecs() const;
    // The sink's buffer in bytes (valid while active).
    qint64 BufferBytes() const;
    const QString& LastError() const { return m_lastError; }

    static bool OutputAvailable();
    // The system's default output, or its first one when it names no default (a device
    // that appeared after the program started may not become the default here). Null while
    // no sound server answers.
    static QAudioDevice DefaultOutput();
    static QAudioDevice DefaultInput();
    // Whether a sound server has answered. Qt's sound system connects to the server once, at
    // the first use of its devices, and never again if none answered: until one does, this
    // looks for it (at most once a second) and nothing here touches Qt's devices.
    static bool ServerUp();

signals:
    void OnDrained();
    // The sink stopped, failed or stalled (its device went); it has been stopped.
    void OnFailed();

private:
    void Feed();
    // Whether the sink has stopped with an error, lost its stream or stopped playing.
    bool Lost();

    std::unique_ptr<QAudioSink> m_sink;
    QIODevice* m_io = nullptr;  // owned by m_sink
    QTimer* m_timer = nullptr;  // owned by this
    Fill m_fill;
    std::vector<char> m_scratch;
    QString m_lastError;
    qint64 m_written = 0;
    qint64 m_bytesPerSecond = 0;
    qint64 m_lastPlayed = -1;        // the sink's clock at the last sign of progress
    QElapsedTimer m_sinceProgress;  // since then
    QElapsedTimer m_sinceFeed;      // since the last Feed
    bool m_sourceEnded = false;
    bool m_suspended = false;
};

}  // namespace ruvo
