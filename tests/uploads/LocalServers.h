#pragma once

// Real servers for the upload tests, on 127.0.0.1 only: pyftpdlib for plain FTP (no system user),
// vsftpd for FTPS and sshd for SFTP (both sign in a real local user, so a throw-away user is made
// when the tests run as root). Every server is a child that dies with the test binary
// (PR_SET_PDEATHSIG) and is stopped by its owner's destructor.

#include "support/TestSupport.h"
#include "support/ThrowAwayUser.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <memory>
#include <optional>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace test {

// A port nobody listens on right now (the small race with other binaries is retried by callers).
inline int freeLoopbackPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

inline bool waitForPort(int port, std::chrono::milliseconds timeout)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeout.count()) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        if (socket.waitForConnected(200))
            return true;
        QThread::msleep(20);
    }
    return false;
}

inline bool writeText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

// A server program as a child of the test binary, killed with it.
class ServerProcess {
public:
    ServerProcess() = default;
    ServerProcess(const ServerProcess&) = delete;
    ~ServerProcess() { stop(); }

    void start(const QString& program, const QStringList& arguments, const QString& logFile)
    {
        m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        if (!logFile.isEmpty()) {
            m_process.setStandardOutputFile(logFile, QIODevice::Append);
            m_process.setStandardErrorFile(logFile, QIODevice::Append);
        }
        m_process.start(program, arguments);
        m_process.waitForStarted(5000);
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    bool running() const { return m_process.state() == QProcess::Running; }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
};

// Plain FTP with pyftpdlib: one user, a throw-away root; folders named in `readonly` refuse uploads.
// With `refuseChmod` it answers SITE CHMOD with 550.
class LocalFtpServer {
public:
    LocalFtpServer(const QString& user, const QString& password, const QStringList& readonly = {}, bool refuseChmod = false)
    {
        if (!m_root.isValid() || !m_private.isValid())
            return;
        const QString passwordFile = m_private.path() + "/password";
        if (!writeText(passwordFile, password.toUtf8()))
            return;
        QStringList arguments{sourcePath("tests/fakes/ftp_server.py"), "--root", m_root.path(), "--user", user,
                              "--password-file", passwordFile};
        for (const QString& dir : readonly)
            arguments << "--readonly" << dir;
        if (refuseChmod)
            arguments << "--refuse-chmod";
        QProcess& p = m_server.process();
        p.setStandardErrorFile(m_private.path() + "/server.log");
        m_server.start("/usr/bin/python3", arguments, {});
        QElapsedTimer timer;
        timer.start();
        QByteArray line;
        while (timer.elapsed() < 10000 && !line.contains('\n')) {
            p.waitForReadyRead(200);
            line += p.readAll();
            if (p.state() != QProcess::Running)
                break;
        }
        if (line.startsWith("PORT "))
            m_port = line.mid(5).trimmed().toInt();
    }

