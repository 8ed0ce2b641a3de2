#include "tests/testsupport/Signals.h"

#include "engine/Rounding.h"

#include <cmath>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>

namespace ruvo::testsupport {

double NoteHz(int note) { return 55.0 * std::pow(2.0, note / 12.0); }

std::vector<double> Sine(double hz, std::size_t count, double rate, double amplitude, double phase) {
    std::vector<double> out(count);
    const double step = 2.0 * std::numbers::pi * hz / rate;
    for (std::size_t i = 0; i < count; ++i) out[i] = amplitude * std::sin(phase + step * static_cast<double>(i));
    return out;
}

std::vector<double> SineAtNote(int note, std::size_t count, double rate, double amplitude) {
    return Sine(NoteHz(note), count, rate, amplitude);
}

std::vector<double> HarmonicTone(double hz, std::size_t count, double rate, std::span<const double> amplitudes) {
    std::vector<double> out(count, 0.0);
    for (std::size_t h = 0; h < amplitudes.size(); ++h) {
        const std::vector<double> partial = Sine(hz * static_cast<double>(h + 1), count, rate, amplitudes[h]);
        for (std::size_t i = 0; i < count; ++i) out[i] += partial[i];
    }
    return out;
}

std::vector<double> Silence(std::size_t count) { return std::vector<double>(count, 0.0); }

std::vector<double> Noise(std::size_t count, double amplitude, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(-amplitude, amplitude);
    std::vector<double> out(count);
    for (double& v : out) v = uniform(random);
    return out;
}

std::vector<double> NoteSequence(std::span<const int> notes, std::size_t countEach, double rate, double amplitude) {
    std::vector<double> out;
    out.reserve(notes.size() * countEach);
    double phase = 0.0;
    for (int note : notes) {
        const double step = 2.0 * std::numbers::pi * NoteHz(note) / rate;
        for (std::size_t i = 0; i < countEach; ++i) {
            out.push_back(amplitude * std::sin(phase));
            phase = std::fmod(phase + step, 2.0 * std::numbers::pi);
        }
    }
    return out;
}

void Append(std::vector<double>& to, std::span<const double> more) { to.insert(to.end(), more.begin(), more.end()); }

std::vector<std::int32_t> Quantize(std::span<const double> signal, int bits) {
    if (bits != 8 && bits != 16) throw std::invalid_argument("Quantize: 8 or 16 bits");
    const std::int64_t high = bits == 8 ? 127 : 32767;
    std::vector<std::int32_t> out;
    out.reserve(signal.size());
    for (double v : signal) {
        const std::int64_t q = RoundToInt(v);
        if (q < -high - 1 || q > high)
            throw std::invalid_argument("Quantize: value out of range: " + std::to_string(v));
        out.push_back(static_cast<std::int32_t>(q));
    }
    return out;
}

std::vector<std::int32_t> Interleave(std::span<const std::int32_t> left, std::span<const std::int32_t> right) {
    if (left.size() != right.size()) throw std::invalid_argument("Interleave: channels of different length");
    std::vector<std::int32_t> out;
    out.reserve(2 * left.size());
    for (std::size_t i = 0; i < left.size(); ++i) {
        out.push_back(left[i]);
        out.push_back(right[i]);
    }
    return out;
}

}  // namespace ruvo::testsupport
