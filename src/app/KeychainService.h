#pragma once

#include "platform/KeychainBackend.h"

#include <QString>

#include <optional>

// The one wrapper around the application's generic-password keychain items.
class KeychainService {
public:
    static KeychainService& shared();

    const QString service = QStringLiteral("Kestrova");
    static inline const QString credentialsAccount = QStringLiteral("kestrova_credentials");
    static inline const QString itemLabel = QStringLiteral("Kestrova - настройки и токены авторизации");
    static inline const QString itemDescription = QStringLiteral("Данные для авторизации в облачных сервисах Kestrova");

    // The item's data as UTF-8 text; nullopt when there is none, it is not UTF-8, or the store failed.
    std::optional<QString> getSecureData(const QString& account) const;
    // As getSecureData, but tells a missing item from a store that could not be read.
    platform::KeychainLookup readSecureData(const QString& account) const;
    // Updates the item's data, or adds the item with label and description when it does not exist.
    // Writes nothing when the lookup itself fails. True on success.
    bool saveSecureData(const QString& account, const QString& value, QString* errorText = nullptr) const;
    // As saveSecureData, with the data stored byte for byte as given.
    bool saveSecureBytes(const QString& account, const QByteArray& data, QString* errorText = nullptr) const;
};
