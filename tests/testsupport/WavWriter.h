#pragma once
// WAV files for tests: PCM data from samples in the file's own scale (8-bit: -128..127,
// stored offset by 128 as the format wants; 16-bit: -32768..32767), channels interleaved.

#include "tests/testsupport/ByteWriter.h"

#include <cstdint>
#include <span>
#include <string>

namespace ruvo::testsupport {

struct WavFormat {
    std::uint32_t SampleRate = 22050;
    std::uint16_t Channels = 1;
    std::uint16_t Bits = 16;

    std::uint32_t BlockAlign() const { return Channels * (Bits / 8u); }
    std::uint32_t ByteRate() const { return SampleRate * BlockAlign(); }
};

// The 16 bytes of a PCM format chunk's payload (format tag 1).
Bytes FmtPayload(const WavFormat& format);
// The sample bytes; throws std::invalid_argument for a value outside the format's range.
Bytes PcmData(const WavFormat& format, std::span<const std::int32_t> samples);
// The canonical 44-byte header: "RIFF", "WAVE", a 16-byte "fmt " chunk at 12, "data" at 36
// announcing dataBytes.
Bytes CanonicalHeader(const WavFormat& format, std::uint32_t dataBytes);
// Header plus data.
Bytes CanonicalWav(const WavFormat& format, std::span<const std::int32_t> samples);
void WriteWav(const std::string& path, const WavFormat& format, std::span<const std::int32_t> samples);

}  // namespace ruvo::testsupport
