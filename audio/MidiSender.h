#pragma once
// TMidiSender: plays the timed messages of a MIDI file on a MIDI output that sounds elsewhere
// (the JACK port), each sent when its time has come by a fine timer of the UI thread. Pause
// and the end silence every note. Owned by the media player (Qt parent); UI thread only.

#include "audio/MidiFileEvents.h"

#include <QElapsedTimer>
#include <QObject>

#include <cstddef>
#include <vector>

class QTimer;

namespace ruvo {

class IMidiOut;

class TMidiSender : public QObject {
    Q_OBJECT

public:
    explicit TMidiSender(QObject* parent = nullptr);

    // Sends `events` to `out` from the first; false when the output does not open.
    bool Start(IMidiOut& out, std::vector<TimedMidiMessage> events);
    void Pause();
    void Resume();
    // Silences the output and forgets it.
    void Stop();
    bool Running() const { return m_out != nullptr; }
    bool Paused() const { return m_out != nullptr && !m_clock.isValid(); }
    // Microseconds of the file sent since Start; -1 when it is not running.
    qint64 PlayedUSecs() const;

signals:
    // The last message has been sent.
    void OnFinished();

private:
    void SendDue();

    QTimer* m_timer = nullptr;  // owned by parent
    QElapsedTimer m_clock;      // invalid while paused
    qint64 m_before = 0;        // microseconds played before the last resume
    std::vector<TimedMidiMessage> m_events;
    std::size_t m_next = 0;
    IMidiOut* m_out = nullptr;
};

}  // namespace ruvo
