// Latency of the JACK MIDI output: from the send call (what a key press or a live note makes)
// to the note-on seen by a client connected to "ruvo:midi_out". Runs against the server that
// JACK_DEFAULT_SERVER names (run.sh starts `jackd -d dummy -r 22050 -p 256`). Sends `count`
// notes at uneven moments and prints the median, the 95th percentile and the largest delay, in
// milliseconds: to the period in which the receiving client got the note-on, and to the
// note-on's own time in that period (what a synthesizer plays by).

#include "platform/posix/JackMidiOut.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

namespace {

struct Seen {
    jack_time_t PeriodUSecs;  // jack_get_time() in the period that brought the note-on
    jack_time_t EventUSecs;   // the note-on's own place in that period
};

jack_client_t* g_client = nullptr;
jack_port_t* g_port = nullptr;
std::array<Seen, 8192> g_seen{};
std::atomic<std::size_t> g_count{0};

int Process(jack_nframes_t frames, void* /*arg*/) {
    void* buffer = jack_port_get_buffer(g_port, frames);
    const jack_nframes_t start = jack_last_frame_time(g_client);
    const jack_time_t now = jack_get_time();
    for (std::uint32_t i = 0; i < jack_midi_get_event_count(buffer); ++i) {
        jack_midi_event_t event;
        const std::size_t at = g_count.load(std::memory_order_relaxed);
        if (jack_midi_event_get(&event, buffer, i) == 0 && (event.buffer[0] & 0xf0) == 0x90 && at < g_seen.size()) {
            g_seen[at] = {now, jack_frames_to_time(g_client, start + event.time)};
            g_count.store(at + 1, std::memory_order_release);
        }
    }
    return 0;
}

void Report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms[static_cast<std::size_t>(q * static_cast<double>(ms.size() - 1))]; };
    std::printf("%-34s median %6.2f ms  p95 %6.2f ms  max %6.2f ms  (n=%zu)\n", what, at(0.5), at(0.95), ms.back(),
                ms.size());
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t count = std::min<std::size_t>(argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200, g_seen.size());
    ruvo::JackMidiOut out;
    if (out.Open() != ruvo::kMidiOpenOk) {
        std::fprintf(stderr, "jack_latency: %s\n", out.LastError().c_str());
        return 1;
    }
    jack_status_t status{};
    g_client = jack_client_open("ruvo_bench", JackNoStartServer, &status);
    g_port = g_client != nullptr ? jack_port_register(g_client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0) : nullptr;
    if (g_port == nullptr || jack_set_process_callback(g_client, Process, nullptr) != 0 || jack_activate(g_client) != 0 ||
        jack_connect(g_client, out.PortName().c_str(), jack_port_name(g_port)) != 0) {
        std::fprintf(stderr, "jack_latency: the receiving client could not connect\n");
        return 1;
    }
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pause(20000, 45000);  // microseconds between notes
    std::vector<jack_time_t> sent;
    for (std::size_t i = 0; i < count; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        sent.push_back(jack_get_time());
        const int key = 60 + static_cast<int>(i % 12);
        (void)out.NoteOn(0, key, 100);
        (void)out.NoteOff(0, key);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::size_t got = g_count.load(std::memory_order_acquire);
    jack_client_close(g_client);
    if (got != count) {
        std::fprintf(stderr, "jack_latency: %zu of %zu note-ons arrived\n", got, count);
        return 1;
    }
    std::vector<double> period;
    std::vector<double> own;
    for (std::size_t i = 0; i < count; ++i) {
        period.push_back(static_cast<double>(g_seen[i].PeriodUSecs - sent[i]) / 1000.0);
        own.push_back(static_cast<double>(g_seen[i].EventUSecs - sent[i]) / 1000.0);
    }
    std::printf("period %u frames at %u Hz = %.2f ms\n", jack_get_buffer_size(g_client), jack_get_sample_rate(g_client),
                jack_get_buffer_size(g_client) * 1000.0 / jack_get_sample_rate(g_client));
    Report("send -> receiver's period", period);
    Report("send -> note-on's own time", own);
    return 0;
}
