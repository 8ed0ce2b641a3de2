#include "engine/UFile.h"

#include "engine/EngineHost.h"
#include "engine/FileIoError.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

namespace ruvo {
namespace {

constexpr std::int64_t kDoubleBytes = sizeof(double);

// A transfer on a file whose open failed (or that was closed) fails like any other transfer.
void RequireOpen(const RawFile& file, const char* operation) {
    if (!file.IsOpen()) throw FileIoError(file.Path(), operation, "the file is not open");
}

}  // namespace

TFileBase::TFileBase() = default;

std::int32_t TFileBase::Open(RawFile& file, const std::string& name, std::int32_t mode, std::int32_t recLen) {
    assert(recLen >= 1 && recLen <= kBufferValues);
    assert(mode == kModeRead || mode == kModeWrite);
    file.Open(name, mode == kModeRead ? RawFile::Mode::Read : RawFile::Mode::Recreate);
    m_openMode = mode;
    m_recLen = recLen;
    m_recIndex = -1;
    m_recsPerBuf = kBufferValues / recLen;
    m_bufBase = 0;
    m_revPos = 0;
    return 0;
}

std::int32_t TFileBase::OpenFile(const std::string& name, std::int32_t mode, std::int32_t recLen) {
    if (name.empty()) {
        EngineHost().ErrorBox("TFileBase.OpenFile in UFile is error.");
        return -1;
    }
    m_buffer.resize(kBufferValues);
    return Open(m_file, name, mode, recLen);
}

std::int32_t TFileBase::OpenFileShort(const std::string& name, std::int32_t mode, std::int32_t recLen) {
    if (name.empty()) {
        EngineHost().ErrorBox("TFileBase.OpenFileShort in UFile is error.");
        return -1;
    }
    m_shortBuffer.resize(kBufferValues);
    return Open(m_shortFile, name, mode, recLen);
}

// A load that ends inside the buffer leaves zeros behind the last stored value, so a read
// past the end never returns stale values.
template <typename Value>
void TFileBase::LoadBuffer(RawFile& file, std::vector<Value>& buffer) {
    const std::size_t wanted = static_cast<std::size_t>(m_recsPerBuf) * static_cast<std::size_t>(m_recLen);
    const std::size_t got = file.Read(buffer.data(), wanted * sizeof(Value)) / sizeof(Value);
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(got), buffer.begin() + static_cast<std::ptrdiff_t>(wanted),
              Value{});
    m_bufBase += static_cast<std::int64_t>(wanted);
}

template <typename Value>
void TFileBase::FlushBuffer(RawFile& file, std::vector<Value>& buffer, std::int64_t records) {
    const std::size_t values = static_cast<std::size_t>(records) * static_cast<std::size_t>(m_recLen);
    file.Write(buffer.data(), values * sizeof(Value));
}

// The double and the byte family share the record bookkeeping; each has its file and buffer.
template <typename Value>
std::int32_t TFileBase::ReadRecord(RawFile& file, std::vector<Value>& buffer, std::span<Value> rec) {
    RequireOpen(file, "read");
    ++m_recIndex;
    // The index runs 0..RecsPerBuf between loads, so no division is needed per record.
    if (m_recIndex == 0 || m_recIndex == m_recsPerBuf) {
        LoadBuffer(file, buffer);
        m_recIndex = 0;
    }
    const auto first = buffer.begin() + static_cast<std::ptrdiff_t>(m_recIndex) * m_recLen;
    std::copy(first, first + m_recLen, rec.begin());
    return 0;
}

template <typename Value>
std::int32_t TFileBase::WriteRecord(RawFile& file, std::vector<Value>& buffer, std::span<const Value> rec) {
    RequireOpen(file, "write");
    ++m_recIndex;
    if (m_recIndex == m_recsPerBuf) {
        FlushBuffer(file, buffer, m_recsPerBuf);
        m_bufBase += static_cast<std::int64_t>(m_recsPerBuf) * m_recLen;
        m_recIndex = 0;
    }
    std::copy(rec.begin(), rec.begin() + m_recLen, buffer.begin() + static_cast<std::ptrdiff_t>(m_recIndex) * m_recLen);
    return 0;
}

