#include "platform/qt/FluidSynth.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace ruvo {

namespace {

// The default gain (0.2) is too quiet beside a recording at full level.
constexpr double kGain = 0.8;

void QuietLog(int, const char*, void*) {}

void SilenceInfoLogs() {
    static const bool done = [] {
        fluid_set_log_function(FLUID_INFO, QuietLog, nullptr);
        fluid_set_log_function(FLUID_DBG, QuietLog, nullptr);
        return true;
    }();
    (void)done;
}

}  // namespace

struct FluidSynth::Handles {
    fluid_settings_t* Settings = nullptr;
    fluid_synth_t* Synth = nullptr;
    fluid_player_t* Player = nullptr;

    ~Handles() {
        if (Player != nullptr) {
            fluid_player_stop(Player);
            delete_fluid_player(Player);
        }
        if (Synth != nullptr) {
            delete_fluid_synth(Synth);
        }
        if (Settings != nullptr) {
            delete_fluid_settings(Settings);
        }
    }
};

FluidSynth::FluidSynth() = default;
FluidSynth::~FluidSynth() = default;
FluidSynth::FluidSynth(FluidSynth&&) noexcept = default;
FluidSynth& FluidSynth::operator=(FluidSynth&&) noexcept = default;

std::string FluidSynth::FindSoundFont() {
    std::error_code error;
    if (const char* forced = std::getenv("RUVO_SOUNDFONT"); forced != nullptr) {
        return std::filesystem::is_regular_file(forced, error) ? std::string(forced) : std::string();
    }
    SilenceInfoLogs();
    std::string configured;
    if (fluid_settings_t* settings = new_fluid_settings(); settings != nullptr) {
        char* value = nullptr;
        if (fluid_settings_dupstr(settings, "synth.default-soundfont", &value) == FLUID_OK && value != nullptr) {
            configured = value;
            fluid_free(value);
        }
        delete_fluid_settings(settings);
    }
    for (const std::string& candidate : {configured, std::string("/usr/share/sounds/sf2/default-GM.sf2"),
                                         std::string("/usr/share/sounds/sf2/TimGM6mb.sf2")}) {
        if (!candidate.empty() && std::filesystem::is_regular_file(candidate, error)) {
            return candidate;
        }
    }
    return {};
}

bool FluidSynth::Load() {
    if (Loaded()) {
        return true;
    }
    SilenceInfoLogs();
    const std::string soundFont = FindSoundFont();
    if (soundFont.empty()) {
        m_lastError = QStringLiteral("No General MIDI soundfont found (install timgm6mb-soundfont).");
        return false;
    }
    auto handles = std::make_unique<Handles>();
    handles->Settings = new_fluid_settings();
    if (handles->Settings == nullptr) {
        m_lastError = QStringLiteral("The synthesizer could not be set up.");
        return false;
    }
    fluid_settings_setnum(handles->Settings, "synth.sample-rate", kSampleRate);
    fluid_settings_setnum(handles->Settings, "synth.gain", kGain);
    fluid_settings_setint(handles->Settings, "synth.cpu-cores", 1);
    handles->Synth = new_fluid_synth(handles->Settings);
    if (handles->Synth == nullptr) {
        m_lastError = QStringLiteral("The synthesizer could not be set up.");
        return false;
    }
    if (fluid_synth_sfload(handles->Synth, soundFont.c_str(), 1) == FLUID_FAILED) {
        m_lastError = QStringLiteral("The soundfont %1 could not be loaded.").arg(QString::fromStdString(soundFont));
        return false;
    }
    m_handles = std::move(handles);
    m_lastError.clear();
    return true;
}

bool FluidSynth::Loaded() const { return m_handles != nullptr; }

void FluidSynth::NoteOn(int channel, int key, int velocity) {
    if (Loaded()) {
        fluid_synth_noteon(m_handles->Synth, channel, key, velocity);
    }
}

void FluidSynth::NoteOff(int channel, int key) {
    if (Loaded()) {
        fluid_synth_noteoff(m_handles->Synth, channel, key);
    }
}

void FluidSynth::ProgramChange(int channel, int program) {
    if (Loaded()) {
        fluid_synth_program_change(m_handles->Synth, channel, program);
    }
}

void FluidSynth::ControlChange(int channel, int control, int value) {
    if (Loaded()) {
        fluid_synth_cc(m_handles->Synth, channel, control, value);
    }
}

void FluidSynth::PitchBend(int channel, int value) {
    if (Loaded()) {
        fluid_synth_pitch_bend(m_handles->Synth, channel, value);
    }
}

void FluidSynth::AllNotesOff() {
    if (Loaded()) {
        fluid_synth_all_notes_off(m_handles->Synth, -1);
    }
}

void FluidSynth::ShortMsg(std::uint32_t message) {
    const int status = static_cast<int>(message & 0xF0u);
    const int channel = static_cast<int>(message & 0x0Fu);
    const int data1 = static_cast<int>((message >> 8) & 0x7Fu);
    const int data2 = static_cast<int>((message >> 16) & 0x7Fu);
    switch (status) {
    case 0x80:
        NoteOff(channel, data1);
        break;
    case 0x90:
        if (data2 == 0) {
            NoteOff(channel, data1);
        } else {
            NoteOn(channel, data1, data2);
        }
        break;
    case 0xB0:
        ControlChange(channel, data1, data2);
        break;
    case 0xC0:
        ProgramChange(channel, data1);
        break;
    case 0xE0:
        PitchBend(channel, data1 | (data2 << 7));
        break;
    default:
        break;
    }
}

void FluidSynth::Render(std::int16_t* out, int frames) {
    if (!Loaded()) {
        std::fill(out, out + static_cast<std::ptrdiff_t>(frames) * kChannels, std::int16_t{0});
        return;
    }
    fluid_synth_write_s16(m_handles->Synth, frames, out, 0, kChannels, out, 1, kChannels);
}

bool FluidSynth::StartFile(const std::string& path) {
    if (!Load()) {
        return false;
    }
    StopFile();
    fluid_player_t* player = new_fluid_player(m_handles->Synth);
    if (player == nullptr || fluid_player_add(player, path.c_str()) != FLUID_OK || fluid_player_play(player) != FLUID_OK) {
        if (player != nullptr) {
            delete_fluid_player(player);
        }
        m_lastError = QStringLiteral("The MIDI file could not be played.");
        return false;
    }
    m_handles->Player = player;
    return true;
}

bool FluidSynth::FilePlaying() const {
    return Loaded() && m_handles->Player != nullptr && fluid_player_get_status(m_handles->Player) == FLUID_PLAYER_PLAYING;
}

void FluidSynth::StopFile() {
    if (!Loaded() || m_handles->Player == nullptr) {
        return;
    }
    fluid_player_stop(m_handles->Player);
    delete_fluid_player(m_handles->Player);
    m_handles->Player = nullptr;
    fluid_synth_all_sounds_off(m_handles->Synth, -1);
}

}  // namespace ruvo
