#pragma once

#include <QString>

#include <memory>

class QLockFile;

namespace platform {

// One running copy per user session: a lock file in $XDG_RUNTIME_DIR held for the life of the
// process. A lock left by a process that died is taken over.
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
    QString errorText() const { return m_errorText; }

private:
    QString m_filePath;
    QString m_errorText;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace platform
