#include "platform/UserDefaults.h"

#include "platform/XdgPaths.h"

#include <QSettings>
#include <QStringList>

namespace platform {
namespace {

std::optional<QString> rawText(const QSettings& settings, const QString& key)
{
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return std::nullopt;
    // An unquoted value with commas comes back as a list; it was one text when written by hand.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    if (!value.canConvert<QString>())
        return std::nullopt;
    return value.toString();
}

} // namespace

UserDefaults::UserDefaults(QString filePath)
    : m_filePath(std::move(filePath))
    , m_settings(std::make_shared<QSettings>(m_filePath, QSettings::IniFormat))
{
}

// QSettings writes what is still pending as the last copy ends.
UserDefaults::~UserDefaults() = default;
UserDefaults::UserDefaults(const UserDefaults&) = default;
UserDefaults& UserDefaults::operator=(const UserDefaults&) = default;

QString UserDefaults::standardFilePath()
{
    return XdgPaths::configHome() + QStringLiteral("/Kestrova/Kestrova.conf");
}

UserDefaults UserDefaults::standard()
{
    return UserDefaults(standardFilePath());
}

bool UserDefaults::contains(const QString& key) const
{
    return m_settings->contains(key);
}

std::optional<QString> UserDefaults::string(const QString& key) const
{
    return rawText(*m_settings, key);
}

std::optional<long long> UserDefaults::integer(const QString& key) const
{
    const auto text = rawText(*m_settings, key);
    if (!text)
        return std::nullopt;
    bool ok = false;
    const long long value = text->trimmed().toLongLong(&ok);
    return ok ? std::optional<long long>(value) : std::nullopt;
}

std::optional<bool> UserDefaults::boolean(const QString& key) const
{
    const auto text = rawText(*m_settings, key);
    if (!text)
        return std::nullopt;
    const QString t = text->trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("1"))
        return true;
    if (t == QLatin1String("false") || t == QLatin1String("0"))
        return false;
    return std::nullopt;
}

void UserDefaults::setString(const QString& key, const QString& value)
{
    m_settings->setValue(key, value);
}

void UserDefaults::setInteger(const QString& key, long long value)
{
    m_settings->setValue(key, value);
}

void UserDefaults::setBool(const QString& key, bool value)
{
    m_settings->setValue(key, value);
}

void UserDefaults::remove(const QString& key)
{
    m_settings->remove(key);
}

bool UserDefaults::sync()
{
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

} // namespace platform
