#include "tests/testsupport/ByteWriter.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace ruvo::testsupport {

ByteWriter& ByteWriter::Text(std::string_view chars) {
    for (char c : chars) m_bytes.push_back(static_cast<std::uint8_t>(c));
    return *this;
}

ByteWriter& ByteWriter::U8(std::uint8_t value) {
    m_bytes.push_back(value);
    return *this;
}

ByteWriter& ByteWriter::U16(std::uint16_t value) {
    m_bytes.push_back(static_cast<std::uint8_t>(value & 0xFFu));
    m_bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    return *this;
}

ByteWriter& ByteWriter::U32(std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) m_bytes.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFFu));
    return *this;
}

ByteWriter& ByteWriter::U16BE(std::uint16_t value) {
    m_bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    m_bytes.push_back(static_cast<std::uint8_t>(value & 0xFFu));
    return *this;
}

ByteWriter& ByteWriter::U32BE(std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) m_bytes.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFFu));
    return *this;
}

ByteWriter& ByteWriter::Raw(std::span<const std::uint8_t> bytes) {
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
}

ByteWriter& ByteWriter::Fill(std::size_t count, std::uint8_t value) {
    m_bytes.insert(m_bytes.end(), count, value);
    return *this;
}

ByteWriter& ByteWriter::Chunk(std::string_view tag, std::span<const std::uint8_t> payload) {
    Text(tag);
    U32(static_cast<std::uint32_t>(payload.size()));
    return Raw(payload);
}

void ByteWriter::PutU32At(std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) m_bytes.at(offset + i) = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu);
}

void ByteWriter::PutU16At(std::size_t offset, std::uint16_t value) {
    m_bytes.at(offset) = static_cast<std::uint8_t>(value & 0xFFu);
    m_bytes.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

void WriteFileBytes(const std::string& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    char cell[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(cell, sizeof cell, "%02X ", b);
        text += cell;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

}  // namespace ruvo::testsupport
