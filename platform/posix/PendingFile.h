#pragma once
// TPendingFile: a file written whole or not at all, so that no partial or stray file ever stays
// beside its target. Where the file system offers unnamed files (O_TMPFILE) it is one, in the
// target's folder, linked into place when complete; elsewhere it has a short hidden name
// (".ruvo-XXXXXX.part"), locked while written, that the next write into that folder removes if
// its writer is gone. Owned by the code that writes the target; one thread.

#include <filesystem>
#include <string>

namespace ruvo {

class TPendingFile {
public:
    TPendingFile() = default;
    // Discards the file unless Commit() put it in place.
    ~TPendingFile();
    TPendingFile(const TPendingFile&) = delete;
    TPendingFile& operator=(const TPendingFile&) = delete;

    // Makes the file for `target`. Empty on success, else the system's reason.
    std::string Create(const std::filesystem::path& target);
    // The name to open and write the contents through (opening it with truncation is fine).
    const std::string& WritePath() const { return m_writePath; }
    // Puts the written file in place of the target, replacing an existing one. Empty on
    // success, else the system's reason.
    std::string Commit();

    // For tests: off, Create takes a short name as on a file system without unnamed files.
    static void AllowUnnamed(bool allow);

private:
    void Discard();

    int m_fd = -1;
    bool m_unnamed = false;
    std::string m_writePath;  // /proc/self/fd/N, or the short name
    std::filesystem::path m_target;
};

// Removes the short-named files of writers that are gone from `folder`; returns how many.
int RemoveStrayPendingFiles(const std::filesystem::path& folder);

}  // namespace ruvo
