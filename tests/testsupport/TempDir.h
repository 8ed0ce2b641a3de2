#pragma once
// A fresh folder for one test, removed with everything in it when the object goes. While it
// lives, TMPDIR names it, so the engine's work files land inside it. One thread.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ruvo::testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // Full path of `name` inside the folder, as the engine takes file names.
    std::string File(const std::string& name) const;
    // Names of the plain files now in the folder, sorted.
    std::vector<std::string> FileNames() const;

private:
    std::filesystem::path m_path;
    std::optional<std::string> m_previousTmpDir;
};

}  // namespace ruvo::testsupport

namespace ruvo::testsupport {

// Sets (or, with nullptr, unsets) an environment variable while the object lives.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

}  // namespace ruvo::testsupport