template <typename Value>
std::int32_t TFileBase::CloseRecords(RawFile& file, std::vector<Value>& buffer) {
    if (!file.IsOpen()) return 0;
    if (m_openMode == kModeWrite) FlushBuffer(file, buffer, m_recIndex + 1);
    file.Close();
    return 0;
}

std::int32_t TFileBase::ReadData(std::span<double> rec) { return ReadRecord(m_file, m_buffer, rec); }
std::int32_t TFileBase::WriteData(std::span<const double> rec) { return WriteRecord(m_file, m_buffer, rec); }
std::int32_t TFileBase::CloseFile() { return CloseRecords(m_file, m_buffer); }
std::int32_t TFileBase::ReadDataShort(std::span<std::int8_t> rec) {
    return ReadRecord(m_shortFile, m_shortBuffer, rec);
}
std::int32_t TFileBase::WriteDataShort(std::span<const std::int8_t> rec) {
    return WriteRecord(m_shortFile, m_shortBuffer, rec);
}
std::int32_t TFileBase::CloseFileShort() { return CloseRecords(m_shortFile, m_shortBuffer); }

std::int32_t TFileBase::GoToEndForWrite(std::int32_t count) {
    RequireOpen(m_file, "write");
    // Placeholders are zeros; the caller overwrites every record.
    std::fill(m_buffer.begin(), m_buffer.end(), 0.0);
    std::int64_t values = static_cast<std::int64_t>(std::max(count, 0)) * m_recLen;
    while (values > 0) {
        const std::int64_t chunk = std::min<std::int64_t>(values, kBufferValues);
        m_file.Write(m_buffer.data(), static_cast<std::size_t>(chunk) * sizeof(double));
        values -= chunk;
    }
    m_revPos = m_file.Size() / kDoubleBytes + m_bufBase - m_recLen;
    if (m_revPos < 0) {
        EngineHost().ErrorBox("TFileBase.GoToEndForWrite in UFile is error.");
        return -1;
    }
    m_file.Seek(m_revPos * kDoubleBytes);
    return 0;
}

std::int32_t TFileBase::WriteReverse(std::span<const double> rec) {
    RequireOpen(m_file, "write");
    if (m_revPos < m_bufBase) {
        EngineHost().ErrorBox("TFileBase.WriteReverse in UFile is error.");
        return -1;
    }
    m_file.Write(rec.data(), static_cast<std::size_t>(m_recLen) * sizeof(double));
    std::int32_t result = 0;
    m_revPos -= m_recLen;
    if (m_revPos < m_bufBase) {
        m_revPos = m_bufBase;
        result = kWroteFirstRecord;
    }
    m_file.Seek(m_revPos * kDoubleBytes);
    return result;
}

// Rows move by exchanging their offsets; the row that falls out receives the next record.
void TFileBase::ShiftWindow(std::int32_t lowest) {
    const std::size_t first = static_cast<std::size_t>(lowest + 2);
    std::rotate(m_rowOffset.begin() + static_cast<std::ptrdiff_t>(first),
                m_rowOffset.begin() + static_cast<std::ptrdiff_t>(first) + 1,
                m_rowOffset.end() - (lowest == -1 ? 1 : 0));
}

std::span<const double> TFileBase::WindowRow(std::int32_t row) const {
    assert(row >= -2 && row <= 2 && !m_window.empty());
    return {m_window.data() + m_rowOffset[static_cast<std::size_t>(row + 2)], static_cast<std::size_t>(m_recLen)};
}

namespace {

void PrepareWindow(std::vector<double>& window, std::array<std::size_t, 5>& offsets) {
    if (!window.empty()) return;
    window.assign(5 * static_cast<std::size_t>(kWindowRowValues), 0.0);
    for (std::size_t i = 0; i < offsets.size(); ++i) offsets[i] = i * kWindowRowValues;
}

}  // namespace

