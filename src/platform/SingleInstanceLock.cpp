#include "platform/SingleInstanceLock.h"

#include "platform/XdgPaths.h"

#include <QLockFile>

namespace platform {

SingleInstanceLock::SingleInstanceLock(const QString& identifier)
    : m_filePath(XdgPaths::runtimeDir() + QLatin1Char('/') + identifier + QStringLiteral(".lock"))
    , m_lock(std::make_unique<QLockFile>(m_filePath))
{
    // Never stale by age: a copy that has run for hours still holds it. A lock whose process is
    // gone is still recognised as stale, by its PID.
    m_lock->setStaleLockTime(0);
}

SingleInstanceLock::~SingleInstanceLock() = default;

SingleInstanceLock::Result SingleInstanceLock::tryAcquire()
{
    if (m_lock->isLocked())
        return Result::acquired;
    if (m_lock->tryLock(0))
        return Result::acquired;
    switch (m_lock->error()) {
    case QLockFile::LockFailedError:
        return Result::heldByAnother;
    case QLockFile::PermissionError:
        m_errorText = QStringLiteral("no permission to create ") + m_filePath;
        return Result::unavailable;
    case QLockFile::NoError:
    case QLockFile::UnknownError:
        break;
    }
    m_errorText = QStringLiteral("could not create ") + m_filePath;
    return Result::unavailable;
}

bool SingleInstanceLock::isHeld() const
{
    return m_lock->isLocked();
}

} // namespace platform
