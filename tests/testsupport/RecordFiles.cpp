#include "tests/testsupport/RecordFiles.h"

#include "tests/testsupport/ByteWriter.h"

#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace ruvo::testsupport {

void WriteDoubles(const std::string& path, std::span<const double> values) {
    const auto* first = reinterpret_cast<const std::uint8_t*>(values.data());
    WriteFileBytes(path, std::span<const std::uint8_t>(first, values.size() * sizeof(double)));
}

std::vector<double> ReadDoubles(const std::string& path) {
    const Bytes bytes = ReadFileBytes(path);
    if (bytes.size() % sizeof(double) != 0) throw std::runtime_error(path + ": size is not a whole number of doubles");
    std::vector<double> values(bytes.size() / sizeof(double));
    if (!bytes.empty()) std::memcpy(values.data(), bytes.data(), bytes.size());
    return values;
}

void WriteTable(const std::string& path, const Table& records) {
    std::vector<double> flat;
    for (const auto& record : records) flat.insert(flat.end(), record.begin(), record.end());
    WriteDoubles(path, flat);
}

Table ReadTable(const std::string& path, std::size_t recLen) {
    const std::vector<double> flat = ReadDoubles(path);
    if (recLen == 0 || flat.size() % recLen != 0)
        throw std::runtime_error(path + ": " + std::to_string(flat.size()) + " values are not whole records of " +
                                 std::to_string(recLen));
    Table records;
    for (std::size_t i = 0; i < flat.size(); i += recLen) {
        const auto first = flat.begin() + static_cast<std::ptrdiff_t>(i);
        records.emplace_back(first, first + static_cast<std::ptrdiff_t>(recLen));
    }
    return records;
}

void WriteSigned(const std::string& path, std::span<const std::int8_t> values) {
    const auto* first = reinterpret_cast<const std::uint8_t*>(values.data());
    WriteFileBytes(path, std::span<const std::uint8_t>(first, values.size()));
}

std::vector<std::int8_t> ReadSigned(const std::string& path) {
    const Bytes bytes = ReadFileBytes(path);
    std::vector<std::int8_t> values(bytes.size());
    if (!bytes.empty()) std::memcpy(values.data(), bytes.data(), bytes.size());
    return values;
}

std::uintmax_t FileSize(const std::string& path) { return std::filesystem::file_size(path); }

bool FileExists(const std::string& path) { return !path.empty() && std::filesystem::exists(path); }

Table MakeTable(std::size_t count, std::size_t recLen, std::span<const Cell> cells) {
    Table records(count, std::vector<double>(recLen, 0.0));
    for (const Cell& cell : cells) records.at(cell.Frame).at(cell.Index) = cell.Value;
    return records;
}

}  // namespace ruvo::testsupport
