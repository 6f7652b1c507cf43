#include "platform/SingleInstanceLock.h"

#include "platform/Console.h"
#include "platform/XdgPaths.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// The one request there is; anything else on the socket is ignored.
const QByteArray kReopen = QByteArrayLiteral("reopen\n");

bool isSymbolicLink(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISLNK(info.st_mode);
}

} // namespace

SingleInstanceLock::SingleInstanceLock(const QString& identifier)
{
    // A lock or socket in a folder another user can write to is theirs to forge or replace.
    QStringList refused;
    const QString folder = XdgPaths::runtimeDir(&refused);
    for (const QString& line : std::as_const(refused))
        Console::printLine(QStringLiteral("Runtime folder not used: ") + line);
    if (folder.isEmpty()) {
        m_errorText = QStringLiteral("no private runtime folder: ") + refused.join(QStringLiteral("; "));
        Console::printLine(QStringLiteral("No private runtime folder: running without the single-instance check"));
        return;
    }
    m_filePath = folder + QLatin1Char('/') + identifier + QStringLiteral(".lock");
    m_socketPath = folder + QLatin1Char('/') + identifier + QStringLiteral(".socket");
    m_lock = std::make_unique<QLockFile>(m_filePath);
    // Never stale by age: a copy that has run for hours still holds it. A lock whose process is
    // gone is still recognised as stale, by its PID.
    m_lock->setStaleLockTime(0);
}

SingleInstanceLock::~SingleInstanceLock()
{
    if (m_server)
        m_server->close();
}

SingleInstanceLock::Result SingleInstanceLock::tryAcquire()
{
    if (!m_lock)
        return Result::unavailable;
    if (m_lock->isLocked())
        return Result::acquired;
    // None of our copies makes a link there; one would be read as the lock of whatever it names.
    if (isSymbolicLink(m_filePath))
        QFile::remove(m_filePath);
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
    return m_lock && m_lock->isLocked();
}

} // namespace platform

namespace platform {

bool SingleInstanceLock::listenForReopen(QObject* context, std::function<void()> onReopen)
{
    if (!isHeld()) {
        m_errorText = QStringLiteral("the instance lock is not held");
        return false;
    }
    if (!m_server) {
        m_server = std::make_unique<QLocalServer>();
        // Only this user: the runtime folder is private as well.
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        // We hold the lock, so a socket file there is one a dead copy left behind.
        QLocalServer::removeServer(m_socketPath);
        if (!m_server->listen(m_socketPath)) {
            m_errorText = QStringLiteral("could not listen on ") + m_socketPath + QStringLiteral(": ") + m_server->errorString();
            m_server.reset();
            return false;
        }
    }
    QPointer<QObject> guard(context);
    QLocalServer* server = m_server.get();
    QObject::connect(server, &QLocalServer::newConnection, context, [server, guard, onReopen] {
        while (QLocalSocket* socket = server->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, guard, onReopen] {
                if (socket->bytesAvailable() < kReopen.size())
                    return;
                const QByteArray request = socket->read(kReopen.size());
                socket->disconnectFromServer();
                if (request == kReopen && guard && onReopen)
                    onReopen();
            });
        }
    });
    return true;
}

bool SingleInstanceLock::notifyRunningInstance(std::chrono::milliseconds timeout) const
{
    if (m_socketPath.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    const int ms = static_cast<int>(timeout.count());
    if (!socket.waitForConnected(ms))
        return false;
    socket.write(kReopen);
    if (!socket.waitForBytesWritten(ms))
        return false;
    // The running copy hangs up once it has read the request.
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(ms);
    return true;
}

} // namespace platform
