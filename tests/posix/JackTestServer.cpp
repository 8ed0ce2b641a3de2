#include "JackTestServer.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <filesystem>
#include <fcntl.h>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace ruvo::test {

namespace {

// One record in the ring, written whole; longer messages than ours are not kept.
struct Head {
    jack_nframes_t Frame;
    std::uint64_t SeenUSecs;
    std::uint64_t EventUSecs;
    std::uint32_t Size;
    std::array<unsigned char, 4> Bytes;
};

}  // namespace

JackTestServer::JackTestServer() {
    setenv("JACK_DEFAULT_SERVER", m_name.c_str(), 1);
    const char* argv[] = {"jackd", "-n", m_name.c_str(), "-d", "dummy", "-r", "22050", "-p", "256", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&m_pid, "jackd", &actions, nullptr, const_cast<char**>(argv), environ) != 0) {
        m_pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    // Up once a client can open.
    for (int tries = 0; m_pid > 0 && tries < 100; ++tries) {
        jack_status_t status{};
        if (jack_client_t* probe = jack_client_open("ruvo_probe", JackNoStartServer, &status)) {
            jack_client_close(probe);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Kill();
}

JackTestServer::~JackTestServer() { Kill(); }

// A server killed outright keeps its place in JACK's registry of servers, which has room for
// eight: the tests end theirs as a user does, which the clients see the same way.
void JackTestServer::Kill() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    // What the semaphores of clients that outlived the server leave behind.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
        if (entry.path().filename().string().find("_" + m_name + "_") != std::string::npos) {
            std::filesystem::remove(entry.path(), ignored);
        }
    }
}

JackRecorder::JackRecorder(const std::string& source) {
    jack_status_t status{};
    m_client = jack_client_open("ruvo_rec", JackNoStartServer, &status);
    if (m_client == nullptr) {
        return;
    }
    m_ring = jack_ringbuffer_create(1 << 16);
    m_port = jack_port_register(m_client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(m_client, &JackRecorder::Process, this);
    m_ok = m_port != nullptr && jack_activate(m_client) == 0 &&
           jack_connect(m_client, source.c_str(), jack_port_name(m_port)) == 0;
}

JackRecorder::~JackRecorder() {
    if (m_client != nullptr) {
        jack_client_close(m_client);
    }
    if (m_ring != nullptr) {
        jack_ringbuffer_free(m_ring);
    }
}

int JackRecorder::Process(jack_nframes_t frames, void* self) {
    auto* recorder = static_cast<JackRecorder*>(self);
    void* buffer = jack_port_get_buffer(recorder->m_port, frames);
    const jack_nframes_t start = jack_last_frame_time(recorder->m_client);
    const std::uint64_t now = jack_get_time();
    const std::uint32_t count = jack_midi_get_event_count(buffer);
    for (std::uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0 || event.size > 4) {
            continue;
        }
        Head head{start + event.time, now, jack_frames_to_time(recorder->m_client, start + event.time),
                  static_cast<std::uint32_t>(event.size), {}};
        std::copy(event.buffer, event.buffer + event.size, head.Bytes.begin());
        if (jack_ringbuffer_write_space(recorder->m_ring) >= sizeof head) {
            jack_ringbuffer_write(recorder->m_ring, reinterpret_cast<const char*>(&head), sizeof head);
        }
    }
    return 0;
}

std::vector<ReceivedEvent> JackRecorder::WaitFor(std::size_t count, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (m_ok) {
        Head head{};
        while (jack_ringbuffer_read_space(m_ring) >= sizeof head) {
            jack_ringbuffer_read(m_ring, reinterpret_cast<char*>(&head), sizeof head);
            m_events.push_back({head.Frame, head.SeenUSecs, head.EventUSecs,
                                std::vector<unsigned char>(head.Bytes.begin(), head.Bytes.begin() + head.Size)});
        }
        if (m_events.size() >= count || std::chrono::steady_clock::now() > end) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return m_events;
}

}  // namespace ruvo::test