    int port() const { return m_port; }
    QString root() const { return m_root.path(); }
    // Every file stored, relative to the root.
    QStringList files() const
    {
        QStringList files;
        QDirIterator it(root(), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << QDir(root()).relativeFilePath(it.next());
        return files;
    }
    QString log() const
    {
        QFile f(m_private.path() + "/server.log");
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    // Every command line received so far, in order; PASS shows "PASS ****".
    QStringList commands() const
    {
        QStringList commands;
        for (const QString& line : log().split('\n')) {
            if (line.startsWith("COMMAND "))
                commands << line.mid(8);
        }
        return commands;
    }

private:
    QTemporaryDir m_root;
    QTemporaryDir m_private;
    ServerProcess m_server;
    int m_port = 0;
};

// sshd with its own config and host key; password sign-in for the one user, SFTP only.
class LocalSshServer {
public:
    explicit LocalSshServer(const ThrowAwayUser& user)
        : m_user(user.name())
    {
        if (!m_dir.isValid())
            return;
        QDir().mkpath("/run/sshd");
        if (!makeHostKey())
            return;
        for (int attempt = 0; attempt < 3 && !m_port; ++attempt) {
            const int port = freeLoopbackPort();
            if (startOn(port))
                m_port = port;
        }
    }
    int port() const { return m_port; }
    // Stops the server and starts it again on the same port with a host key of its own, as a
    // reinstalled server (or one pretending to be it) would show. False when it did not come back.
    bool restartWithNewHostKey()
    {
        if (!m_port)
            return false;
        m_server.reset();
        QFile::remove(hostKey());
        QFile::remove(hostKey() + ".pub");
        return makeHostKey() && startOn(m_port);
    }
    // The public host key the server shows now, as "type base64".
    QString hostKeyLine() const
    {
        QFile f(hostKey() + ".pub");
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).section(' ', 0, 1) : QString();
    }
    QString log() const
    {
        QFile f(m_dir.path() + "/sshd.log");
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private:
    QString hostKey() const { return m_dir.path() + "/host_key"; }
    bool makeHostKey() { return run("/usr/bin/ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", hostKey()}).exitCode == 0; }
    bool startOn(int port)
    {
        const QString config = m_dir.path() + "/sshd_config";
        writeText(config, QString("Port %1\nListenAddress 127.0.0.1\nHostKey %2\nPidFile none\nUsePAM no\n"
                                  "PasswordAuthentication yes\nKbdInteractiveAuthentication no\n"
                                  "PubkeyAuthentication no\nPermitRootLogin no\nAllowUsers %3\n"
                                  "Subsystem sftp internal-sftp\nForceCommand internal-sftp\nStrictModes no\n"
                                  "AuthorizedKeysFile none\nMaxAuthTries 6\nLogLevel VERBOSE\n")
                              .arg(port)
                              .arg(hostKey(), m_user)
                              .toUtf8());
        m_server = std::make_unique<ServerProcess>();
        m_server->start("/usr/sbin/sshd", {"-D", "-e", "-f", config}, m_dir.path() + "/sshd.log");
        return waitForPort(port, std::chrono::seconds(10)) && m_server->running();
    }

    QTemporaryDir m_dir;
    QString m_user;
    std::unique_ptr<ServerProcess> m_server;
    int m_port = 0;
};

// vsftpd with TLS required for sign-in and data, and a self-signed certificate for 127.0.0.1 that
// curl is told to trust through CURL_CA_BUNDLE. Its umask is vsftpd's own default, 077: a file
// stays private to the user unless the client changes its mode.
class LocalFtpsServer {
public:
    explicit LocalFtpsServer(const ThrowAwayUser& user)
    {
        Q_UNUSED(user);
        if (!m_dir.isValid())
            return;
        const QString dir = m_dir.path();
        QDir().mkpath(dir + "/empty");
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                       | QFileDevice::ReadOther | QFileDevice::ExeOther);
        m_certificate = dir + "/cert.pem";
        const ProcessResult cert = run("/usr/bin/openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                                                            dir + "/key.pem", "-out", m_certificate, "-days", "2", "-subj",
                                                            "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
        if (cert.exitCode != 0)
            return;
        for (int attempt = 0; attempt < 3 && !m_port; ++attempt) {
            const int port = freeLoopbackPort();
            const QString config = dir + "/vsftpd.conf";
            writeText(config, QString("listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=%1\n"
                                      "background=NO\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\n"
                                      "local_umask=077\npam_service_name=vsftpd\nsecure_chroot_dir=%2/empty\n"
                                      "seccomp_sandbox=NO\nssl_enable=YES\nrsa_cert_file=%2/cert.pem\n"
                                      "rsa_private_key_file=%2/key.pem\nforce_local_logins_ssl=YES\n"
                                      "force_local_data_ssl=YES\nrequire_ssl_reuse=NO\npasv_enable=YES\n"
                                      "pasv_address=127.0.0.1\nuserlist_enable=NO\nxferlog_enable=NO\n"
                                      "delay_failed_login=0\nvsftpd_log_file=%2/vsftpd.log\n")
                                  .arg(port)
                                  .arg(dir)
                                  .toUtf8());
            m_server = std::make_unique<ServerProcess>();
            m_server->start("/usr/sbin/vsftpd", {config}, dir + "/vsftpd.out");
            if (waitForPort(port, std::chrono::seconds(10)) && m_server->running())
                m_port = port;
        }
    }
    int port() const { return m_port; }
    QString certificate() const { return m_certificate; }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<ServerProcess> m_server;
    QString m_certificate;
    int m_port = 0;
};

} // namespace test
