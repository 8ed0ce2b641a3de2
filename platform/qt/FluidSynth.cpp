#include "platform/qt/FluidSynth.h"

#include <QMetaObject>
#include <QObject>

#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <stop_token>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ruvo {

namespace {

// The default gain (0.2) is too quiet beside a recording at full level.
constexpr double kGain = 0.8;

// Our own loader reads the soundfont through these callbacks, so that a load can stop between
// two reads. It answers only to names with this prefix: were it to fail, the synthesizer's
// other loaders would read the whole file again under its plain name.
// The synthesizer reads a preset's samples when a channel selects it, long after the load and
// on the thread that sends the program change (the UI thread, or the one that renders a MIDI
// file): every open has its own reader and position, and t_stop, set only on a loading
// thread, is null on those threads, so such reads never stop.
constexpr const char* kOwnLoaderPrefix = "ruvo-sf:";
thread_local const std::stop_token* t_stop = nullptr;

bool StopRequested() { return t_stop != nullptr && t_stop->stop_requested(); }

// A soundfont's file stays open while a synthesizer uses it, and every later read goes to that
// file: a package upgrade that replaces or removes it cannot silence a program or feed it
// another font's bytes at the old offsets.
struct FontFile {
    int Fd = -1;
    off_t Size = 0;
    ~FontFile() {
        if (Fd >= 0) {
            ::close(Fd);
        }
    }
};

std::mutex g_fontFilesMutex;
std::map<std::string, std::weak_ptr<FontFile>> g_fontFiles;  // by path; guarded by the mutex

// The open file of `path`, shared with the synthesizers that use it already; null if it
// cannot be opened.
std::shared_ptr<FontFile> KeepFontOpen(const std::string& path) {
    const std::lock_guard<std::mutex> lock(g_fontFilesMutex);
    std::weak_ptr<FontFile>& slot = g_fontFiles[path];
    if (std::shared_ptr<FontFile> live = slot.lock()) {
        return live;
    }
    auto file = std::make_shared<FontFile>();
    struct stat info{};
    file->Fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file->Fd < 0 || ::fstat(file->Fd, &info) != 0) {
        g_fontFiles.erase(path);
        return nullptr;
    }
    file->Size = info.st_size;
    slot = file;
    return file;
}

struct FontReader {
    std::shared_ptr<FontFile> File;
    off_t Position = 0;
};

void* OpenFont(const char* name) {
    const std::string prefixed(name);
    const std::string prefix(kOwnLoaderPrefix);
    if (prefixed.rfind(prefix, 0) != 0) {
        return nullptr;
    }
    const std::lock_guard<std::mutex> lock(g_fontFilesMutex);
    const auto found = g_fontFiles.find(prefixed.substr(prefix.size()));
    std::shared_ptr<FontFile> file = found != g_fontFiles.end() ? found->second.lock() : nullptr;
    return file != nullptr ? std::make_unique<FontReader>(FontReader{std::move(file), 0}).release() : nullptr;
}

int ReadFont(void* buffer, fluid_long_long_t count, void* handle) {
    if (StopRequested() || count < 0) {
        return FLUID_FAILED;
    }
    auto& reader = *static_cast<FontReader*>(handle);
    auto* bytes = static_cast<char*>(buffer);
    auto left = static_cast<std::size_t>(count);
    while (left > 0) {
        const ssize_t got = ::pread(reader.File->Fd, bytes, left, reader.Position);
        if (got <= 0) {
            return FLUID_FAILED;
        }
        bytes += got;
        left -= static_cast<std::size_t>(got);
        reader.Position += got;
    }
    return FLUID_OK;
}

int SeekFont(void* handle, fluid_long_long_t offset, int origin) {
    auto& reader = *static_cast<FontReader*>(handle);
    const off_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? reader.Position : reader.File->Size;
    const off_t position = base + static_cast<off_t>(offset);
    if (position < 0) {
        return FLUID_FAILED;
    }
    reader.Position = position;
    return FLUID_OK;
}

fluid_long_long_t TellFont(void* handle) { return static_cast<FontReader*>(handle)->Position; }

int CloseFont(void* handle) {
    std::unique_ptr<FontReader>(static_cast<FontReader*>(handle)).reset();
    return FLUID_OK;
}

void QuietLog(int, const char*, void*) {}

