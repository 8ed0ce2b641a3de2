#pragma once
// Builds a byte image field by field, for files whose every byte a test wants to choose
// (WAV headers with odd chunk layouts, corrupted headers). Little-endian unless named BE.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ruvo::testsupport {

using Bytes = std::vector<std::uint8_t>;

class ByteWriter {
public:
    ByteWriter& Text(std::string_view chars);  // the characters, no terminator
    ByteWriter& U8(std::uint8_t value);
    ByteWriter& U16(std::uint16_t value);
    ByteWriter& U32(std::uint32_t value);
    ByteWriter& U16BE(std::uint16_t value);
    ByteWriter& U32BE(std::uint32_t value);
    ByteWriter& Raw(std::span<const std::uint8_t> bytes);
    ByteWriter& Fill(std::size_t count, std::uint8_t value = 0);
    // A RIFF chunk: tag, 32-bit payload size, payload (no pad byte).
    ByteWriter& Chunk(std::string_view tag, std::span<const std::uint8_t> payload);

    // Overwrites bytes already written.
    void PutU32At(std::size_t offset, std::uint32_t value);
    void PutU16At(std::size_t offset, std::uint16_t value);

    std::size_t Size() const { return m_bytes.size(); }
    const Bytes& Data() const { return m_bytes; }
    Bytes Take() { return std::move(m_bytes); }

private:
    Bytes m_bytes;
};

// Whole-file helpers; both throw std::runtime_error on failure.
void WriteFileBytes(const std::string& path, std::span<const std::uint8_t> bytes);
Bytes ReadFileBytes(const std::string& path);

// "0A 1B ..." for failure messages.
std::string Hex(std::span<const std::uint8_t> bytes);

}  // namespace ruvo::testsupport
