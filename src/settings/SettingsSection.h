#pragma once

#include <QList>
#include <QString>

#include <optional>

// The sections of the settings window, in sidebar order. The raw value is the section's identity.
enum class SettingsSection {
    account,
    upload,
    hotkeys,
    about,
};

namespace SettingsSections {

const QList<SettingsSection>& allCases();
QString rawValue(SettingsSection section);
std::optional<SettingsSection> fromRawValue(const QString& raw);
QString title(SettingsSection section);
QString iconName(SettingsSection section);

} // namespace SettingsSections