// A load of ours reports its own failure (LastError); the other loaders' complaints about our
// prefixed name would only mislead.
void ErrorLog(int level, const char* message, void* data) {
    if (t_stop == nullptr) {
        fluid_default_log_function(level, message, data);
    }
}

void SilenceInfoLogs() {
    static const bool done = [] {
        fluid_set_log_function(FLUID_INFO, QuietLog, nullptr);
        fluid_set_log_function(FLUID_DBG, QuietLog, nullptr);
        fluid_set_log_function(FLUID_ERR, ErrorLog, nullptr);
        return true;
    }();
    (void)done;
}

std::function<void()>& LoadGate() {
    static std::function<void()> gate;
    return gate;
}

// An SF3 file: its "ifil" version (the first chunk of its INFO list) has major number 3.
bool Compressed(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::array<char, 34> head{};
    if (!file.read(head.data(), head.size())) {
        return false;
    }
    const std::string text(head.data(), head.size());
    return text.compare(0, 4, "RIFF") == 0 && text.compare(8, 4, "sfbk") == 0 && text.compare(24, 4, "ifil") == 0 &&
           static_cast<unsigned char>(head[32]) == 3 && head[33] == 0;
}

}  // namespace

struct FluidSynth::Handles {
    std::shared_ptr<FontFile> Font;  // outlives the synthesizer, which reads it until deleted
    fluid_settings_t* Settings = nullptr;
    fluid_synth_t* Synth = nullptr;
    fluid_player_t* Player = nullptr;
    std::uint32_t ProgramsSent = 0;  // a bit per channel that has had a program change

    // A channel plays its default program (the piano; the drum kit on channel 10) from its
    // first note when no program change came before: its samples load then, not with the
    // soundfont, which a keyboard that plays a flute only would carry for nothing.
    void SelectDefault(int channel) {
        if (channel >= 0 && channel < 32 && (ProgramsSent >> channel & 1u) == 0 &&
            fluid_synth_get_channel_preset(Synth, channel) == nullptr) {
            fluid_synth_program_change(Synth, channel, 0);
        }
    }
    void ProgramSent(int channel) {
        if (channel >= 0 && channel < 32) {
            ProgramsSent |= 1u << channel;
        }
    }
    // The MIDI file's events on their way to the synthesizer.
    static int PlayEvent(void* data, fluid_midi_event_t* event) {
        auto& handles = *static_cast<Handles*>(data);
        const int channel = fluid_midi_event_get_channel(event);
        if (fluid_midi_event_get_type(event) == 0xC0) {
            handles.ProgramSent(channel);
        } else if (fluid_midi_event_get_type(event) == 0x90) {
            handles.SelectDefault(channel);
        }
        return fluid_synth_handle_midi_event(handles.Synth, event);
    }

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

// One background load. The worker writes Synth and Error, then posts; the UI thread reads them
// only after that post, or after joining.
struct FluidSynth::Job {
    std::uint64_t Serial = 0;
    std::unique_ptr<Handles> Synth;
    QString Error;
    std::jthread Thread;  // last member: joined (after a stop request) before the rest goes

