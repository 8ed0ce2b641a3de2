#include "platform/posix/PendingFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <climits>
#include <fcntl.h>
#include <random>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ruvo {
namespace fs = std::filesystem;
namespace {

constexpr const char* kPrefix = ".ruvo-";
constexpr const char* kSuffix = ".part";
constexpr std::size_t kUniqueChars = 6;
bool g_allowUnnamed = true;

bool IsPendingName(const std::string& name) {
    const std::size_t prefix = std::strlen(kPrefix);
    const std::size_t suffix = std::strlen(kSuffix);
    return name.size() == prefix + kUniqueChars + suffix && name.compare(0, prefix, kPrefix) == 0 &&
           name.compare(name.size() - suffix, suffix, kSuffix) == 0;
}

std::string ShortName(const fs::path& folder) {
    thread_local std::mt19937_64 random{std::random_device{}()};
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string unique;
    for (std::size_t i = 0; i < kUniqueChars; ++i) unique += kChars[random() % (sizeof kChars - 1)];
    return (folder / (kPrefix + unique + kSuffix)).string();
}

fs::path FolderOf(const fs::path& target) {
    const fs::path folder = target.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

mode_t CreationMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

int RemoveStrayPendingFiles(const fs::path& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsPendingName(entry->d_name)) continue;
        const int fd = ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat info {};
        // A writer holds its lock until the file is in place: getting it means the writer is gone.
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) {
            ++removed;
        }
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

void TPendingFile::AllowUnnamed(bool allow) { g_allowUnnamed = allow; }

TPendingFile::~TPendingFile() { Discard(); }

void TPendingFile::Discard() {
    if (m_fd < 0) return;
    if (!m_unnamed) ::unlink(m_writePath.c_str());
    ::close(m_fd);
    m_fd = -1;
    m_writePath.clear();
}

std::string TPendingFile::Create(const fs::path& target) {
    Discard();
    m_target = target;
    const fs::path folder = FolderOf(target);
    // The name is used only when the file is put in place: one too long is told now.
    const long nameMax = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (target.filename().string().size() > static_cast<std::size_t>(nameMax > 0 ? nameMax : NAME_MAX) ||
        target.string().size() >= PATH_MAX) {
        return std::strerror(ENAMETOOLONG);
    }
    // Each folder is swept once per process; a batch into one folder does not rescan it.
    static std::set<std::string> swept;
    if (swept.insert(fs::absolute(folder).lexically_normal().string()).second) RemoveStrayPendingFiles(folder);

    errno = EOPNOTSUPP;
    m_fd = g_allowUnnamed ? ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, CreationMode()) : -1;
    if (m_fd >= 0) {
        m_unnamed = true;
        m_writePath = "/proc/self/fd/" + std::to_string(m_fd);
        // The name through /proc must open; without /proc the short name serves.
        if (::access(m_writePath.c_str(), W_OK) == 0 && ::flock(m_fd, LOCK_EX) == 0) return {};
        ::close(m_fd);
        m_fd = -1;
    } else if (const int error = errno; error != EOPNOTSUPP && error != EISDIR && error != EINVAL) {
        // A missing folder, no permission, a read-only file system: no name would do better.
        return std::strerror(error);
    }

    m_unnamed = false;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = ShortName(folder);
        m_fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, CreationMode());
        if (m_fd >= 0) {
            m_writePath = name;
            ::flock(m_fd, LOCK_EX);
            return {};
        }
        if (errno != EEXIST) return std::strerror(errno);
    }
    return std::strerror(EEXIST);
}

std::string TPendingFile::Commit() {
    if (m_fd < 0) return std::strerror(EBADF);
    if (m_unnamed) {
        if (::linkat(AT_FDCWD, m_writePath.c_str(), AT_FDCWD, m_target.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            ::close(m_fd);
            m_fd = -1;
            return {};
        }
        if (errno != EEXIST) return std::strerror(errno);
        // The target exists: a short name first, then renamed over it (the lock still holds
        // for the short name, so a sweep never takes it while this process lives).
        const fs::path folder = FolderOf(m_target);
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string name = ShortName(folder);
            if (::linkat(AT_FDCWD, m_writePath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                m_unnamed = false;
                m_writePath = name;
                break;
            }
            if (errno != EEXIST) return std::strerror(errno);
        }
        if (m_unnamed) return std::strerror(EEXIST);
    }
    // A replaced file keeps its permissions (a private 0600 stays private).
    struct stat replaced {};
    if (::lstat(m_target.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode)) {
        (void)::fchmod(m_fd, replaced.st_mode & 07777);
    }
    if (::rename(m_writePath.c_str(), m_target.c_str()) != 0) return std::strerror(errno);
    ::close(m_fd);
    m_fd = -1;
    m_writePath.clear();
    return {};
}

}  // namespace ruvo
