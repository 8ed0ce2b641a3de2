#include "score/ScoreFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace ruvo {

namespace fs = std::filesystem;

std::int32_t WriteFileWhole(const fs::path& path, const std::string& bytes, std::string& error) {
    std::error_code ec;
    if (path.empty() || !path.has_filename()) {
        error = "cannot write '" + path.string() + "': no file name";
        return -1;
    }
    if (fs::is_directory(path, ec)) {
        error = "cannot write " + path.string() + ": it is a folder";
        return -1;
    }
    // A name of its own beside the target, so the rename stays within one file system.
    fs::path temp;
    for (std::int32_t n = 0; n < 1000; ++n) {
        std::string name(1, '.');
        name.append(path.filename().string()).append(1, '.').append(std::to_string(n)).append(".part");
        temp = path.parent_path() / name;
        if (!fs::exists(temp, ec)) break;
    }
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) {
            error = "cannot write " + path.string() + ": " + std::strerror(errno);
            return -1;
        }
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            const std::string reason = std::strerror(errno);
            fs::remove(temp, ec);
            error = "cannot write " + path.string() + ": " + reason;
            return -1;
        }
    }
    fs::rename(temp, path, ec);
    if (ec) {
        fs::remove(temp, ec);
        error = "cannot write " + path.string() + ": " + ec.message();
        return -1;
    }
    return 0;
}

}  // namespace ruvo
