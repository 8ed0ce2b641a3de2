#pragma once
// FluidSynth through its C API, without its audio drivers: one synthesizer with the General
// MIDI soundfont, rendering 16-bit interleaved stereo on demand. Movable owner of the
// settings, the synthesizer and (optionally) a MIDI file player; UI thread only.

#include <QString>

#include <cstdint>
#include <memory>
#include <string>

namespace ruvo {

class FluidSynth {
public:
    static constexpr int kSampleRate = 44100;
    static constexpr int kChannels = 2;

    FluidSynth();
    ~FluidSynth();
    FluidSynth(FluidSynth&&) noexcept;
    FluidSynth& operator=(FluidSynth&&) noexcept;

    // The soundfont to load: $RUVO_SOUNDFONT when set (tests use it), else the setting
    // synth.default-soundfont, the Debian default GM soundfont, TimGM6mb; empty if none exists.
    static std::string FindSoundFont();

    // Makes the synthesizer and loads the soundfont; false with LastError() on failure.
    [[nodiscard]] bool Load();
    bool Loaded() const;
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
    std::unique_ptr<Handles> m_handles;
    QString m_lastError;
};

}  // namespace ruvo
