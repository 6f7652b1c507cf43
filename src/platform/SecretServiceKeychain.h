#pragma once

#include "platform/KeychainBackend.h"

namespace platform {

// Generic-password items in the Secret Service (gnome-keyring, KWallet) through libsecret. An item
// carries the attributes "service", "account" and "description"; the label is its display name.
class SecretServiceKeychain : public KeychainBackend {
public:
    KeychainLookup lookup(const QString& service, const QString& account) override;
    KeychainStatus update(const QString& service, const QString& account, const QByteArray& data,
                          QString* errorText) override;
    KeychainStatus add(const QString& service, const QString& account, const QByteArray& data,
                       const QString& label, const QString& description, QString* errorText) override;

    static const char* schemaName();
};

} // namespace platform
