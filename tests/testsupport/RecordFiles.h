#pragma once
// Record files as the engine stores them (headerless doubles, native byte order), written and
// read back without going through the engine. All functions throw std::runtime_error on
// failure.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ruvo::testsupport {

using Table = std::vector<std::vector<double>>;  // records of equal length

void WriteDoubles(const std::string& path, std::span<const double> values);
std::vector<double> ReadDoubles(const std::string& path);
void WriteTable(const std::string& path, const Table& records);
// The whole file as records of recLen; throws when the size is not a whole number of records.
Table ReadTable(const std::string& path, std::size_t recLen);
// Bytes of the grid file family (one signed byte per value).
void WriteSigned(const std::string& path, std::span<const std::int8_t> values);
std::vector<std::int8_t> ReadSigned(const std::string& path);

std::uintmax_t FileSize(const std::string& path);
bool FileExists(const std::string& path);

// `count` records of recLen zeros, with `cells` (frame, index, value) set.
struct Cell {
    std::size_t Frame;
    std::size_t Index;
    double Value;
};
Table MakeTable(std::size_t count, std::size_t recLen, std::span<const Cell> cells = {});

}  // namespace ruvo::testsupport
