#pragma once
// Writing a score's bytes whole or not at all: they go to a hidden file beside the target,
// which is renamed over it once complete and removed on any failure.

#include <cstdint>
#include <filesystem>
#include <string>

namespace ruvo {

// 0 on success; -1 with `error` set ("cannot write PATH: reason") and nothing left behind.
[[nodiscard]] std::int32_t WriteFileWhole(const std::filesystem::path& path, const std::string& bytes, std::string& error);

}  // namespace ruvo
