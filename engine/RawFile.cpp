#include "engine/RawFile.h"

#include "engine/FileIoError.h"

#include <cerrno>
#include <utility>

// Offsets beyond 4 GB go through the C library's long.
static_assert(sizeof(long) >= 8, "files beyond 4 GB need a 64-bit long");

namespace ruvo {

RawFile::~RawFile() {
    if (m_file != nullptr) std::fclose(m_file);
}

RawFile::RawFile(RawFile&& other) noexcept
    : m_file(std::exchange(other.m_file, nullptr)), m_path(std::move(other.m_path)) {}

RawFile& RawFile::operator=(RawFile&& other) noexcept {
    if (this != &other) {
        if (m_file != nullptr) std::fclose(m_file);
        m_file = std::exchange(other.m_file, nullptr);
        m_path = std::move(other.m_path);
    }
    return *this;
}

void RawFile::Open(const std::string& path, Mode mode) {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    m_path = path;
    errno = 0;
    if (mode == Mode::Recreate) std::remove(path.c_str());
    const char* how = mode == Mode::Read ? "rb" : mode == Mode::Write ? "w+b" : "w+bx";
    m_file = std::fopen(path.c_str(), how);
    if (m_file == nullptr) ThrowFileIoError(path, "open", "cannot open the file");
    // Transfers are large and already buffered by the callers: go straight to the system.
    std::setvbuf(m_file, nullptr, _IONBF, 0);
}

std::size_t RawFile::Read(void* data, std::size_t bytes) {
    if (m_file == nullptr) ThrowFileIoError(m_path, "read", "the file is not open");
    errno = 0;
    const std::size_t got = std::fread(data, 1, bytes, m_file);
    if (got < bytes && std::ferror(m_file) != 0) ThrowFileIoError(m_path, "read");
    return got;
}

void RawFile::Write(const void* data, std::size_t bytes) {
    if (m_file == nullptr) ThrowFileIoError(m_path, "write", "the file is not open");
    errno = 0;
    if (std::fwrite(data, 1, bytes, m_file) != bytes) ThrowFileIoError(m_path, "write", "the disk is full");
}

void RawFile::Seek(std::int64_t byteOffset) {
    if (m_file == nullptr) ThrowFileIoError(m_path, "seek in", "the file is not open");
    errno = 0;
    if (std::fseek(m_file, static_cast<long>(byteOffset), SEEK_SET) != 0) ThrowFileIoError(m_path, "seek in");
}

std::int64_t RawFile::Position() {
    if (m_file == nullptr) ThrowFileIoError(m_path, "seek in", "the file is not open");
    errno = 0;
    const long position = std::ftell(m_file);
    if (position < 0) ThrowFileIoError(m_path, "seek in");
    return position;
}

std::int64_t RawFile::Size() {
    const std::int64_t here = Position();
    errno = 0;
    if (std::fseek(m_file, 0, SEEK_END) != 0) ThrowFileIoError(m_path, "measure");
    const std::int64_t size = Position();
    Seek(here);
    return size;
}

void RawFile::Close() {
    if (m_file == nullptr) return;
    errno = 0;
    const int result = std::fclose(std::exchange(m_file, nullptr));
    if (result != 0) ThrowFileIoError(m_path, "close");
}

}  // namespace ruvo
