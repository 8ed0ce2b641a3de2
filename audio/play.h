#pragma once
// TPlayer: the small tool window that stays above the main window. It keeps its own copy of
// the document record (SetRecord after every conversion, GetRecord when a recording is ready)
// and tells the main window through OnRecordingDone that a recording waits to be converted.
// Playing and recording come later; until then its controls are disabled. Owned by the main
// window (Qt parent); UI thread only.

#include "engine/WavHead.h"

#include <QWidget>

class QFrame;
class QRadioButton;
class QToolButton;

namespace ruvo {

class TPlayer : public QWidget {
    Q_OBJECT

public:
    explicit TPlayer(QWidget* parent = nullptr);

    // Copies `record` in; the caption becomes "Player-" + its file name.
    void SetRecord(const WavHead& record);
    void GetRecord(WavHead& record) const { record = m_record; }
    const WavHead& Record() const { return m_record; }

signals:
    // A recording has been stopped and written; its WAV file is the record's FileName.
    // Connect with a queued connection: it stands for a posted window message.
    void OnRecordingDone();

private:
    WavHead m_record;
    bool m_initialised = false;
    QFrame* m_wave = nullptr;        // owned by parent
    QToolButton* m_play = nullptr;   // owned by parent
    QToolButton* m_pause = nullptr;  // owned by parent
    QToolButton* m_stop = nullptr;   // owned by parent
    QToolButton* m_rec = nullptr;    // owned by parent
    QRadioButton* m_wav = nullptr;   // owned by parent
    QRadioButton* m_midi = nullptr;  // owned by parent
};

}  // namespace ruvo
