// ruvo-make-demo FILE.wav: writes a short demo melody (22050 samples per second, 16-bit mono):
// eight notes of a plucked tone with a few overtones, so that a conversion has something to
// find and harmonics to erase.

#include "engine/Rounding.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <vector>

namespace {

constexpr std::int32_t kRate = 22050;
constexpr double kNoteSeconds = 0.4;
constexpr double kGapSeconds = 0.05;
constexpr std::array<std::int32_t, 8> kMelody{69, 69, 76, 76, 78, 78, 76, 74};  // MIDI keys

double KeyFrequency(std::int32_t key) { return 440.0 * std::pow(2.0, (key - 69) / 12.0); }

void PutLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: ruvo-make-demo FILE.wav\n");
        return 2;
    }

    std::vector<std::int16_t> samples;
    for (const std::int32_t key : kMelody) {
        const double f = KeyFrequency(key);
        const auto noteSamples = static_cast<std::int32_t>(kNoteSeconds * kRate);
        for (std::int32_t i = 0; i < noteSamples; ++i) {
            const double t = static_cast<double>(i) / kRate;
            const double attack = std::min(1.0, t / 0.01);
            const double envelope = attack * std::exp(-3.0 * t);
            double value = 0.0;
            for (int partial = 1; partial <= 3; ++partial)
                value += std::sin(2.0 * std::numbers::pi * f * partial * t) / (partial * partial);
            samples.push_back(static_cast<std::int16_t>(ruvo::RoundToInt(12000.0 * envelope * value)));
        }
        samples.insert(samples.end(), static_cast<std::size_t>(kGapSeconds * kRate), std::int16_t{0});
    }

    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    std::vector<std::uint8_t> file{'R', 'I', 'F', 'F'};
    PutLe(file, 36 + dataBytes, 4);
    for (const char c : {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '}) file.push_back(static_cast<std::uint8_t>(c));
    PutLe(file, 16, 4);  // format chunk size
    PutLe(file, 1, 2);   // PCM
    PutLe(file, 1, 2);   // mono
    PutLe(file, kRate, 4);
    PutLe(file, kRate * 2, 4);  // bytes per second
    PutLe(file, 2, 2);          // bytes per sample frame
    PutLe(file, 16, 2);         // bits per sample
    for (const char c : {'d', 'a', 't', 'a'}) file.push_back(static_cast<std::uint8_t>(c));
    PutLe(file, dataBytes, 4);
    for (const std::int16_t s : samples) PutLe(file, static_cast<std::uint16_t>(s), 2);

    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    out.close();
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
