#pragma once
// Settings in the user's Qt settings file (an INI file on Linux), one group per section.
// Owned by main(); UI thread only.

#include "platform/ISettingsStore.h"

#include <QSettings>

namespace ruvo {

class QtSettingsStore : public ISettingsStore {
public:
    // The organisation and application names choose the file.
    QtSettingsStore(const QString& organisation, const QString& application);

    std::optional<std::string> ReadString(const std::string& section, const std::string& key) const override;
    void WriteString(const std::string& section, const std::string& key, const std::string& value) override;
    std::optional<std::int32_t> ReadInt(const std::string& section, const std::string& key) const override;
    void WriteInt(const std::string& section, const std::string& key, std::int32_t value) override;
    void Remove(const std::string& section, const std::string& key) override;
    std::vector<std::string> Keys(const std::string& section) const override;

    // Writes pending changes to disk now (QSettings otherwise writes on its own schedule).
    void Sync();

private:
    mutable QSettings m_settings;
};

}  // namespace ruvo
