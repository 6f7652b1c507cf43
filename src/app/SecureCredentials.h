#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>

// Every secret of the application, stored together as one JSON text in the keychain.
struct SecureCredentials {
    QString ftpPassword;
    QString yandexAccessToken;
    QString yandexRefreshToken;
    QString kestrovaApiToken;
    QMap<QString, QString> ftpPasswords; // key: user name + "@" + host

    // Compact JSON with the five keys in declaration order.
    QByteArray toJson() const;
    // Strict: all five keys with string values (ftpPasswords an object of strings); other members
    // are ignored. Anything else is nullopt.
    static std::optional<SecureCredentials> fromJson(const QByteArray& utf8);

    static QString passwordKey(const QString& user, const QString& host) { return user + QLatin1Char('@') + host; }

    friend bool operator==(const SecureCredentials&, const SecureCredentials&) = default;
};
