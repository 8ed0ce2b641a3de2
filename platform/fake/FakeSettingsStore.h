#pragma once
// Settings for tests: an in-memory map that starts empty and is lost with the object.

#include "platform/ISettingsStore.h"

#include <map>
#include <string>
#include <utility>

namespace ruvo {

class FakeSettingsStore : public ISettingsStore {
public:
    std::optional<std::string> ReadString(const std::string& section, const std::string& key) const override;
    void WriteString(const std::string& section, const std::string& key, const std::string& value) override;
    std::optional<std::int32_t> ReadInt(const std::string& section, const std::string& key) const override;
    void WriteInt(const std::string& section, const std::string& key, std::int32_t value) override;
    void Remove(const std::string& section, const std::string& key) override;
    std::vector<std::string> Keys(const std::string& section) const override;

    // Everything stored, by (section, key).
    std::map<std::pair<std::string, std::string>, std::string> Values;
};

}  // namespace ruvo
