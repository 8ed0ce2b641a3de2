#pragma once
// Test signals in sample units at any rate; Quantize turns them into the integer samples that
// the WAV writer takes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ruvo::testsupport {

// 55 Hz * 2^(n/12), unrounded: the pitch of note index n.
double NoteHz(int note);

std::vector<double> Sine(double hz, std::size_t count, double rate, double amplitude, double phase = 0.0);
std::vector<double> SineAtNote(int note, std::size_t count, double rate, double amplitude);
// Sum of harmonics: amplitudes[h] is the amplitude of harmonic h + 1 of hz.
std::vector<double> HarmonicTone(double hz, std::size_t count, double rate, std::span<const double> amplitudes);
std::vector<double> Silence(std::size_t count);
// Uniform in [-amplitude, amplitude], reproducible from the seed.
std::vector<double> Noise(std::size_t count, double amplitude, std::uint32_t seed);
// Sines at the given notes, `countEach` samples each, phase-continuous from one to the next.
std::vector<double> NoteSequence(std::span<const int> notes, std::size_t countEach, double rate, double amplitude);

void Append(std::vector<double>& to, std::span<const double> more);
// Rounds ties-to-even; throws std::invalid_argument when a value does not fit `bits` (8 or 16).
std::vector<std::int32_t> Quantize(std::span<const double> signal, int bits);
// Left and right samples as stored in a stereo file.
std::vector<std::int32_t> Interleave(std::span<const std::int32_t> left, std::span<const std::int32_t> right);

}  // namespace ruvo::testsupport
