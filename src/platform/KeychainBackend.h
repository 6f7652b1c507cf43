#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace platform {

enum class KeychainStatus {
    Success,
    ItemNotFound,
    Error, // the store could not be asked: no Secret Service, locked, denied, a backend failure
};

struct KeychainLookup {
    KeychainStatus status = KeychainStatus::Error;
    QByteArray data;   // the item's secret when status is Success
    QString errorText; // the backend's message when status is Error
};

// A store of generic-password items, each keyed by service and account.
class KeychainBackend {
public:
    virtual ~KeychainBackend() = default;

    virtual KeychainLookup lookup(const QString& service, const QString& account) = 0;
    // Replaces only the data of an existing item.
    virtual KeychainStatus update(const QString& service, const QString& account, const QByteArray& data,
                                  QString* errorText) = 0;
    // Creates an item; label and description are given only here.
    virtual KeychainStatus add(const QString& service, const QString& account, const QByteArray& data,
                               const QString& label, const QString& description, QString* errorText) = 0;
    // True when a call can take long (a prompt, a service over D-Bus): the first read of the
    // launch then runs off the GUI thread.
    virtual bool mayBlock() const { return false; }

    // The backend used by the application: the Secret Service unless a test installed another.
    static KeychainBackend& current();
    // The same, shared: for work that may outlive the process's static objects (a thread left
    // waiting at exit).
    static std::shared_ptr<KeychainBackend> currentShared();
    static void setCurrent(std::shared_ptr<KeychainBackend> backend);
};

} // namespace platform
