// ruvo_jack_record SOURCE: a JACK client "ruvo_rec" whose MIDI input is connected to SOURCE;
// prints "ready", then one line per message received: its frame time, the microseconds of
// the period that brought it, those of its own place in the period, and its bytes in hex.
// A process of its own, so that the tests' thread checker sees no memory shared through JACK.

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

namespace {

struct Record {
    jack_nframes_t Frame;
    jack_time_t SeenUSecs;
    jack_time_t EventUSecs;
    std::uint32_t Size;
    std::array<unsigned char, 4> Bytes;
};

jack_client_t* client = nullptr;
jack_port_t* port = nullptr;
// Written by the process callback, read by main (atomics that the thread checker sees).
std::array<Record, 4096> records{};
std::atomic<std::size_t> written{0};
std::atomic<std::size_t> readOut{0};
std::atomic<bool> stop{false};

int Process(jack_nframes_t frames, void* /*arg*/) {
    void* buffer = jack_port_get_buffer(port, frames);
    const jack_nframes_t start = jack_last_frame_time(client);
    const jack_time_t now = jack_get_time();
    for (std::uint32_t i = 0; i < jack_midi_get_event_count(buffer); ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0 || event.size > 4) {
            continue;
        }
        Record record{start + event.time, now, jack_frames_to_time(client, start + event.time),
                      static_cast<std::uint32_t>(event.size), {}};
        std::copy(event.buffer, event.buffer + event.size, record.Bytes.begin());
        const std::size_t at = written.load(std::memory_order_relaxed);
        if (at - readOut.load(std::memory_order_acquire) < records.size()) {
            records[at % records.size()] = record;
            written.store(at + 1, std::memory_order_release);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGTERM, [](int) { stop = true; });
    jack_status_t status{};
    client = argc == 2 ? jack_client_open("ruvo_rec", JackNoStartServer, &status) : nullptr;
    if (client == nullptr) {
        return 1;
    }
    port = jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client, Process, nullptr);
    if (port == nullptr || jack_activate(client) != 0 || jack_connect(client, argv[1], jack_port_name(port)) != 0) {
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    while (!stop) {
        for (std::size_t at = readOut.load(); at != written.load(std::memory_order_acquire); ++at) {
            const Record record = records[at % records.size()];
            readOut.store(at + 1, std::memory_order_release);
            std::printf("%u %llu %llu", record.Frame, static_cast<unsigned long long>(record.SeenUSecs),
                        static_cast<unsigned long long>(record.EventUSecs));
            for (std::uint32_t i = 0; i < record.Size; ++i) {
                std::printf(" %02x", record.Bytes[i]);
            }
            std::printf("\n");
        }
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    jack_client_close(client);
    return 0;
}
