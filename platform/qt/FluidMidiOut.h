#pragma once
// The MIDI output device as a software synthesizer: FluidSynth with the General MIDI
// soundfont, played through a low-latency PushSink on the default sound output. Open and
// Close bracket one held key; the synthesizer (loaded at the first open) and the sink stay
// alive for a moment after Close so that the note's release is heard and the next key starts
// without the sink's start-up delay. The soundfont loads in the background: a key held
// meanwhile sounds once it is in. Owned by the main window; UI thread only.

#include "platform/IMidiOut.h"
#include "platform/qt/FluidSynth.h"

#include <QObject>

#include <vector>

class QTimer;

namespace ruvo {

class PushSink;

class FluidMidiOut : public QObject, public IMidiOut {
    Q_OBJECT

public:
    explicit FluidMidiOut(QObject* parent = nullptr);
    ~FluidMidiOut() override;

    std::int32_t Open() override;
    void Reset() override;
    void ShortMsg(std::uint32_t message) override;
    void Close() override;
    std::string Unavailable() const override;
    // Starts loading the soundfont in the background, so that the first key sounds at once.
    void Preload();

    // The latency of the output: the sink's buffer in milliseconds (0 while it is stopped).
    int BufferMs() const;

signals:
    // What Unavailable() says may have changed (the soundfont has loaded, or failed to).
    void OnStatusChanged();

private:
    void SoundFontReady();
    qint64 Fill(char* data, qint64 maxBytes);
    void StopWhenIdle();

    FluidSynth m_synth;
    PushSink* m_sink = nullptr;      // owned by parent
    QTimer* m_idleTimer = nullptr;   // owned by parent
    std::vector<std::uint32_t> m_waiting;  // messages of the open key while the soundfont loads
    bool m_open = false;
    bool m_loadingNoticed = false;  // the load has taken long enough to be said
};

}  // namespace ruvo
