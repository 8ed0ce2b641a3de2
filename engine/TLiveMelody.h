#pragma once
// TLiveMelody: the melody analysis of a recording while it arrives. Fed 16-bit mono samples at
// 22050 per second in pieces of any size, it runs the melody passes on a sliding window of the
// newest frames after every whole frame and reports the notes: at once as note on / note off
// (for a synthesizer or another program's MIDI input), and each note once it lies far enough
// behind the newest frame that more sound will not change it. Owned by its user's thread
// (the converter's main, or the window's analysis thread); the callbacks run on that thread.

#include "engine/TMelody.h"
#include "engine/Units.h"
#include "engine/WavProc.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace ruvo {

// Frames of the sliding window: notes up to about 8 s long come out whole.
constexpr std::int32_t kLiveWindowFrames = 192;
// Frames behind the newest within which a note is still uncertain: the tracker's look-back,
// the placement of starts and ends and the onset decision all reach less far.
constexpr std::int32_t kLiveTailFrames = 8;
// Frames after the window's first within which the analysis lacks its context.
constexpr std::int32_t kLiveHeadFrames = 8;
// A note may reach back this many frames before the newest and still count as sounding: a
// frame or two at the very end are often undecided.
constexpr std::int32_t kLiveSoundingSlack = 2;
constexpr std::int32_t kLiveVelocity = 100;  // as the MIDI export writes its notes

// One note of the live analysis, in frames of the session (frame 0 = its first sample).
struct LiveNote {
    std::int32_t Note = 0;   // 0..71 (MIDI key Note + 33)
    std::int32_t First = 0;  // first frame
    std::int32_t End = 0;    // frame after the last
    std::int32_t Velocity = kLiveVelocity;
    std::int32_t Key() const { return NoteToMidiKey(Note); }
    double OnsetSeconds() const { return FramesToSeconds(First); }
    double OffsetSeconds() const { return FramesToSeconds(End); }
    bool operator==(const LiveNote&) const = default;
};

// Note on (On true) or note off of MIDI key Key at Seconds of the session.
struct LiveNoteEvent {
    bool On = false;
    std::int32_t Key = 0;
    std::int32_t Velocity = 0;  // 0 for a note off
    double Seconds = 0.0;
};

// "C4", "F#5": the name of a MIDI key (middle C = 60 = C4).
std::string KeyName(std::int32_t key);

class TLiveMelody {
public:
    // `margin`: the threshold margin of the melody analysis (0.4 by default). The work files
    // are made here, in the work folder (FileIoError when that fails), and deleted by the
    // destructor; nothing after the constructor talks to the engine's host.
    explicit TLiveMelody(double margin = 0.4);
    ~TLiveMelody();
    TLiveMelody(const TLiveMelody&) = delete;
    TLiveMelody& operator=(const TLiveMelody&) = delete;

    // Note on and off as soon as the analysis hears a note begin or end; every on is followed
    // by its off (at the latest from Finish).
    void SetOnEvent(std::function<void(const LiveNoteEvent&)> onEvent) { m_onEvent = std::move(onEvent); }
    // A note that will not change any more, in time order.
    void SetOnNote(std::function<void(const LiveNote&)> onNote) { m_onNote = std::move(onNote); }

    // Analyses every frame that the samples complete. A work file that cannot be written
    // throws FileIoError.
    void Feed(std::span<const std::int16_t> samples);
    // The input ended: the rest is decided, every note reported and the sounding one ended.
    void Finish();

    // The notes that will not change (in time order), and those the analysis sees after them
    // for now.
    const std::vector<LiveNote>& Notes() const { return m_notes; }
    const std::vector<LiveNote>& Pending() const { return m_pending; }
    std::int64_t SampleCount() const { return m_sampleCount; }
    std::int32_t FrameCount() const { return m_frames; }

private:
    void AddFrame();
    // Runs the passes on the window of frames up to m_frames and updates notes and events.
    void Analyse(bool final);
    std::vector<LiveNote> WindowNotes(std::int32_t first);
    void Commit(const std::vector<LiveNote>& notes, std::int32_t windowFirst, bool final);
    void Sound(const std::vector<LiveNote>& notes, bool final);
    void MakeFiles();
    void Emit(bool on, std::int32_t key, std::int32_t frame);

    TWavProc m_wav;
    TMelody m_melody;
    double m_margin;
    std::array<double, kFftPoints> m_fft{};
    std::array<double, kFrameSamples> m_hamming{};
    std::vector<double> m_samples;    // samples from frame m_sampleBase on, as doubles
    std::int32_t m_sampleBase = 0;    // first frame whose samples m_samples holds
    std::vector<double> m_salience;   // kNoteCount values per frame from m_salienceBase on
    std::int32_t m_salienceBase = 0;
    std::int64_t m_sampleCount = 0;
    std::int32_t m_frames = 0;        // whole frames received
    std::int32_t m_committedUntil = 0;  // no note is reported before this frame any more
    bool m_cutSounding = false;       // the last reported note was cut while it still sounded
    std::vector<LiveNote> m_notes;
    std::vector<LiveNote> m_pending;
    bool m_on = false;                // a note on was sent without its note off yet
    LiveNote m_sounding;
    std::vector<std::int8_t> m_track;
    std::vector<double> m_row;
    std::string m_samplesName, m_salienceName, m_thresholdName, m_onsetName, m_tableName;
    std::function<void(const LiveNoteEvent&)> m_onEvent;
    std::function<void(const LiveNote&)> m_onNote;
};

}  // namespace ruvo
