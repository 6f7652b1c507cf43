#include "uploads/SftpScript.h"

#include "platform/XdgPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

// Each wait inside the script lasts at most 60 s (sign-in, then the batch); this only catches an
// expect that hangs regardless.
constexpr auto kScriptTimeLimit = std::chrono::seconds(300);
constexpr auto kChmodTimeLimit = std::chrono::seconds(10);

// Tcl reads the environment and its channels in the system encoding; UTF-8 keeps non-ASCII
// passwords, logins and names intact on their way to sftp.
const QString kLocale = QStringLiteral("C.UTF-8");

constexpr const char* kScript = R"(#!/usr/bin/expect -f
set timeout 60
log_user 1

# The password comes on standard input and the login and port from the environment: none of them
# is ever part of this text or of a command line.
fconfigure stdin -translation lf -encoding utf-8
set password [read stdin]

# A host key is trusted the first time and held in the application's own known-hosts file; a
# changed one makes ssh stop before it signs in.
spawn /usr/bin/sftp -P $env(KESTROVA_SFTP_PORT) -o BatchMode=no -o StrictHostKeyChecking=accept-new -o $env(KESTROVA_SFTP_KNOWN_HOSTS) -o HashKnownHosts=no -o PasswordAuthentication=yes -o PubkeyAuthentication=no -b $env(KESTROVA_SFTP_BATCH) -- $env(KESTROVA_SFTP_LOGIN)

expect {
    "REMOTE HOST IDENTIFICATION HAS CHANGED" {
        # Matched before any password prompt could be; ssh's whole message is kept for the report.
        expect eof
        exit 3
    }
    "Host key verification failed" {
        exit 3
    }
    "sftp>" {
        # Signed in: sftp works through the batch and ends with a non-zero status at the first
        # command that fails.
        expect {
            timeout {
                exit 1
            }
            eof
        }
        lassign [wait] pid spawnid oserror status
        if {$oserror != 0} {
            exit 1
        }
        exit $status
    }
    -re ".*password.*:" {
        send -- "$password\r"
        exp_continue
    }
    -re ".*Password.*:" {
        send -- "$password\r"
        exp_continue
    }
    "Permission denied" {
        exit 1
    }
    "Connection refused" {
        exit 1
    }
    timeout {
        exit 1
    }
    eof {
        exit 1
    }
}
)";

bool hasControlCharacter(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

// A value of an ssh option as ssh's own config parser reads it: in double quotes, with backslash and
// quote escaped, and "%" doubled because the file name goes through ssh's token expansion.
QString sshOptionValue(const QString& value)
{
    QString escaped;
    for (const QChar c : value) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
            escaped += QLatin1Char('\\');
        else if (c == QLatin1Char('%'))
            escaped += QLatin1Char('%');
        escaped += c;
    }
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

} // namespace

const QString SftpScript::expectPath = QStringLiteral("/usr/bin/expect");
const QString SftpScript::chmodPath = QStringLiteral("/bin/chmod");

QByteArray SftpScript::scriptText()
{
    return QByteArray(kScript);
}

QString SftpScript::quoted(const QString& argument)
{
    QString escaped = argument;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

std::optional<QByteArray> SftpScript::batchText(const QString& directory, const QString& localPath, const QString& remoteName)
{
    if (hasControlCharacter(directory) || hasControlCharacter(localPath) || hasControlCharacter(remoteName))
        return std::nullopt;
    // chmod expands patterns in its path; a remote name with one could change other files.
    if (remoteName.contains(QRegularExpression(QStringLiteral("[*?\\[\\]\\\\]"))))
        return std::nullopt;
    QString batch;
    if (!directory.isEmpty()) {
        // sftp would take a leading "-" for an option of cd.
        const QString target = directory.startsWith(QLatin1Char('-')) ? QStringLiteral("./") + directory : directory;
        batch += QStringLiteral("cd ") + quoted(target) + QLatin1Char('\n');
    }
    batch += QStringLiteral("put ") + quoted(localPath) + QLatin1Char(' ') + quoted(remoteName) + QLatin1Char('\n');
    // sftp gives the stored file the private copy's mode (0600): the web server behind the link
    // must read it. The leading "-" keeps a server that refuses the change from failing an upload
    // that has already been stored.
    batch += QStringLiteral("-chmod 644 ") + quoted(remoteName) + QLatin1Char('\n');
    return batch.toUtf8();
}

platform::ProcessRequest SftpScript::request(const ServerSettings& settings, const QString& scriptPath,
                                             const QString& batchPath)
{
    platform::ProcessRequest request;
    request.program = expectPath;
    request.arguments = {scriptPath};
    request.standardInput = settings.ftpPassword.toUtf8();
    request.environment = {
        {QStringLiteral("KESTROVA_SFTP_PORT"), QString::number(settings.ftpPort)},
        {QStringLiteral("KESTROVA_SFTP_LOGIN"), settings.ftpUsername + QLatin1Char('@') + settings.ftpHost},
        {QStringLiteral("KESTROVA_SFTP_BATCH"), batchPath},
        {QStringLiteral("KESTROVA_SFTP_KNOWN_HOSTS"), QStringLiteral("UserKnownHostsFile=") + sshOptionValue(knownHostsPath())},
        {QStringLiteral("LC_ALL"), kLocale},
    };
    request.timeLimit = kScriptTimeLimit;
    return request;
}

QString SftpScript::knownHostsPath()
{
    return platform::XdgPaths::dataHome() + QStringLiteral("/Kestrova/known_hosts");
}

QString SftpScript::prepareKnownHostsFolder()
{
    // ssh makes the file itself, but not the folder it goes in.
    const QString folder = QFileInfo(knownHostsPath()).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("не удалось создать папку ") + folder;
    return {};
}

QString SftpScript::knownHostsName(const QString& host, int port)
{
    // As ssh writes it at the start of the host's line.
    return port == 22 ? host : QLatin1Char('[') + host + QStringLiteral("]:") + QString::number(port);
}

platform::ProcessRequest SftpScript::chmodRequest(const QString& scriptPath)
{
    platform::ProcessRequest request;
    request.program = chmodPath;
    request.arguments = {QStringLiteral("u+x"), scriptPath};
    request.timeLimit = kChmodTimeLimit;
    return request;
}
