#pragma once
// The one exception of the engine: a record or sample file could not be opened, read, written,
// positioned or closed. Carries the file, the operation and the system's reason.

#include <stdexcept>
#include <string>

namespace ruvo {

class FileIoError : public std::runtime_error {
public:
    FileIoError(std::string path, std::string operation, std::string reason);
    const std::string& Path() const { return m_path; }
    const std::string& Operation() const { return m_operation; }
    const std::string& Reason() const { return m_reason; }

private:
    std::string m_path;
    std::string m_operation;
    std::string m_reason;
};

// Throws FileIoError with the reason taken from errno (or `fallback` when errno is 0).
[[noreturn]] void ThrowFileIoError(const std::string& path, const std::string& operation,
                                   const char* fallback = "unexpected end of data");

}  // namespace ruvo
