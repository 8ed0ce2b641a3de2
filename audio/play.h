#pragma once
// TPlayer: the small tool window that stays above the main window. It plays the selected
// stretch of the document's WAV file (cut into a "Wat" work file) or the MIDI of the note
// table's selection (a "mit" work file) through its TMediaPlayer, pauses and stops, and
// records a new melody from the sound input into an "rwf" WAV file, which it hands to the
// main window through OnRecordingDone. It keeps its own copy of the document record
// (SetRecord after every refresh, GetRecord when a recording is ready). What cannot work
// without a sound device or soundfont is disabled and said. Owned by the main window (Qt
// parent); UI thread only.

#include "engine/TMakeMidi.h"
#include "engine/WavHead.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

class QLabel;
class QRadioButton;
class QToolButton;

namespace ruvo {

class IMidiOut;
class TEnhWaveIn;
class TEnhWaveOut;
class TMediaPlayer;
enum class TMPNotifyValues : std::uint8_t;

// The live trace of the recorded signal.
class TWaveTrace : public QWidget {
    Q_OBJECT

public:
    explicit TWaveTrace(QWidget* parent = nullptr);
    // The buffer to draw (16-bit mono samples as bytes); repaints.
    void ShowBuffer(const char* bytes, std::int32_t size);
    void Clear();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<char> m_buffer;
};

class TPlayer : public QWidget {
    Q_OBJECT

public:
    explicit TPlayer(QWidget* parent = nullptr);
    ~TPlayer() override;

    // Copies `record` in; the caption becomes "Player-" + its file name. While idle, Play and
    // the two choices follow whether there is a file (and a sound output).
    // `shownName`, when given, is the caption's name instead (an imported document plays its
    // converted copy under the name of the file it came from).
    void SetRecord(const WavHead& record, const std::string& shownName = {});
    void GetRecord(WavHead& record) const { record = m_record; }
    const WavHead& Record() const { return m_record; }

    void PlayClick();
    void PauseClick();
    void StopClick();
    void RecClick();
    void WaveInData(const char* bytes, std::int32_t size);
    void MediaPlayer1Notify(TMPNotifyValues value);

    // Ends a recording in progress without handing it over: its header is finished and its
    // name returned (empty when nothing was recording). For a program that ends.
    std::string TakeRecording();
    // Ends a recording in progress and deletes its file.
    void DiscardTake();
    bool IsPlaying() const { return !m_playFile.empty(); }
    // Seconds of the selection heard so far, from its first frame (the record's SelStart);
    // negative when nothing plays.
    double PlayedSeconds() const;
    bool IsRecording() const;
    // What is missing for sound (empty when output, input and soundfont are there).
    QString SoundStatus() const { return m_soundStatus; }
    TMediaPlayer* MediaPlayer1() const { return m_mediaPlayer; }
    // Where MIDI playback goes instead of the built-in synthesizer (nullptr: the synthesizer);
    // it needs neither a sound output nor the soundfont.
    void SetMidiOut(IMidiOut* out);
    TEnhWaveIn* WaveIn() const { return m_waveIn; }
    TEnhWaveOut* WaveOut() const { return m_waveOut; }
    std::int32_t Total() const { return m_total; }

signals:
    // A recording has been stopped and written; its WAV file is the record's FileName.
    // Connect with a queued connection: it stands for a posted window message.
    void OnRecordingDone();
    // While a recording runs with less than a minute of space left: what to tell the user.
    void OnRecordingWarning(const QString& text);
    // Playback ended by itself (the sound has been played).
    void OnPlaybackFinished();
    // Playback ended because the sound output stopped or went; `message` says so.
    void OnPlaybackFailed(const QString& message);
    // What is missing for sound changed (devices came or went).
    void OnSoundStatusChanged(const QString& status);

private:
    enum class State : std::uint8_t { Idle, Playing, Recording };
    void SetState(State state);
    // Re-reads which devices exist and enables what can work.
    void UpdateSound();
    void UpdateControls();
    void DeletePlayFile();
    // The play file for the selection; empty (after saying why) when there is nothing.
    std::string MakePlayFile();
    void FinishRecording();
    void DiscardRecording();
    // Stops the input, closes the file and finishes its header from what reached it; the
    // take's name, or empty (after saying why, the file deleted) when that failed.
    std::string CloseTake();
    void HandOver(const std::string& name);
    // A write of the take failed (the disk is full): what reached the file is kept as a take.
    void StopOnWriteFailure();

    WavHead m_record;
    std::int32_t m_total = 0;
    std::ofstream m_recFile;
    std::string m_recName;
    int m_writeError = 0;  // errno of the take's failed write; nothing more is written
    bool m_initialised = false;
    std::int32_t m_bufferCount = 0;
    std::string m_playFile;
    State m_state = State::Idle;
    bool m_haveOutput = false;
    bool m_haveInput = false;
    bool m_haveSoundFont = false;
    bool m_external = false;  // MIDI playback goes to an output of its own
    QString m_soundStatus;
    TMakeMidi m_makeMidi;
    QObject* m_devices = nullptr;            // owned by parent; made once a sound server answers

    TWaveTrace* m_wave = nullptr;            // owned by parent
    QLabel* m_status = nullptr;              // owned by parent
    QToolButton* m_play = nullptr;           // owned by parent
    QToolButton* m_pause = nullptr;          // owned by parent
    QToolButton* m_stop = nullptr;           // owned by parent
    QToolButton* m_rec = nullptr;            // owned by parent
    QRadioButton* m_wav = nullptr;           // owned by parent
    QRadioButton* m_midi = nullptr;          // owned by parent
    TMediaPlayer* m_mediaPlayer = nullptr;   // owned by parent
    TEnhWaveIn* m_waveIn = nullptr;          // owned by parent
    TEnhWaveOut* m_waveOut = nullptr;        // owned by parent
};

}  // namespace ruvo
