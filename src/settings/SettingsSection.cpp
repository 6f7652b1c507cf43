#include "settings/SettingsSection.h"

namespace SettingsSections {

const QList<SettingsSection>& allCases()
{
    static const QList<SettingsSection> cases{SettingsSection::account, SettingsSection::upload,
                                              SettingsSection::hotkeys, SettingsSection::about};
    return cases;
}

QString rawValue(SettingsSection section)
{
    switch (section) {
    case SettingsSection::account:
        return QStringLiteral("account");
    case SettingsSection::upload:
        return QStringLiteral("upload");
    case SettingsSection::hotkeys:
        return QStringLiteral("hotkeys");
    case SettingsSection::about:
        return QStringLiteral("about");
    }
    return {};
}

std::optional<SettingsSection> fromRawValue(const QString& raw)
{
    for (SettingsSection section : allCases())
        if (rawValue(section) == raw)
            return section;
    return std::nullopt;
}

QString title(SettingsSection section)
{
    switch (section) {
    case SettingsSection::account:
        return QStringLiteral("Аккаунт");
    case SettingsSection::upload:
        return QStringLiteral("Загрузка");
    case SettingsSection::hotkeys:
        return QStringLiteral("Горячие клавиши");
    case SettingsSection::about:
        return QStringLiteral("О программе");
    }
    return {};
}

QString iconName(SettingsSection section)
{
    switch (section) {
    case SettingsSection::account:
        return QStringLiteral("person.circle.fill");
    case SettingsSection::upload:
        return QStringLiteral("tray.and.arrow.up.fill");
    case SettingsSection::hotkeys:
        return QStringLiteral("keyboard.fill");
    case SettingsSection::about:
        return QStringLiteral("info.circle.fill");
    }
    return {};
}

} // namespace SettingsSections
