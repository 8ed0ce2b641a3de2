#include "fuzz/FuzzInput.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace ruvo::fuzz {
namespace {

struct PrivateFolder {
    PrivateFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/ruvo-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make the fuzz folder");
        Path = pattern;
        Input = Path + "/input";
    }
    ~PrivateFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    std::string Path;
    std::string Input;
};

PrivateFolder& Private() {
    static PrivateFolder folder;
    return folder;
}

}  // namespace

const std::string& Folder() { return Private().Path; }

const std::string& WriteInput(const std::uint8_t* data, std::size_t size) {
    const std::string& name = Private().Input;
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (file == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    if (std::fclose(file) != 0) std::abort();
    return name;
}

}  // namespace ruvo::fuzz
