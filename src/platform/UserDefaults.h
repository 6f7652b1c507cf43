#pragma once

#include <QString>

#include <optional>

namespace platform {

// Key-value settings of the user in an INI file (keys at top level). Typed reads tell an absent key
// (nullopt) from a stored value; a value of the wrong form also reads as nullopt.
class UserDefaults {
public:
    explicit UserDefaults(QString filePath);

    // $XDG_CONFIG_HOME/Kestrova/Kestrova.conf, resolved at each call.
    static UserDefaults standard();
    static QString standardFilePath();

    QString filePath() const { return m_filePath; }

    bool contains(const QString& key) const;
    std::optional<QString> string(const QString& key) const;
    std::optional<long long> integer(const QString& key) const;
    std::optional<bool> boolean(const QString& key) const;

    void setString(const QString& key, const QString& value);
    void setInteger(const QString& key, long long value);
    void setBool(const QString& key, bool value);
    void remove(const QString& key);

    // Writes pending changes to disk; false when the file could not be written.
    bool sync();

private:
    QString m_filePath;
};

} // namespace platform
