#include "tests/testsupport/WavWriter.h"

#include <stdexcept>

namespace ruvo::testsupport {

Bytes FmtPayload(const WavFormat& format) {
    ByteWriter w;
    w.U16(1)  // PCM
        .U16(format.Channels)
        .U32(format.SampleRate)
        .U32(format.ByteRate())
        .U16(static_cast<std::uint16_t>(format.BlockAlign()))
        .U16(format.Bits);
    return w.Take();
}

Bytes PcmData(const WavFormat& format, std::span<const std::int32_t> samples) {
    ByteWriter w;
    for (std::int32_t s : samples) {
        if (format.Bits == 8) {
            if (s < -128 || s > 127) throw std::invalid_argument("8-bit sample out of range: " + std::to_string(s));
            w.U8(static_cast<std::uint8_t>(s + 128));
        } else if (format.Bits == 16) {
            if (s < -32768 || s > 32767)
                throw std::invalid_argument("16-bit sample out of range: " + std::to_string(s));
            w.U16(static_cast<std::uint16_t>(s));
        } else {
            throw std::invalid_argument("PcmData writes 8 or 16 bits only");
        }
    }
    return w.Take();
}

Bytes CanonicalHeader(const WavFormat& format, std::uint32_t dataBytes) {
    const Bytes fmt = FmtPayload(format);
    ByteWriter w;
    w.Text("RIFF").U32(36 + dataBytes).Text("WAVE").Chunk("fmt ", fmt).Text("data").U32(dataBytes);
    return w.Take();
}

Bytes CanonicalWav(const WavFormat& format, std::span<const std::int32_t> samples) {
    const Bytes data = PcmData(format, samples);
    ByteWriter w;
    w.Raw(CanonicalHeader(format, static_cast<std::uint32_t>(data.size()))).Raw(data);
    return w.Take();
}

void WriteWav(const std::string& path, const WavFormat& format, std::span<const std::int32_t> samples) {
    WriteFileBytes(path, CanonicalWav(format, samples));
}

}  // namespace ruvo::testsupport
