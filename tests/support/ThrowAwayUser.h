#pragma once

// A real local user other than the one the tests run as, made with useradd when the tests run as
// root and removed again: for servers that sign in a real account, and for files another user owns.

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <memory>

#include <pwd.h>
#include <unistd.h>

namespace test {

inline QString randomHex(int length)
{
    QString text;
    for (int i = 0; i < length; ++i)
        text += QLatin1Char("0123456789abcdef"[QRandomGenerator::global()->bounded(16)]);
    return text;
}

// Exists only while this object lives.
class ThrowAwayUser {
public:
    static constexpr const char* marker = "Kestrova test user";

    // Nullopt with the reason when the tests do not run as root or the user cannot be made.
    static std::unique_ptr<ThrowAwayUser> create(const QString& password, QString* whyNot)
    {
        if (geteuid() != 0) {
            *whyNot = "needs root to create a throw-away local user";
            return nullptr;
        }
        removeStaleUsers();
        auto user = std::unique_ptr<ThrowAwayUser>(new ThrowAwayUser);
        user->m_name = "kvt" + randomHex(8);
        user->m_password = password;
        QTemporaryDir home(QDir::tempPath() + "/kestrova-user-XXXXXX");
        if (!home.isValid()) {
            *whyNot = "cannot make a home folder";
            return nullptr;
        }
        home.setAutoRemove(false);
        user->m_home = home.path();
        const ProcessResult add = run("/usr/sbin/useradd", {"-M", "-U", "-d", user->m_home, "-s", "/bin/sh", "-c",
                                                            marker, user->m_name});
        if (add.exitCode != 0) {
            QDir(user->m_home).removeRecursively();
            *whyNot = "useradd failed: " + QString::fromUtf8(add.output);
            return nullptr;
        }
        user->m_created = true;
        const ProcessResult pw = run("/usr/sbin/chpasswd", {}, std::chrono::seconds(30),
                                     QProcessEnvironment::systemEnvironment(),
                                     (user->m_name + ":" + password + "\n").toUtf8());
        const ProcessResult own = run("/bin/chown", {user->m_name + ":" + user->m_name, user->m_home});
        if (pw.exitCode != 0 || own.exitCode != 0) {
            *whyNot = "chpasswd or chown failed: " + QString::fromUtf8(pw.output + own.output);
            return nullptr;
        }
        return user;
    }

    ~ThrowAwayUser()
    {
        if (m_created) {
            // Status 8: a session process of the user (an sshd or vsftpd child) is still ending.
            bool removed = false;
            for (int i = 0; i < 50 && !removed; ++i) {
                removed = run("/usr/sbin/userdel", {m_name}).exitCode != 8;
                if (!removed)
                    QThread::msleep(100);
            }
            if (!removed)
                run("/usr/sbin/userdel", {"-f", m_name});
        }
        if (!m_home.isEmpty())
            QDir(m_home).removeRecursively();
    }

    QString name() const { return m_name; }
    QString password() const { return m_password; }
    QString home() const { return m_home; }
    uid_t uid() const
    {
        const passwd* entry = getpwnam(m_name.toLocal8Bit().constData());
        return entry ? entry->pw_uid : uid_t(-1);
    }
    // Gives `path` to the user (the link itself when it is one); true when done.
    bool own(const QString& path) const
    {
        return run("/bin/chown", {"-h", m_name + ":" + m_name, path}).exitCode == 0;
    }

    // A folder of the home that the user may not write to.
    QString makeLockedFolder(const QString& name) const
    {
        const QString path = m_home + "/" + name;
        QDir().mkpath(path);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                        | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                        | QFileDevice::ExeOther);
        return path; // owned by root
    }

private:
    ThrowAwayUser() = default;

    // Users left behind by a test binary that was killed: their home folder is gone.
    static void removeStaleUsers()
    {
        QFile passwd("/etc/passwd");
        if (!passwd.open(QIODevice::ReadOnly))
            return;
        for (const QByteArray& line : passwd.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(':');
            if (fields.size() >= 6 && fields[4] == marker && !QFileInfo::exists(QString::fromUtf8(fields[5])))
                run("/usr/sbin/userdel", {QString::fromUtf8(fields[0])});
        }
    }

    QString m_name;
    QString m_password;
    QString m_home;
    bool m_created = false;
};

} // namespace test
