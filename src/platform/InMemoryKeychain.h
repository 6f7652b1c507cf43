#pragma once

#include "platform/KeychainBackend.h"

#include <QMap>

#include <optional>

#include <mutex>

namespace platform {

// A keychain held in memory, for tests; it can be made to fail like a locked store.
class InMemoryKeychain : public KeychainBackend {
public:
    struct Item {
        QByteArray data;
        QString label;
        QString description;
    };

    KeychainLookup lookup(const QString& service, const QString& account) override;
    KeychainStatus update(const QString& service, const QString& account, const QByteArray& data,
                          QString* errorText) override;
    KeychainStatus add(const QString& service, const QString& account, const QByteArray& data,
                       const QString& label, const QString& description, QString* errorText) override;

    void setUnavailable(bool unavailable);
    std::optional<Item> item(const QString& service, const QString& account) const;
    void putItem(const QString& service, const QString& account, const Item& item);
    int writeCount() const;

private:
    mutable std::mutex m_mutex;
    QMap<QString, Item> m_items;
    bool m_unavailable = false;
    int m_writes = 0;
};

} // namespace platform
