#include "platform/fake/FakeSettingsStore.h"

#include <charconv>

namespace ruvo {

std::optional<std::string> FakeSettingsStore::ReadString(const std::string& section, const std::string& key) const {
    const auto found = Values.find({section, key});
    if (found == Values.end()) {
        return std::nullopt;
    }
    return found->second;
}

void FakeSettingsStore::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    Values[{section, key}] = value;
}

std::optional<std::int32_t> FakeSettingsStore::ReadInt(const std::string& section, const std::string& key) const {
    const std::optional<std::string> text = ReadString(section, key);
    if (!text) {
        return std::nullopt;
    }
    std::int32_t value = 0;
    const char* end = text->data() + text->size();
    const auto [last, error] = std::from_chars(text->data(), end, value);
    if (error != std::errc() || last != end) {
        return std::nullopt;
    }
    return value;
}

void FakeSettingsStore::WriteInt(const std::string& section, const std::string& key, std::int32_t value) {
    Values[{section, key}] = std::to_string(value);
}

void FakeSettingsStore::Remove(const std::string& section, const std::string& key) { Values.erase({section, key}); }

std::vector<std::string> FakeSettingsStore::Keys(const std::string& section) const {
    std::vector<std::string> keys;
    for (const auto& [where, value] : Values) {
        if (where.first == section) {
            keys.push_back(where.second);
        }
    }
    return keys;
}

}  // namespace ruvo
