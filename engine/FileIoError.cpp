#include "engine/FileIoError.h"

#include <cerrno>
#include <cstring>

namespace ruvo {

FileIoError::FileIoError(std::string path, std::string operation, std::string reason)
    : std::runtime_error("Cannot " + operation + " \"" + path + "\": " + reason),
      m_path(std::move(path)),
      m_operation(std::move(operation)),
      m_reason(std::move(reason)) {}

void ThrowFileIoError(const std::string& path, const std::string& operation, const char* fallback) {
    const int error = errno;
    throw FileIoError(path, operation, error != 0 ? std::strerror(error) : fallback);
}

}  // namespace ruvo
