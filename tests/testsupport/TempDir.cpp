#include "tests/testsupport/TempDir.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace ruvo::testsupport {

TempDir::TempDir() {
    if (const char* previous = std::getenv("TMPDIR")) m_previousTmpDir = previous;
    std::string pattern = (std::filesystem::temp_directory_path() / "ruvo-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("TempDir: cannot create a folder from " + pattern);
    m_path = pattern;
    setenv("TMPDIR", m_path.c_str(), 1);
}

TempDir::~TempDir() {
    if (m_previousTmpDir)
        setenv("TMPDIR", m_previousTmpDir->c_str(), 1);
    else
        unsetenv("TMPDIR");
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string TempDir::File(const std::string& name) const { return (m_path / name).string(); }

std::vector<std::string> TempDir::FileNames() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_path)) {
        if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace ruvo::testsupport

namespace ruvo::testsupport {

ScopedEnv::ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* previous = std::getenv(name)) m_previous = previous;
    if (value != nullptr)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (m_previous)
        setenv(m_name.c_str(), m_previous->c_str(), 1);
    else
        unsetenv(m_name.c_str());
}

}  // namespace ruvo::testsupport