// The forward windows over rows -reach..reach: clear, advance (shift down and read the next
// record into the top row) or fetch a row.
std::int32_t TFileBase::ReadWindow(std::span<double> rec, std::int32_t cmd, std::int32_t reach) {
    assert(m_recLen <= kWindowRowValues);
    PrepareWindow(m_window, m_rowOffset);
    if (cmd == kWindowClear) {
        for (std::int32_t row = -reach; row <= reach; ++row) std::fill_n(Row(row), m_recLen, 0.0);
    } else if (cmd == kWindowAdvance) {
        ShiftWindow(-reach);
        ReadData({Row(reach), static_cast<std::size_t>(m_recLen)});
    } else if (cmd >= -reach && cmd <= reach) {
        std::copy_n(Row(cmd), m_recLen, rec.begin());
    }
    return 0;
}

std::int32_t TFileBase::ReadWindow3(std::span<double> rec, std::int32_t cmd) { return ReadWindow(rec, cmd, 1); }

std::int32_t TFileBase::ReadWindow5(std::span<double> rec, std::int32_t cmd) { return ReadWindow(rec, cmd, 2); }

std::int32_t TFileBase::ReadBack3(std::span<double> rec, std::int32_t cmd) {
    assert(m_recLen <= kWindowRowValues);
    PrepareWindow(m_window, m_rowOffset);
    if (cmd == kWindowClear) {
        for (std::int32_t row = -1; row <= 1; ++row) std::fill_n(Row(row), m_recLen, 0.0);
        m_revPos = std::max<std::int64_t>(m_file.Size() / kDoubleBytes + m_bufBase - m_recLen, 0);
        m_file.Seek(m_revPos * kDoubleBytes);
    } else if (cmd == kWindowAdvance) {
        ShiftWindow(-1);
        double* row = Row(1);
        const std::size_t got = m_file.Read(row, static_cast<std::size_t>(m_recLen) * sizeof(double)) / sizeof(double);
        std::fill(row + got, row + m_recLen, 0.0);
        m_revPos = std::max<std::int64_t>(m_revPos - m_recLen, 0);
        m_file.Seek(m_revPos * kDoubleBytes);
    } else if (cmd >= -1 && cmd <= 1) {
        std::copy_n(Row(cmd), m_recLen, rec.begin());
    }
    return 0;
}

namespace {

std::string& WorkFolderName() {
    static std::string folder;
    return folder;
}

}  // namespace

void SetWorkFolder(const std::string& folder) { WorkFolderName() = folder; }

std::string WorkFolder() { return WorkFolderName(); }

void GetTempName(const std::string& prefix, std::string& name) {
    name.clear();
    std::error_code error;
    const std::filesystem::path folder =
        WorkFolderName().empty() ? std::filesystem::temp_directory_path(error) : std::filesystem::path(WorkFolderName());
    std::string reason = error ? error.message() : std::string();
    if (!error) {
        thread_local std::mt19937_64 random{std::random_device{}()};
        const std::string stem = prefix.substr(0, 3);
        for (int attempt = 0; attempt < 100; ++attempt) {
            char unique[17];
            std::snprintf(unique, sizeof unique, "%08llx", static_cast<unsigned long long>(random() & 0xffffffffULL));
            const std::string candidate = (folder / (stem + unique + ".tmp")).string();
            // "x": create exclusively, so two programs never get the same name.
            if (std::FILE* file = std::fopen(candidate.c_str(), "wbx")) {
                std::fclose(file);
                name = candidate;
                return;
            }
            if (errno != EEXIST) break;
        }
        reason = std::strerror(errno);
    }
    // Which folder and why: a work folder removed while the program runs says so here.
    std::string where = WorkFolderName();
    if (where.empty()) {
        const char* tmpdir = std::getenv("TMPDIR");
        where = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
    }
    EngineHost().MessageBox("GetFileName error.\nCannot make a work file in " + where + ": " + reason);
}

}  // namespace ruvo
