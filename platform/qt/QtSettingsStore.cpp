#include "platform/qt/QtSettingsStore.h"

#include <algorithm>

namespace ruvo {

namespace {

QString KeyPath(const std::string& section, const std::string& key) {
    return QString::fromStdString(section) + QLatin1Char('/') + QString::fromStdString(key);
}

}  // namespace

QtSettingsStore::QtSettingsStore(const QString& organisation, const QString& application)
    : m_settings(QSettings::IniFormat, QSettings::UserScope, organisation, application) {}

std::optional<std::string> QtSettingsStore::ReadString(const std::string& section, const std::string& key) const {
    const QVariant value = m_settings.value(KeyPath(section, key));
    if (!value.isValid()) {
        return std::nullopt;
    }
    return value.toString().toStdString();
}

void QtSettingsStore::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    m_settings.setValue(KeyPath(section, key), QString::fromStdString(value));
}

std::optional<std::int32_t> QtSettingsStore::ReadInt(const std::string& section, const std::string& key) const {
    const QVariant value = m_settings.value(KeyPath(section, key));
    if (!value.isValid()) {
        return std::nullopt;
    }
    bool ok = false;
    const int number = value.toString().trimmed().toInt(&ok);
    if (!ok) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(number);
}

void QtSettingsStore::WriteInt(const std::string& section, const std::string& key, std::int32_t value) {
    m_settings.setValue(KeyPath(section, key), static_cast<int>(value));
}

void QtSettingsStore::Remove(const std::string& section, const std::string& key) {
    m_settings.remove(KeyPath(section, key));
}

std::vector<std::string> QtSettingsStore::Keys(const std::string& section) const {
    m_settings.beginGroup(QString::fromStdString(section));
    const QStringList keys = m_settings.childKeys();
    m_settings.endGroup();
    std::vector<std::string> result;
    result.reserve(static_cast<std::size_t>(keys.size()));
    for (const QString& key : keys) {
        result.push_back(key.toStdString());
    }
    std::sort(result.begin(), result.end());
    return result;
}

void QtSettingsStore::Sync() { m_settings.sync(); }

}  // namespace ruvo
