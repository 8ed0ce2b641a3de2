// Time of a score for a long melody: tempo and beats, quantisation, key, and both writers
// (text and file), on a 10-minute melody of about 2000 notes played with tempo changes and a
// few milliseconds of timing spread. Prints the median of the runs and the peak memory.
// Usage: ruvo_score_bench [minutes] [runs]

#include "score/MusicXmlWriter.h"
#include "score/Score.h"
#include "score/ScoreMidiWriter.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <vector>

namespace {

std::vector<ruvo::TimedNote> LongMelody(double minutes) {
    std::mt19937 random(1234);
    const double values[] = {0.25, 0.5, 0.5, 0.75, 1.0, 1.0, 1.5, 2.0};
    std::vector<ruvo::TimedNote> notes;
    double seconds = 0.5, bpm = 96.0;
    std::int32_t key = 67;
    for (std::int32_t n = 0; seconds < minutes * 60.0; ++n) {
        if (n % 150 == 149) bpm = 70.0 + static_cast<double>(random() % 70);  // a new section
        const double quarters = values[random() % 8];
        const double spread = (static_cast<double>(random() % 21) - 10.0) / 1000.0;
        const double length = quarters * 60.0 / bpm;
        notes.push_back({seconds + spread, seconds + length * 0.9, key, 1.0 + static_cast<double>(random() % 5)});
        key = std::clamp(key + static_cast<std::int32_t>(random() % 5) - 2, 60, 79);
        seconds += length + (random() % 12 == 0 ? 60.0 / bpm : 0.0);
    }
    return notes;
}

}  // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
    const std::vector<ruvo::TimedNote> notes = LongMelody(minutes);
    const std::filesystem::path folder = std::filesystem::temp_directory_path();
    std::vector<double> build, write;
    std::size_t bytes = 0;
    for (int r = 0; r < runs; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        const ruvo::Score score = ruvo::BuildScore(notes, {});
        const auto t1 = std::chrono::steady_clock::now();
        std::string error;
        if (ruvo::WriteMusicXml(score, folder / "ruvo_score_bench.musicxml", error) != 0 ||
            ruvo::WriteScoreMidi(score, folder / "ruvo_score_bench.mid", error) != 0) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        const auto t2 = std::chrono::steady_clock::now();
        build.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        write.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
        bytes = std::filesystem::file_size(folder / "ruvo_score_bench.musicxml");
        if (r == 0)
            std::printf("%zu notes, %zu tempo marks, %zu notes written\n", notes.size(), score.Tempo.size(),
                        score.Notes.size());
    }
    std::filesystem::remove(folder / "ruvo_score_bench.musicxml");
    std::filesystem::remove(folder / "ruvo_score_bench.mid");
    std::sort(build.begin(), build.end());
    std::sort(write.begin(), write.end());
    const double b = build[build.size() / 2], w = write[write.size() / 2];
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.1f min: tempo, beats, quantising, key %.1f ms; MusicXML (%zu kB) and MIDI written %.1f ms; "
                "total %.1f ms (median of %d); peak memory %ld kB\n",
                minutes, b, bytes / 1024, w, b + w, runs, usage.ru_maxrss);
    return 0;
}
