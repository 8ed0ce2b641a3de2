// Latency of the JACK MIDI output: from the send call (what a key press or a live note makes)
// to the note-on seen by a client connected to "ruvo:midi_out", on a private dummy server
// (jackd -d dummy -r 22050 -p 256). Sends `count` notes at uneven moments and prints the
// median, the 95th percentile and the largest delay, in milliseconds, twice: to the period in
// which the receiving client got the message, and to the message's own time in that period.

#include "platform/posix/JackMidiOut.h"
#include "tests/posix/JackTestServer.h"

#include <jack/jack.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

namespace {

void Report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms[static_cast<std::size_t>(q * static_cast<double>(ms.size() - 1))]; };
    std::printf("%-34s median %6.2f ms  p95 %6.2f ms  max %6.2f ms  (n=%zu)\n", what, at(0.5), at(0.95), ms.back(),
                ms.size());
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 200;
    ruvo::test::JackTestServer server;
    if (!server.Running()) {
        std::fprintf(stderr, "jack_latency: jackd -d dummy did not start\n");
        return 1;
    }
    ruvo::JackMidiOut out;
    if (out.Open() != ruvo::kMidiOpenOk) {
        std::fprintf(stderr, "jack_latency: %s\n", out.LastError().c_str());
        return 1;
    }
    ruvo::test::JackRecorder recorder(ruvo::JackMidiOut::kDefaultPort);
    if (!recorder.Ok()) {
        std::fprintf(stderr, "jack_latency: the recording client could not connect\n");
        return 1;
    }
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pause(20000, 45000);  // microseconds between notes
    std::vector<std::uint64_t> sent;
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        sent.push_back(jack_get_time());
        (void)out.NoteOn(0, 60 + i % 12, 100);
        (void)out.NoteOff(0, 60 + i % 12);
    }
    const auto events = recorder.WaitFor(sent.size() * 2, std::chrono::seconds(5));
    std::vector<double> seen;
    std::vector<double> timed;
    for (const auto& event : events) {
        if (event.Bytes.size() == 3 && (event.Bytes[0] & 0xf0) == 0x90 && seen.size() < sent.size()) {
            const std::uint64_t at = sent[seen.size()];
            seen.push_back(static_cast<double>(event.SeenUSecs - at) / 1000.0);
            timed.push_back(static_cast<double>(event.EventUSecs - at) / 1000.0);
        }
    }
    if (seen.size() != sent.size()) {
        std::fprintf(stderr, "jack_latency: %zu of %zu note-ons arrived\n", seen.size(), sent.size());
        return 1;
    }
    std::printf("period 256 frames at 22050 Hz = %.2f ms\n", 256 * 1000.0 / 22050);
    Report("send -> receiver's period", seen);
    Report("send -> note-on's own time", timed);
    return 0;
}
