#pragma once
// Per-user persistent settings (recent files, window placements), addressed by a section and a
// key. Implemented by QtSettingsStore (platform/qt) and FakeSettingsStore (platform/fake);
// UI thread only.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ruvo {

class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;
    virtual std::optional<std::string> ReadString(const std::string& section, const std::string& key) const = 0;
    virtual void WriteString(const std::string& section, const std::string& key, const std::string& value) = 0;
    // Empty when the key is missing or does not hold a whole number.
    virtual std::optional<std::int32_t> ReadInt(const std::string& section, const std::string& key) const = 0;
    virtual void WriteInt(const std::string& section, const std::string& key, std::int32_t value) = 0;
    virtual void Remove(const std::string& section, const std::string& key) = 0;
    // The keys stored in `section`, sorted.
    virtual std::vector<std::string> Keys(const std::string& section) const = 0;
};

}  // namespace ruvo
