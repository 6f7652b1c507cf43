#include "platform/InMemoryKeychain.h"

namespace platform {
namespace {

QString keyOf(const QString& service, const QString& account)
{
    return service + QChar(0) + account;
}

const QString unavailableText = QStringLiteral("the keychain is unavailable");

} // namespace

KeychainLookup InMemoryKeychain::lookup(const QString& service, const QString& account)
{
    std::lock_guard lock(m_mutex);
    if (m_unavailable)
        return {KeychainStatus::Error, {}, unavailableText};
    const auto it = m_items.constFind(keyOf(service, account));
    if (it == m_items.constEnd())
        return {KeychainStatus::ItemNotFound, {}, {}};
    return {KeychainStatus::Success, it->data, {}};
}

KeychainStatus InMemoryKeychain::update(const QString& service, const QString& account, const QByteArray& data,
                                        QString* errorText)
{
    std::lock_guard lock(m_mutex);
    if (m_unavailable) {
        if (errorText)
            *errorText = unavailableText;
        return KeychainStatus::Error;
    }
    auto it = m_items.find(keyOf(service, account));
    if (it == m_items.end())
        return KeychainStatus::ItemNotFound;
    it->data = data;
    ++m_writes;
    return KeychainStatus::Success;
}

KeychainStatus InMemoryKeychain::add(const QString& service, const QString& account, const QByteArray& data,
                                     const QString& label, const QString& description, QString* errorText)
{
    std::lock_guard lock(m_mutex);
    if (m_unavailable) {
        if (errorText)
            *errorText = unavailableText;
        return KeychainStatus::Error;
    }
    m_items.insert(keyOf(service, account), Item{data, label, description});
    ++m_writes;
    return KeychainStatus::Success;
}

void InMemoryKeychain::setUnavailable(bool unavailable)
{
    std::lock_guard lock(m_mutex);
    m_unavailable = unavailable;
}

std::optional<InMemoryKeychain::Item> InMemoryKeychain::item(const QString& service, const QString& account) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_items.constFind(keyOf(service, account));
    if (it == m_items.constEnd())
        return std::nullopt;
    return *it;
}

void InMemoryKeychain::putItem(const QString& service, const QString& account, const Item& item)
{
    std::lock_guard lock(m_mutex);
    m_items.insert(keyOf(service, account), item);
}

int InMemoryKeychain::writeCount() const
{
    std::lock_guard lock(m_mutex);
    return m_writes;
}

} // namespace platform
