#include "uploads/FtpCommand.h"

#include "app/DebugLogger.h"

#include <QUrl>

#include <algorithm>

namespace {

// curl stops itself at --max-time; these limits only catch a curl that hangs regardless.
constexpr auto kUploadTimeLimit = std::chrono::seconds(180 + 20);
constexpr auto kTestTimeLimit = std::chrono::seconds(20 + 10);

QString serverPrefix(const ServerSettings& settings)
{
    // The host is used as stored: a mistyped host must fail visibly at curl, not be "repaired".
    return QStringLiteral("ftp://") + settings.ftpHost + QLatin1Char(':') + QString::number(settings.ftpPort);
}

QStringList leadingArguments(const ServerSettings& settings)
{
    QStringList arguments{QStringLiteral("--silent")};
    if (settings.useFTPS)
        arguments << QStringLiteral("--ssl-reqd");
    arguments << QStringLiteral("--show-error");
    return arguments;
}

// A quoted value of a curl config: backslash and quote escaped, and the control characters that
// would end the line written as curl's escapes.
QByteArray quotedConfigValue(const QString& value)
{
    QByteArray out("\"");
    for (const char c : value.toUtf8()) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\v': out += "\\v"; break;
        default: out += c; break;
        }
    }
    out += '"';
    return out;
}

} // namespace

const QString FtpCommand::curlPath = QStringLiteral("/usr/bin/curl");

QString FtpCommand::directoryPart(const QString& ftpDirectory)
{
    QString trimmed = ftpDirectory;
    while (trimmed.startsWith(QLatin1Char('/')))
        trimmed.remove(0, 1);
    while (trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    if (trimmed.isEmpty())
        return {};
    QStringList names = trimmed.split(QLatin1Char('/'));
    for (QString& name : names)
        name = QString::fromLatin1(QUrl::toPercentEncoding(name));
    return QLatin1Char('/') + names.join(QLatin1Char('/'));
}

QString FtpCommand::uploadURL(const ServerSettings& settings, const QString& fileName)
{
    return serverPrefix(settings) + directoryPart(settings.ftpDirectory) + QLatin1Char('/')
           + QString::fromLatin1(QUrl::toPercentEncoding(fileName));
}

QString FtpCommand::listingURL(const ServerSettings& settings)
{
    return serverPrefix(settings) + directoryPart(settings.ftpDirectory) + QLatin1Char('/');
}

QStringList FtpCommand::uploadArguments(const ServerSettings& settings, const QString& localPath, const QString& fileName)
{
    return leadingArguments(settings)
           << QStringLiteral("--ftp-create-dirs") << QStringLiteral("--connect-timeout") << QStringLiteral("20")
           << QStringLiteral("--max-time") << QStringLiteral("180") << QStringLiteral("-T") << localPath
           << QStringLiteral("-K") << QStringLiteral("-") << uploadURL(settings, fileName);
}

QStringList FtpCommand::testArguments(const ServerSettings& settings)
{
    return leadingArguments(settings)
           << QStringLiteral("--connect-timeout") << QStringLiteral("10") << QStringLiteral("--max-time")
           << QStringLiteral("20") << QStringLiteral("--list-only") << QStringLiteral("-K") << QStringLiteral("-")
           << listingURL(settings);
}

QByteArray FtpCommand::credentialsConfig(const ServerSettings& settings)
{
    return "user = " + quotedConfigValue(settings.ftpUsername + QLatin1Char(':') + settings.ftpPassword) + '\n';
}

bool FtpCommand::holdsControlCharacter(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f); });
}

QByteArray FtpCommand::uploadConfig(const ServerSettings& settings, const QString& fileName)
{
    QByteArray config = credentialsConfig(settings);
    if (holdsControlCharacter(fileName))
        return config;
    // "-": after the transfer, in the folder the file went to. Without curl's "*" a refusal makes
    // curl end with modeRefusedStatus, which uploadOutcome tells apart from a failed transfer.
    return config + "quote = " + quotedConfigValue(QStringLiteral("-SITE CHMOD 644 ") + fileName) + '\n';
}

platform::ProcessResult FtpCommand::uploadOutcome(platform::ProcessResult result, const QString& fileName)
{
    if (result.outcome != platform::ProcessResult::Outcome::exited || result.exitCode != modeRefusedStatus)
        return result;
    DebugLogger::shared().log(QStringLiteral("FTP: the server refused SITE CHMOD 644 ") + fileName
                              + QStringLiteral("; the file is stored with the permissions the server gave it: ")
                              + QString::fromUtf8(result.output).trimmed());
    result.exitCode = 0;
    result.output.clear();
    return result;
}

platform::ProcessRequest FtpCommand::uploadRequest(const ServerSettings& settings, const QString& localPath,
                                                   const QString& fileName)
{
    platform::ProcessRequest request;
    request.program = curlPath;
    request.arguments = uploadArguments(settings, localPath, fileName);
    request.standardInput = uploadConfig(settings, fileName);
    request.timeLimit = kUploadTimeLimit;
    return request;
}

platform::ProcessRequest FtpCommand::testRequest(const ServerSettings& settings)
{
    platform::ProcessRequest request;
    request.program = curlPath;
    request.arguments = testArguments(settings);
    request.standardInput = credentialsConfig(settings);
    request.timeLimit = kTestTimeLimit;
    return request;
}
