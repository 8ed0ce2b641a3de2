#include "platform/posix/JackMidiOut.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <thread>
#include <utility>

namespace ruvo {

namespace {

constexpr int kChannels = 16;
constexpr unsigned char kControlChange = 0xb0;
constexpr unsigned char kAllNotesOff = 123;
constexpr int kDrainMs = 200;
constexpr const char* kServerGone = "The JACK server has gone away.";

// libjack writes its own complaints (no server socket, ...) to standard error; ours are in
// LastError, and the window has no console.
void Quiet(const char* /*text*/) {}

// The pieces of a message joined (GCC 12 warns falsely about "literal" + std::string).
std::string Join(std::initializer_list<std::string_view> pieces) {
    std::string text;
    for (const std::string_view piece : pieces) {
        text.append(piece);
    }
    return text;
}

// Whether the server has a client of that name (jackd2 refuses a second one without saying
// why).
bool NameTaken(const std::string& clientName) {
    jack_status_t status{};
    jack_client_t* probe = jack_client_open("ruvo_probe", JackNoStartServer, &status);
    if (probe == nullptr) {
        return false;
    }
    char* uuid = jack_get_uuid_for_client_name(probe, clientName.c_str());
    const bool taken = uuid != nullptr;
    jack_free(uuid);
    jack_client_close(probe);
    return taken;
}

// How many data bytes follow a status byte of a short message; -1 for what is not one.
int DataBytes(unsigned char status) {
    if (status < 0x80 || status >= 0xf0) {
        return -1;
    }
    const unsigned char kind = status & 0xf0;
    return kind == 0xc0 || kind == 0xd0 ? 1 : 2;
}

}  // namespace

JackMidiOut::JackMidiOut() {
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        jack_set_error_function(Quiet);
        jack_set_info_function(Quiet);
    });
}

JackMidiOut::~JackMidiOut() { ClosePort(); }

std::int32_t JackMidiOut::Fail(std::int32_t result, std::string text) {
    m_lastError = std::move(text);
    return result;
}

std::int32_t JackMidiOut::OpenPort(std::string_view portName) {
    if (m_client != nullptr && !m_serverGone) {
        return kMidiOpenOk;
    }
    ClosePort();
    const std::size_t colon = portName.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == portName.size()) {
        return Fail(kMidiOpenFailed, Join({"\"", portName, "\" is not a JACK port name (client:port)."}));
    }
    const std::string clientName(portName.substr(0, colon));
    const std::string shortName(portName.substr(colon + 1));
    jack_status_t status{};
    m_client = jack_client_open(clientName.c_str(),
                                static_cast<jack_options_t>(JackNoStartServer | JackUseExactName), &status);
    if (m_client == nullptr) {
        if ((status & JackNameNotUnique) != 0 || NameTaken(clientName)) {
            return Fail(kMidiAllocated, Join({"Another JACK client is already called \"", clientName, "\"."}));
        }
        if ((status & JackServerFailed) != 0) {
            return Fail(kMidiNoDevice, "No JACK server is running.");
        }
        return Fail(kMidiOpenFailed, Join({"The JACK server refused the client \"", clientName, "\"."}));
    }
    m_serverGone = false;
    m_written = 0;
    m_read = 0;
    m_usedChannels = 0;
    m_dropped = 0;
    jack_set_process_callback(m_client, &JackMidiOut::Process, this);
    jack_on_info_shutdown(m_client, &JackMidiOut::InfoShutdown, this);
    m_port = jack_port_register(m_client, shortName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (m_port == nullptr) {
        ClosePort();
        return Fail(kMidiOpenFailed, Join({"The JACK server refused the port \"", portName, "\"."}));
    }
    if (jack_activate(m_client) != 0) {
        ClosePort();
        return Fail(kMidiOpenFailed, Join({"The JACK server would not run the client \"", clientName, "\"."}));
    }
    m_portName = jack_port_name(m_port);
    m_lastError.clear();
    return kMidiOpenOk;
}

void JackMidiOut::ClosePort() {
    const std::lock_guard lock(m_sendLock);
    if (m_client == nullptr) {
        return;
    }
    if (m_serverGone) {
        m_lastError = kServerGone;
    }
    // What was sent last (the all-notes-off of a stop) goes out first, within a few periods;
    // deactivation returns only once the process callback is no longer running.
    for (int waited = 0; !m_serverGone && waited < kDrainMs && m_read.load() != m_written.load(); ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!m_serverGone) {
        jack_deactivate(m_client);
    }
    jack_client_close(m_client);
    m_client = nullptr;
    m_port = nullptr;
    m_portName.clear();
}

