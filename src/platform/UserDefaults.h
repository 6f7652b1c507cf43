#pragma once

#include <QString>

#include <memory>
#include <optional>

class QSettings;

namespace platform {

// Key-value settings of the user in an INI file (keys at top level). Typed reads tell an absent key
// (nullopt) from a stored value; a value of the wrong form also reads as nullopt.
//
// Changes are kept in memory, where every reader in the process sees them, and written to the file
// together: by sync(), or when the last copy of the object ends (a failure then goes unseen).
class UserDefaults {
public:
    explicit UserDefaults(QString filePath);
    ~UserDefaults();
    UserDefaults(const UserDefaults&);
    UserDefaults& operator=(const UserDefaults&);

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

    // Writes the changes made so far to the file in one go; false when it could not be written
    // (the changes then stay pending).
    bool sync();

private:
    QString m_filePath;
    std::shared_ptr<QSettings> m_settings;
};

} // namespace platform
