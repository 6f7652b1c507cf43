#pragma once

#include "platform/KeychainBackend.h"

#include <chrono>

namespace platform {

// Generic-password items in the Secret Service (gnome-keyring, KWallet) through libsecret. An item
// carries the attributes "service", "account" and "description"; the label is its display name.
//
// libsecret can wait without end on an unlock prompt or on a service that never answers, so every
// call runs on a thread of its own and the caller waits a bounded time: on the GUI thread in a
// nested event loop (the tray, hot keys and quitting keep working), elsewhere on a condition
// variable. A call that runs out of time is cancelled and fails; after one, the service counts as
// unresponsive for the rest of the process and every later call fails at once. Once a read has
// failed (a declined unlock prompt among others), later calls no longer ask to unlock. When the
// application quits, the calls of its shutdown (saving what the settings window holds) and writes
// still out get one second from the start of the quit; as the application object goes, whatever
// is left is cancelled.
class SecretServiceKeychain : public KeychainBackend {
public:
    KeychainLookup lookup(const QString& service, const QString& account) override;
    KeychainStatus update(const QString& service, const QString& account, const QByteArray& data,
                          QString* errorText) override;
    KeychainStatus add(const QString& service, const QString& account, const QByteArray& data,
                       const QString& label, const QString& description, QString* errorText) override;
    bool mayBlock() const override { return true; }

    static const char* schemaName();

    static constexpr std::chrono::milliseconds defaultWaitBound{10000};
    // Tests: a shorter bound for the calls started from now on.
    static void setWaitBoundForTesting(std::chrono::milliseconds bound);
};

} // namespace platform
