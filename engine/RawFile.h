#pragma once
// An open file with 64-bit byte offsets and unbuffered transfers. Owns its handle: closes it
// in the destructor (without throwing) when Close() was not called. Every failure of the
// system, and every short write, throws FileIoError.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace ruvo {

class RawFile {
public:
    // Write creates or truncates. Recreate removes the file and creates it anew (exclusively):
    // a work file rewritten many times is not flushed to disk at every close, as the file
    // system does for a file truncated and written again.
    enum class Mode { Read, Write, Recreate };

    RawFile() = default;
    ~RawFile();
    RawFile(RawFile&& other) noexcept;
    RawFile& operator=(RawFile&& other) noexcept;
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;

    void Open(const std::string& path, Mode mode);
    // Reads up to `bytes`; returns how many arrived (fewer only at the end of the file).
    std::size_t Read(void* data, std::size_t bytes);
    void Write(const void* data, std::size_t bytes);
    void Seek(std::int64_t byteOffset);
    std::int64_t Position();
    std::int64_t Size();
    void Close();

    bool IsOpen() const { return m_file != nullptr; }
    const std::string& Path() const { return m_path; }

private:
    std::FILE* m_file = nullptr;
    std::string m_path;
};

}  // namespace ruvo
