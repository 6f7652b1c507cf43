#include "platform/SecretServiceKeychain.h"

// glib uses "signals" as a member name; Qt defines it as a keyword.
#undef signals
#include <libsecret/secret.h>
#define signals Q_SIGNALS

#include <mutex>

namespace platform {
namespace {

const SecretSchema* schema()
{
    static const SecretSchema s = {
        "org.kestrova.GenericPassword",
        SECRET_SCHEMA_NONE,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"description", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &s;
}

// libsecret's synchronous calls run their own main context; keep them from overlapping.
std::mutex secretMutex;

struct Attributes {
    GHashTable* table;
    QByteArray service;
    QByteArray account;
    Attributes(const QString& s, const QString& a)
        : table(g_hash_table_new(g_str_hash, g_str_equal)), service(s.toUtf8()), account(a.toUtf8())
    {
        g_hash_table_insert(table, const_cast<char*>("service"), service.data());
        g_hash_table_insert(table, const_cast<char*>("account"), account.data());
    }
    ~Attributes() { g_hash_table_unref(table); }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;
};

QString takeError(GError*& error)
{
    QString text = error && error->message ? QString::fromUtf8(error->message) : QStringLiteral("unknown Secret Service error");
    g_clear_error(&error);
    return text;
}

// The first item with this service and account, its secret loaded, or nullptr.
SecretItem* findItem(const Attributes& attrs, KeychainStatus* status, QString* errorText)
{
    GError* error = nullptr;
    GList* items = secret_service_search_sync(nullptr, schema(), attrs.table,
        static_cast<SecretSearchFlags>(SECRET_SEARCH_LOAD_SECRETS | SECRET_SEARCH_UNLOCK), nullptr, &error);
    if (error) {
        *status = KeychainStatus::Error;
        *errorText = takeError(error);
        g_list_free_full(items, g_object_unref);
        return nullptr;
    }
    SecretItem* item = items ? SECRET_ITEM(g_object_ref(items->data)) : nullptr;
    g_list_free_full(items, g_object_unref);
    *status = item ? KeychainStatus::Success : KeychainStatus::ItemNotFound;
    return item;
}

} // namespace

const char* SecretServiceKeychain::schemaName()
{
    return schema()->name;
}

KeychainLookup SecretServiceKeychain::lookup(const QString& service, const QString& account)
{
    std::lock_guard lock(secretMutex);
    KeychainLookup result;
    Attributes attrs(service, account);
    SecretItem* item = findItem(attrs, &result.status, &result.errorText);
    if (!item)
        return result;
    SecretValue* value = secret_item_get_secret(item);
    if (!value) {
        // Present but still locked after the unlock attempt.
        result.status = KeychainStatus::Error;
        result.errorText = QStringLiteral("the keychain item is locked");
    } else {
        gsize length = 0;
        const gchar* bytes = secret_value_get(value, &length);
        result.data = QByteArray(bytes, static_cast<qsizetype>(length));
        secret_value_unref(value);
    }
    g_object_unref(item);
    return result;
}

KeychainStatus SecretServiceKeychain::update(const QString& service, const QString& account, const QByteArray& data,
                                             QString* errorText)
{
    std::lock_guard lock(secretMutex);
    Attributes attrs(service, account);
    KeychainStatus status;
    QString error;
    SecretItem* item = findItem(attrs, &status, &error);
    if (!item) {
        if (errorText)
            *errorText = error;
        return status;
    }
    SecretValue* value = secret_value_new(data.constData(), data.size(), "text/plain");
    GError* gerror = nullptr;
    const gboolean ok = secret_item_set_secret_sync(item, value, nullptr, &gerror);
    secret_value_unref(value);
    g_object_unref(item);
    if (!ok) {
        if (errorText)
            *errorText = takeError(gerror);
        return KeychainStatus::Error;
    }
    return KeychainStatus::Success;
}

KeychainStatus SecretServiceKeychain::add(const QString& service, const QString& account, const QByteArray& data,
                                          const QString& label, const QString& description, QString* errorText)
{
    std::lock_guard lock(secretMutex);
    Attributes attrs(service, account);
    const QByteArray descriptionBytes = description.toUtf8();
    g_hash_table_insert(attrs.table, const_cast<char*>("description"), const_cast<char*>(descriptionBytes.constData()));
    SecretValue* value = secret_value_new(data.constData(), data.size(), "text/plain");
    GError* gerror = nullptr;
    const gboolean ok = secret_service_store_sync(nullptr, schema(), attrs.table, SECRET_COLLECTION_DEFAULT,
        label.toUtf8().constData(), value, nullptr, &gerror);
    secret_value_unref(value);
    if (!ok) {
        if (errorText)
            *errorText = takeError(gerror);
        return KeychainStatus::Error;
    }
    return KeychainStatus::Success;
}

} // namespace platform
