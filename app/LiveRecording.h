#pragma once
// TLiveRecording: the main window's live notes while the player records. It taps the
// recorder's input (every piece as it arrives, before the recorder cuts its buffers; the
// recording itself is untouched), hands the samples to a LiveAnalysis thread and shows the
// results in a TLiveView laid over the waveform and the note grid. When the input closes the
// analysis finishes at once and the view goes: the take's conversion takes its place. Owned by the
// main window (Qt parent); UI thread only.

#include "engine/TLiveMelody.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace ruvo {

class LiveAnalysis;
class TEnhWaveIn;
class TLiveView;

class TLiveRecording : public QObject {
    Q_OBJECT

public:
    // `client`: the window's client area, which holds the panes named "WavDisp" and
    // "MidiDisp2" that the view covers.
    TLiveRecording(TEnhWaveIn& waveIn, QWidget& client);
    ~TLiveRecording() override;

    // Called on the UI thread for every note on and off of the live analysis, for a MIDI
    // output: `live.SetOnNoteEvent([out](auto& e) { out->ShortMsg(LiveEventMessage(e)); });`
    void SetOnNoteEvent(std::function<void(const LiveNoteEvent&)> onEvent) { m_onEvent = std::move(onEvent); }
    TLiveView* View() const { return m_view; }
    bool Running() const { return m_analysis != nullptr; }
    // CPU seconds of the running or last analysis.
    double CpuSeconds() const { return m_cpuSeconds; }

signals:
    // Something went wrong with the live notes (the recording goes on): for the status bar.
    void OnMessage(const QString& text);

protected:
    // The panes under the view moved or changed size: the view follows.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PlaceView();
    void Started();
    void Arrived(const char* data, std::int32_t size);
    void Stopped();
    void Drain();

    QWidget& m_client;
    TLiveView* m_view = nullptr;  // owned by parent (the client area)
    std::unique_ptr<LiveAnalysis> m_analysis;
    std::function<void(const LiveNoteEvent&)> m_onEvent;
    double m_cpuSeconds = 0.0;
};

}  // namespace ruvo
