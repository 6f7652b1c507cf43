#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QLocalServer;
class QLockFile;
class QObject;

namespace platform {

// One running copy per user session: a lock file in the private runtime folder (XdgPaths::runtimeDir)
// held for the life of the process. Without such a folder there is no lock: tryAcquire() answers
// unavailable. A lock left by a process that died is taken over. Beside the lock the running copy
// listens on a local socket, so that starting the program again reaches it.
class SingleInstanceLock {
public:
    enum class Result {
        acquired,       // we are the only instance
        heldByAnother,  // a live process holds the lock
        unavailable,    // the lock file could not be made (errorText says why)
    };

    explicit SingleInstanceLock(const QString& identifier);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    Result tryAcquire();
    bool isHeld() const;
    QString filePath() const { return m_filePath; }
    QString socketPath() const { return m_socketPath; }
    QString errorText() const { return m_errorText; }

    // While the lock is held: runs `onReopen` on the GUI thread, within `context`'s life, each
    // time another copy calls notifyRunningInstance(). False, with errorText, when it cannot listen.
    bool listenForReopen(QObject* context, std::function<void()> onReopen);
    // From a copy that found the lock held: asks the running one to come forward. False when
    // nothing answered within `timeout`.
    bool notifyRunningInstance(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) const;

private:
    QString m_filePath;
    QString m_socketPath;
    QString m_errorText;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
};

} // namespace platform
