#pragma once
// FluidSynth through its C API, without its audio drivers: one synthesizer with the General
// MIDI soundfont, rendering 16-bit interleaved stereo on demand. Owner of the settings, the
// synthesizer and (optionally) a MIDI file player; used on the UI thread. A soundfont can load
// on a worker thread that owns the synthesizer until it hands it over through a queued call.
// Only the samples of the selected programs are in memory: a program change reads its own
// (on the calling thread) before it returns, from the soundfont's file kept open meanwhile.

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QObject;

namespace ruvo {

class FluidSynth {
public:
    static constexpr int kSampleRate = 44100;
    static constexpr int kChannels = 2;

    FluidSynth();
    ~FluidSynth();
    FluidSynth(const FluidSynth&) = delete;
    FluidSynth& operator=(const FluidSynth&) = delete;

    // The soundfont to load: $RUVO_SOUNDFONT when set (tests use it), else the first of the
    // setting synth.default-soundfont, the Debian default GM soundfont, FluidR3 and TimGM6mb
    // that ChooseSoundFont takes; empty if none exists.
    static std::string FindSoundFont();
    // The first existing file of `candidates` that is not compressed (an SF3 font decodes all
    // its samples while it loads: a large one takes tens of seconds); else the first existing
    // one; empty if none exists.
    static std::string ChooseSoundFont(const std::vector<std::string>& candidates);
    // Runs on the loading thread before each soundfont is read; tests hold loads back with it.
    static void SetLoadGate(std::function<void()> gate);

    // Makes the synthesizer and loads the soundfont; false with LastError() on failure. Waits
    // for a background load that is under way.
    [[nodiscard]] bool Load();
    // Starts loading on a worker thread unless loaded, loading or without a soundfont; `ready`
    // runs on the UI thread once the result is in (LastError() says why when it failed).
    // `context` is the owner of this object: the hand-over is a queued call to it.
    void LoadInBackground(QObject* context, std::function<void()> ready);
    bool Loaded() const;
    bool Loading() const { return m_job != nullptr; }
    const QString& LastError() const { return m_lastError; }

    void NoteOn(int channel, int key, int velocity);
    void NoteOff(int channel, int key);
    void ProgramChange(int channel, int program);
    void ControlChange(int channel, int control, int value);
    void PitchBend(int channel, int value);
    void AllNotesOff();
    // Plays a MIDI message given as status | data1 << 8 | data2 << 16.
    void ShortMsg(std::uint32_t message);

    // Renders `frames` stereo frames into `out` (2 * frames samples), advancing a loaded
    // MIDI file if one plays.
    void Render(std::int16_t* out, int frames);

    // A MIDI file played by the synthesizer as Render advances; false with LastError().
    [[nodiscard]] bool StartFile(const std::string& path);
    // True while the loaded MIDI file still has events to play.
    bool FilePlaying() const;
    void StopFile();

private:
    struct Handles;
    struct Job;
    void Adopt();

    std::unique_ptr<Handles> m_handles;
    std::unique_ptr<Job> m_job;
    std::function<void()> m_ready;
    QString m_lastError;
};

}  // namespace ruvo
