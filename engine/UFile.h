#pragma once
// TFileBase: a buffered file of fixed-length records, either doubles (the main family) or
// bytes (the "Short" family), through which every stage streams its data. One object serves
// one open file at a time. Movable, not copyable; owned by value by its user, one thread.
// GetTempName makes the work files.

#include "engine/RawFile.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ruvo {

constexpr std::int32_t kModeRead = 1;
constexpr std::int32_t kModeWrite = 2;
constexpr std::int32_t kBufferValues = 30000;    // values per buffer load
constexpr std::int32_t kWindowRowValues = 2048;  // longest record a window holds

// Window commands of ReadWindow3, ReadWindow5 and ReadBack3; -2..2 fetch a row.
constexpr std::int32_t kWindowClear = -20;
constexpr std::int32_t kWindowAdvance = -10;

// Status of WriteReverse when it has just written the first record of the file.
constexpr std::int32_t kWroteFirstRecord = -2;

class TFileBase {
public:
    TFileBase();
    TFileBase(TFileBase&&) noexcept = default;
    TFileBase& operator=(TFileBase&&) noexcept = default;
    TFileBase(const TFileBase&) = delete;
    TFileBase& operator=(const TFileBase&) = delete;

    [[nodiscard]] std::int32_t OpenFile(const std::string& name, std::int32_t mode, std::int32_t recLen);
    std::int32_t ReadData(std::span<double> rec);
    std::int32_t WriteData(std::span<const double> rec);
    std::int32_t CloseFile();

    [[nodiscard]] std::int32_t OpenFileShort(const std::string& name, std::int32_t mode, std::int32_t recLen);
    std::int32_t ReadDataShort(std::span<std::int8_t> rec);
    std::int32_t WriteDataShort(std::span<const std::int8_t> rec);
    std::int32_t CloseFileShort();

    // Back-to-front writing: Count placeholder records, then one WriteReverse per record from
    // the last to the first. WriteReverse returns kWroteFirstRecord after writing record 0.
    [[nodiscard]] std::int32_t GoToEndForWrite(std::int32_t count);
    std::int32_t WriteReverse(std::span<const double> rec);

    // Sliding windows over the records; rec receives RecLen values of the fetched row.
    std::int32_t ReadWindow3(std::span<double> rec, std::int32_t cmd);
    std::int32_t ReadWindow5(std::span<double> rec, std::int32_t cmd);
    std::int32_t ReadBack3(std::span<double> rec, std::int32_t cmd);
    // Direct view of a window row (-2..2), RecLen values; valid until the next advance.
    std::span<const double> WindowRow(std::int32_t row) const;

    std::int32_t RecLen() const { return m_recLen; }
    std::int32_t RecsPerBuf() const { return m_recsPerBuf; }
    std::int32_t RecIndex() const { return m_recIndex; }
    std::int64_t BufBase() const { return m_bufBase; }
    std::int64_t RevPos() const { return m_revPos; }

private:
    template <typename Value>
    void LoadBuffer(RawFile& file, std::vector<Value>& buffer);
    template <typename Value>
    std::int32_t ReadRecord(RawFile& file, std::vector<Value>& buffer, std::span<Value> rec);
    template <typename Value>
    std::int32_t WriteRecord(RawFile& file, std::vector<Value>& buffer, std::span<const Value> rec);
    template <typename Value>
    std::int32_t CloseRecords(RawFile& file, std::vector<Value>& buffer);
    template <typename Value>
    void FlushBuffer(RawFile& file, std::vector<Value>& buffer, std::int64_t records);
    std::int32_t Open(RawFile& file, const std::string& name, std::int32_t mode, std::int32_t recLen);
    void ShiftWindow(std::int32_t lowest);
    std::int32_t ReadWindow(std::span<double> rec, std::int32_t cmd, std::int32_t reach);
    double* Row(std::int32_t row) { return m_window.data() + m_rowOffset[static_cast<std::size_t>(row + 2)]; }

    std::int32_t m_recLen = 1;
    std::int32_t m_recsPerBuf = kBufferValues;
    std::int32_t m_recIndex = -1;
    std::int32_t m_openMode = 0;
    std::int64_t m_bufBase = 0;  // file position, in values, where the next buffer load begins
    std::int64_t m_revPos = 0;   // file position, in values, of the next reverse transfer
    std::vector<double> m_buffer;
    std::vector<std::int8_t> m_shortBuffer;
    std::vector<double> m_window;              // five rows of kWindowRowValues
    std::array<std::size_t, 5> m_rowOffset{};  // rows -2..2 -> offset into m_window
    RawFile m_file;
    RawFile m_shortFile;
};

// Creates a new, empty, uniquely named file "<prefix><unique>.tmp" in the work folder and
// returns its full path in `name`. On failure shows "GetFileName error." and leaves `name`
// empty.
void GetTempName(const std::string& prefix, std::string& name);
// The folder GetTempName makes its files in: the program's private work folder once it has
// set one, else the system's temporary folder (empty).
void SetWorkFolder(const std::string& folder);
std::string WorkFolder();

}  // namespace ruvo
