#pragma once
// The canonical WAV work file's 44-byte header: "RIFF", "WAVE", a 16-byte PCM format chunk of
// 16-bit samples, "data". Shared by both decoders of the import; plain function, no state.

#include <array>
#include <cstddef>
#include <cstdint>

namespace ruvo {

constexpr std::size_t kHeaderBytes = 44;
constexpr std::uint32_t kBytesPerSample = 2;

// `dataBytes` is the length of the sample data that follows, 0 while it is still being written.
std::array<unsigned char, kHeaderBytes> CanonicalHeader(std::uint32_t rate, std::uint32_t channels,
                                                        std::uint32_t dataBytes);

}  // namespace ruvo
