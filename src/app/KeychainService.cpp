#include "app/KeychainService.h"

#include <QStringDecoder>

KeychainService& KeychainService::shared()
{
    static KeychainService* instance = new KeychainService;
    return *instance;
}

platform::KeychainLookup KeychainService::readSecureData(const QString& account) const
{
    return platform::KeychainBackend::current().lookup(service, account);
}

std::optional<QString> KeychainService::getSecureData(const QString& account) const
{
    const platform::KeychainLookup result = readSecureData(account);
    if (result.status != platform::KeychainStatus::Success)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(result.data);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

bool KeychainService::saveSecureData(const QString& account, const QString& value, QString* errorText) const
{
    return saveSecureBytes(account, value.toUtf8(), errorText);
}

bool KeychainService::saveSecureBytes(const QString& account, const QByteArray& data, QString* errorText) const
{
    auto& backend = platform::KeychainBackend::current();
    const platform::KeychainLookup existing = backend.lookup(service, account);
    switch (existing.status) {
    case platform::KeychainStatus::Success:
        return backend.update(service, account, data, errorText) == platform::KeychainStatus::Success;
    case platform::KeychainStatus::ItemNotFound:
        return backend.add(service, account, data, itemLabel, itemDescription, errorText) == platform::KeychainStatus::Success;
    case platform::KeychainStatus::Error:
        if (errorText)
            *errorText = existing.errorText;
        return false;
    }
    return false;
}
