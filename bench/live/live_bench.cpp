// The live notes in real time: each WAV file (16-bit mono, 22050 Hz) is handed to the window's
// live analysis in pieces of 512 samples (23 ms, as the sound server delivers them) at the pace
// of the sound, and every result is looked at as it comes. For each note of the truth (a
// bench "onset offset pitch" file) that a shown note matches (same pitch, onset within 100 ms):
// the time from the sound of its onset reaching the program to the note being shown, and to
// its note on. Also the analysis thread's CPU time per second of sound, and how long handing a
// piece over takes the recorder's thread.
//
//   ruvo_live_bench SET_DIR NAME...   (SET_DIR/wav22050/NAME.wav, SET_DIR/truth/NAME.tsv)

#include "engine/LiveAnalysis.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace ruvo;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kPiece = 512;
constexpr double kMatchSeconds = 0.1;

struct Truth {
    double Onset;
    int Key;
};

std::vector<std::int16_t> ReadWav(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> samples;
    for (std::size_t i = 44; i + 1 < bytes.size(); i += 2) {
        samples.push_back(static_cast<std::int16_t>(static_cast<std::uint16_t>(
            static_cast<std::uint8_t>(bytes[i]) | (static_cast<std::uint8_t>(bytes[i + 1]) << 8))));
    }
    return samples;
}

std::vector<Truth> ReadTruth(const std::string& name) {
    std::ifstream in(name);
    std::string line;
    std::getline(in, line);  // the heading
    std::vector<Truth> truth;
    double onset = 0.0;
    double offset = 0.0;
    int key = 0;
    while (in >> onset >> offset >> key) truth.push_back({onset, key});
    return truth;
}

double Median(std::vector<double> v) {
    if (v.empty()) return -1.0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Percentile90(std::vector<double> v) {
    if (v.empty()) return -1.0;
    std::sort(v.begin(), v.end());
    return v[v.size() * 9 / 10];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SET_DIR NAME...\n", argv[0]);
        return 2;
    }
    std::vector<double> allShown;
    // How long the recorder's thread spends handing a piece over.
    std::vector<double> pushMicroseconds;
    std::vector<double> allOn;
    double allCpu = 0.0;
    double allSeconds = 0.0;
    for (int a = 2; a < argc; ++a) {
        const std::string set = argv[1];
        const std::vector<std::int16_t> samples = ReadWav(set + "/wav22050/" + argv[a] + ".wav");
        const std::vector<Truth> truth = ReadTruth(set + "/truth/" + argv[a] + ".tsv");
        // Per truth note: when a matching note was first shown, and its first note on.
        std::vector<double> shown(truth.size(), -1.0);
        std::vector<double> on(truth.size(), -1.0);
        std::mutex mutex;
        Clock::time_point start;
        const auto seconds = [&start] { return std::chrono::duration<double>(Clock::now() - start).count(); };
        const auto match = [&truth](int key, double onset, std::vector<double>& when, double now) {
            for (std::size_t i = 0; i < truth.size(); ++i) {
                if (when[i] < 0.0 && truth[i].Key == key && std::abs(truth[i].Onset - onset) <= kMatchSeconds) {
                    when[i] = now;
                    return;
                }
            }
        };
        LiveAnalysis* live = nullptr;
        LiveAnalysis analysis(0.4, [&] {
            const std::lock_guard lock(mutex);
            if (live == nullptr) return;
            const LiveSnapshot snapshot = live->Take();
            const double now = seconds();
            for (const LiveNote& note : snapshot.Notes) match(note.Key(), note.OnsetSeconds(), shown, now);
            for (const LiveNoteEvent& event : snapshot.Events) {
                if (event.On) match(event.Key, event.Seconds, on, now);
            }
        });
        {
            const std::lock_guard lock(mutex);
            live = &analysis;
        }
        start = Clock::now();
        for (std::size_t at = 0; at < samples.size(); at += kPiece) {
            const std::size_t count = std::min(kPiece, samples.size() - at);
            // A piece arrives once its last sample has sounded.
            std::this_thread::sleep_until(start + std::chrono::duration<double>(static_cast<double>(at + count) / kNormalRate));
            const Clock::time_point before = Clock::now();
            analysis.Push(reinterpret_cast<const char*>(samples.data() + at), count * 2);
            pushMicroseconds.push_back(std::chrono::duration<double, std::micro>(Clock::now() - before).count());
        }
        analysis.Finish();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const double cpu = analysis.CpuSeconds();
        {
            const std::lock_guard lock(mutex);
            live = nullptr;
        }
        std::vector<double> shownLatency;
        std::vector<double> onLatency;
        for (std::size_t i = 0; i < truth.size(); ++i) {
            if (shown[i] >= 0.0) shownLatency.push_back(1000.0 * (shown[i] - truth[i].Onset));
            if (on[i] >= 0.0) onLatency.push_back(1000.0 * (on[i] - truth[i].Onset));
        }
        const double duration = static_cast<double>(samples.size()) / kNormalRate;
        std::printf("%-8s %6.1f s  notes %3zu  shown %3zu median %5.0f ms p90 %5.0f ms  note on %3zu median %5.0f ms  "
                    "CPU %.1f %%\n",
                    argv[a], duration, truth.size(), shownLatency.size(), Median(shownLatency),
                    Percentile90(shownLatency), onLatency.size(), Median(onLatency), 100.0 * cpu / duration);
        std::fflush(stdout);
        allShown.insert(allShown.end(), shownLatency.begin(), shownLatency.end());
        allOn.insert(allOn.end(), onLatency.begin(), onLatency.end());
        allCpu += cpu;
        allSeconds += duration;
    }
    std::printf("all: sound in to note shown median %.0f ms (p90 %.0f ms, %zu notes); to note on median %.0f ms; "
                "analysis CPU %.1f %% of one core; a piece handed over in %.1f us (median), %.1f us (p90)\n",
                Median(allShown), Percentile90(allShown), allShown.size(), Median(allOn), 100.0 * allCpu / allSeconds,
                Median(pushMicroseconds), Percentile90(pushMicroseconds));
    return 0;
}