    // Makes the synthesizer and loads `soundFont` into Synth, or says why not in Error.
    static void Build(Job& job, const std::string& soundFont, const std::stop_token& stop);
};

void FluidSynth::Job::Build(Job& job, const std::string& soundFont, const std::stop_token& stop) {
    const std::stop_token* const outer = t_stop;
    t_stop = &stop;
    auto handles = std::make_unique<Handles>();
    handles->Settings = new_fluid_settings();
    if (handles->Settings == nullptr) {
        job.Error = QStringLiteral("The synthesizer could not be set up.");
        t_stop = outer;
        return;
    }
    fluid_settings_setnum(handles->Settings, "synth.sample-rate", kSampleRate);
    fluid_settings_setnum(handles->Settings, "synth.gain", kGain);
    fluid_settings_setint(handles->Settings, "synth.cpu-cores", 1);
    // A preset's samples are read when a channel selects it (at its program change, or at its
    // first note: see SelectDefault) and dropped when no channel uses it: a large General MIDI
    // font then takes its preset tables and a few megabytes instead of its whole size. The
    // samples are the same, and so is the sound; a program change waits for its samples (a
    // few milliseconds from the page cache), so the notes after it are never lost.
    fluid_settings_setint(handles->Settings, "synth.dynamic-sample-loading", 1);
    handles->Synth = new_fluid_synth(handles->Settings);
    fluid_sfloader_t* loader = handles->Synth != nullptr ? new_fluid_defsfloader(handles->Settings) : nullptr;
    if (loader == nullptr) {
        job.Error = QStringLiteral("The synthesizer could not be set up.");
        t_stop = outer;
        return;
    }
    fluid_sfloader_set_callbacks(loader, OpenFont, ReadFont, SeekFont, TellFont, CloseFont);
    fluid_synth_add_sfloader(handles->Synth, loader);  // the synthesizer owns it
    handles->Font = KeepFontOpen(soundFont);
    // No channel selects a program yet (reset_presets 0): see SelectDefault.
    if (handles->Font == nullptr ||
        fluid_synth_sfload(handles->Synth, (kOwnLoaderPrefix + soundFont).c_str(), 0) == FLUID_FAILED) {
        job.Error = QStringLiteral("The soundfont %1 could not be loaded.").arg(QString::fromStdString(soundFont));
    } else {
        job.Synth = std::move(handles);
    }
    t_stop = outer;
}

FluidSynth::FluidSynth() = default;
FluidSynth::~FluidSynth() = default;

void FluidSynth::SetLoadGate(std::function<void()> gate) { LoadGate() = std::move(gate); }

std::string FluidSynth::ChooseSoundFont(const std::vector<std::string>& candidates) {
    std::error_code error;
    std::string firstFound;
    for (const std::string& candidate : candidates) {
        if (candidate.empty() || !std::filesystem::is_regular_file(candidate, error)) {
            continue;
        }
        if (!Compressed(candidate)) {
            return candidate;
        }
        if (firstFound.empty()) {
            firstFound = candidate;
        }
    }
    return firstFound;
}

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
    // Debian's default (the sf3 alternative) may be a large compressed font: a smaller
    // uncompressed General MIDI font further down comes first.
    return ChooseSoundFont({configured, "/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2",
                            "/usr/share/sounds/sf2/TimGM6mb.sf2"});
}

bool FluidSynth::Load() {
    if (Loading()) {
        Adopt();
    }
    if (Loaded()) {
        return true;
    }
    SilenceInfoLogs();
    const std::string soundFont = FindSoundFont();
    if (soundFont.empty()) {
        m_lastError = QStringLiteral("No General MIDI soundfont found (install timgm6mb-soundfont).");
        return false;
    }
    Job job;
    Job::Build(job, soundFont, std::stop_token());
    m_handles = std::move(job.Synth);
    m_lastError = job.Error;
    return Loaded();
}

void FluidSynth::LoadInBackground(QObject* context, std::function<void()> ready) {
    if (Loaded() || Loading()) {
        return;
    }
    SilenceInfoLogs();
    // Without a soundfont nothing starts, and nothing is said: FindSoundFont tells, and a
    // later call looks again.
    const std::string soundFont = FindSoundFont();
    if (soundFont.empty()) {
        return;
    }
    m_ready = std::move(ready);
    static std::uint64_t serials = 0;
    m_job = std::make_unique<Job>();
    Job* const job = m_job.get();
    job->Serial = ++serials;
    const std::uint64_t serial = job->Serial;
    job->Thread = std::jthread([this, context, job, serial, soundFont, gate = LoadGate()](std::stop_token stop) {
        if (gate) {
            gate();
        }
        Job::Build(*job, soundFont, stop);
        // Runs on the UI thread, unless the context has gone (and this object with it).
        QMetaObject::invokeMethod(
            context,
            [this, serial] {
                if (m_job != nullptr && m_job->Serial == serial) {
                    Adopt();
                }
            },
            Qt::QueuedConnection);
    });
}

void FluidSynth::Adopt() {
    m_job->Thread.join();
    m_handles = std::move(m_job->Synth);
    m_lastError = m_job->Error;
    m_job.reset();
    if (m_ready) {
        const std::function<void()> ready = std::move(m_ready);
        m_ready = nullptr;
        ready();
    }
}

bool FluidSynth::Loaded() const { return m_handles != nullptr; }

void FluidSynth::NoteOn(int channel, int key, int velocity) {
    if (Loaded()) {
        m_handles->SelectDefault(channel);
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
        m_handles->ProgramSent(channel);
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
    if (player == nullptr || fluid_player_set_playback_callback(player, Handles::PlayEvent, m_handles.get()) != FLUID_OK ||
        fluid_player_add(player, path.c_str()) != FLUID_OK || fluid_player_play(player) != FLUID_OK) {
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