bool JackMidiOut::IsOpen() const { return m_client != nullptr && !m_serverGone; }

std::int32_t JackMidiOut::Open() { return OpenPort(kDefaultPort); }

void JackMidiOut::Reset() { (void)AllNotesOff(); }

std::string JackMidiOut::Unavailable() const {
    if (m_client != nullptr && m_serverGone) {
        return kServerGone;
    }
    return IsOpen() ? std::string() : m_lastError;
}

bool JackMidiOut::Send(std::uint32_t message) {
    const auto status = static_cast<unsigned char>(message & 0xff);
    const int data = DataBytes(status);
    if (data < 0) {
        return false;
    }
    const std::lock_guard lock(m_sendLock);
    if (!IsOpen()) {
        return false;
    }
    const std::size_t written = m_written.load(std::memory_order_relaxed);
    if (written - m_read.load(std::memory_order_acquire) >= kQueueSize) {
        ++m_dropped;
        return false;
    }
    Event& event = m_queue[written % kQueueSize];
    event.Sent = jack_frame_time(m_client);
    event.Bytes = {status, static_cast<unsigned char>((message >> 8) & 0x7f),
                   static_cast<unsigned char>((message >> 16) & 0x7f)};
    event.Size = static_cast<std::uint8_t>(1 + data);
    m_usedChannels = static_cast<std::uint16_t>(m_usedChannels | (1u << (status & 0x0f)));
    m_written.store(written + 1, std::memory_order_release);
    return true;
}

bool JackMidiOut::NoteOn(int channel, int key, int velocity) {
    return Send(static_cast<std::uint32_t>((0x90 | (channel & 0x0f)) | ((key & 0x7f) << 8) | ((velocity & 0x7f) << 16)));
}

bool JackMidiOut::NoteOff(int channel, int key) {
    return Send(static_cast<std::uint32_t>((0x80 | (channel & 0x0f)) | ((key & 0x7f) << 8)));
}

bool JackMidiOut::ProgramChange(int channel, int program) {
    return Send(static_cast<std::uint32_t>((0xc0 | (channel & 0x0f)) | ((program & 0x7f) << 8)));
}

bool JackMidiOut::AllNotesOff() {
    bool queued = true;
    std::uint16_t used = 0;
    {
        const std::lock_guard lock(m_sendLock);
        used = m_usedChannels;
    }
    for (int channel = 0; channel < kChannels; ++channel) {
        if ((used & (1u << channel)) != 0) {
            queued = Send(static_cast<std::uint32_t>((kControlChange | channel) | (kAllNotesOff << 8))) && queued;
        }
    }
    return queued;
}

int JackMidiOut::Process(jack_nframes_t frames, void* self) {
    static_cast<JackMidiOut*>(self)->WriteEvents(frames);
    return 0;
}

void JackMidiOut::WriteEvents(jack_nframes_t frames) {
    void* buffer = jack_port_get_buffer(m_port, frames);
    jack_midi_clear_buffer(buffer);
    // An event sent during the last period goes at the same place in this one: one period of
    // delay, the spacing kept. What was sent in this period waits for the next.
    const jack_nframes_t start = jack_last_frame_time(m_client);
    const jack_nframes_t lastStart = start - frames;
    std::size_t read = m_read.load(std::memory_order_relaxed);
    const std::size_t written = m_written.load(std::memory_order_acquire);
    jack_nframes_t at = 0;
    for (; read != written; ++read) {
        const Event& event = m_queue[read % kQueueSize];
        const auto since = static_cast<std::int32_t>(event.Sent - lastStart);
        if (since >= static_cast<std::int32_t>(frames)) {
            break;
        }
        at = std::max(at, static_cast<jack_nframes_t>(std::max(since, 0)));
        if (jack_midi_event_write(buffer, at, event.Bytes.data(), event.Size) != 0) {
            break;  // the port's buffer is full: the rest go in the next period
        }
    }
    m_read.store(read, std::memory_order_release);
}

void JackMidiOut::InfoShutdown(jack_status_t /*code*/, const char* reason, void* self) {
    auto* out = static_cast<JackMidiOut*>(self);
    out->m_serverGone = true;
    if (out->m_onShutdown) {
        const std::string why = reason != nullptr ? reason : "";
        out->m_onShutdown(why.empty() ? std::string(kServerGone) : Join({"The JACK server has gone away (", why, ")."}));
    }
}

}  // namespace ruvo
