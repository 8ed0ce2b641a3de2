#include "import/CanonicalWav.h"

#include <cstring>

namespace ruvo {

namespace {

void PutLe(unsigned char* at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

std::array<unsigned char, kHeaderBytes> CanonicalHeader(std::uint32_t rate, std::uint32_t channels,
                                                        std::uint32_t dataBytes) {
    std::array<unsigned char, kHeaderBytes> h{};
    const std::uint32_t block = channels * kBytesPerSample;
    std::memcpy(h.data(), "RIFF", 4);
    PutLe(h.data() + 4, 36 + dataBytes, 4);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    PutLe(h.data() + 16, 16, 4);  // format chunk size
    PutLe(h.data() + 20, 1, 2);   // PCM
    PutLe(h.data() + 22, channels, 2);
    PutLe(h.data() + 24, rate, 4);
    PutLe(h.data() + 28, rate * block, 4);  // byte rate
    PutLe(h.data() + 32, block, 2);
    PutLe(h.data() + 34, 16, 2);  // bits per sample
    std::memcpy(h.data() + 36, "data", 4);
    PutLe(h.data() + 40, dataBytes, 4);
    return h;
}

}  // namespace ruvo
