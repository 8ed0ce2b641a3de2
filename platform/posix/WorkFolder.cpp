#include "platform/posix/WorkFolder.h"

#include "engine/UFile.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ruvo {
namespace fs = std::filesystem;
namespace {

// A live folder is named "ruvo-work-XXXXXX". It is made under a staging name, marked, locked,
// then renamed, so that no other process ever sees it unlocked under its live name. Only
// folders of exactly these names that hold the mark are ever removed: a folder of the user's
// or of another program that happens to start the same way is left alone.
constexpr const char* kLivePrefix = "ruvo-work-";
constexpr const char* kStagingPrefix = ".ruvo-work-new-";
constexpr const char* kMark = ".ruvo-work-folder";
// The player's takes: a folder holding one is never swept, so that a take outlives a kill or
// a crash until the next start of the window offers it.
constexpr const char* kRecordingPrefix = "rwf";
constexpr std::size_t kUniqueChars = 6;  // the XXXXXX of mkdtemp
// A staging folder older than this belongs to a process killed while starting.
constexpr auto kStagingAge = std::chrono::minutes(1);

bool HasForm(const char* name, const char* prefix) {
    const std::size_t length = std::strlen(prefix);
    return std::strncmp(name, prefix, length) == 0 && std::strlen(name) == length + kUniqueChars;
}

bool HasMark(int folderFd) {
    struct stat info {};
    return ::fstatat(folderFd, kMark, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode);
}

// Opens the folder without following a link, if it is ours. -1 otherwise.
int OpenOwnFolder(int parentFd, const char* name) {
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool HoldsRecording(int folderFd) {
    const int fd = ::dup(folderFd);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (dir == nullptr) {
        if (fd >= 0) ::close(fd);
        return true;  // unreadable: better left than swept with a take in it
    }
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, kRecordingPrefix, std::strlen(kRecordingPrefix)) == 0) found = true;
    }
    ::closedir(dir);
    return found;
}

// Calls `visit` with the path and descriptor of each of this user's marked folders in
// `folder` whose owner is gone, holding its lock during the call.
template <typename Visit>
void ForEachOrphan(const fs::path& folder, Visit&& visit) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        const bool live = HasForm(entry->d_name, kLivePrefix);
        if (!live && !HasForm(entry->d_name, kStagingPrefix)) continue;
        const int fd = OpenOwnFolder(::dirfd(dir), entry->d_name);
        if (fd < 0) continue;
        // The lock is held for the whole life of the owner: getting it means the owner is gone.
        if (HasMark(fd) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) visit(folder / entry->d_name, fd, live);
        ::close(fd);
    }
    ::closedir(dir);
}

std::string Describe(const fs::path& folder) {
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir != nullptr && *tmpdir != '\0') return std::string("TMPDIR ") + tmpdir;
    return "the temporary folder " + folder.string();
}

}  // namespace

fs::path TemporaryFolder() {
    const char* tmpdir = std::getenv("TMPDIR");
    return (tmpdir != nullptr && *tmpdir != '\0') ? fs::path(tmpdir) : fs::path("/tmp");
}

int RemoveOrphanWorkFolders(const fs::path& folder) {
    int removed = 0;
    const auto now = fs::file_time_type::clock::now();
    ForEachOrphan(folder, [&](const fs::path& path, int fd, bool live) {
        if (HoldsRecording(fd)) return;
        std::error_code error;
        if (live || now - fs::last_write_time(path, error) > kStagingAge) {
            fs::remove_all(path, error);
            if (!error) ++removed;
        }
    });
    return removed;
}

std::unique_ptr<TWorkFolder> TWorkFolder::Open(std::string& problem) {
    problem.clear();
    const fs::path temp = TemporaryFolder();
    RemoveOrphanWorkFolders(temp);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string staging = (temp / (std::string(kStagingPrefix) + "XXXXXX")).string();
        if (::mkdtemp(staging.data()) == nullptr) {
            problem = Describe(temp) + " is not writable: " + std::strerror(errno);
            return nullptr;
        }
        const int fd = ::open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int mark = fd < 0 ? -1 : ::openat(fd, kMark, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (mark >= 0) ::close(mark);
        if (fd < 0 || mark < 0 || ::flock(fd, LOCK_EX) != 0) {
            problem = Describe(temp) + " cannot hold a locked folder: " + std::strerror(errno);
            if (fd >= 0) ::close(fd);
            std::error_code ignored;
            fs::remove_all(staging, ignored);
            return nullptr;
        }
        const std::string suffix = staging.substr(staging.size() - 6);
        const fs::path live = temp / (std::string(kLivePrefix) + suffix);
        // No replacing: a live folder of that name may belong to another process.
        if (::renameat2(AT_FDCWD, staging.c_str(), AT_FDCWD, live.c_str(), RENAME_NOREPLACE) == 0) {
            SetWorkFolder(live.string());
            return std::unique_ptr<TWorkFolder>(new TWorkFolder(live, fd));
        }
        const int error = errno;
        ::close(fd);
        std::error_code ignored;
        fs::remove_all(staging, ignored);
        if (error != EEXIST) {
            problem = Describe(temp) + " is not writable: " + std::strerror(error);
            return nullptr;
        }
    }
    problem = Describe(temp) + " is not writable: no free folder name";
    return nullptr;
}

TWorkFolder::~TWorkFolder() {
    SetWorkFolder({});
    if (!m_leave) {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    ::close(m_lockFd);
}

std::vector<std::string> TWorkFolder::AdoptOrphanRecordings() {
    std::vector<std::string> adopted;
    ForEachOrphan(m_path.parent_path(), [&](const fs::path& path, int fd, bool /*live*/) {
        if (!HoldsRecording(fd)) return;
        std::error_code error;
        std::vector<fs::path> takes;
        for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
            if (entry.path().filename().string().starts_with(kRecordingPrefix)) takes.push_back(entry.path());
        }
        bool all = true;
        for (const fs::path& take : takes) {
            // A fresh name of this run's, which the take then replaces.
            std::string into;
            GetTempName(kRecordingPrefix, into);
            if (!into.empty() && ::rename(take.c_str(), into.c_str()) == 0) {
                adopted.push_back(into);
                continue;
            }
            if (!into.empty()) ::unlink(into.c_str());
            all = false;
        }
        if (all && !error) fs::remove_all(path, error);
    });
    return adopted;
}

std::string TWorkFolder::KeepHere(const std::string& name) {
    if (fs::path(name).parent_path() != m_path) return name;
    ::chmod(name.c_str(), 0600);
    m_leave = true;
    return name;
}

std::string TWorkFolder::Keep(const std::string& name) {
    const fs::path from(name);
    if (from.parent_path() != m_path) return name;
    const fs::path to = m_path.parent_path() / from.filename();
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return to.string();
    m_leave = true;
    return name;
}

}  // namespace ruvo
