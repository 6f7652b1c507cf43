#pragma once

#include "app/ServerSettings.h"
#include "platform/ProcessRunner.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The curl runs that speak FTP and FTPS to the user's own server: an upload of one file and the
// listing of the remote directory that serves as the connection test.
//
// The user name and password never appear among the arguments (where every local user can read
// them in /proc): curl reads them from a config on its standard input ("-K -").
class FtpCommand {
public:
    static const QString curlPath; // /usr/bin/curl

    // "ftp://" + host + ":" + port + the directory part + "/" + fileName. The directory loses its
    // outer slashes; each of its names is percent-encoded, so spaces, "#", "?" or "%" in a name
    // reach the server as typed instead of breaking the address. The scheme is "ftp" for FTPS too.
    static QString uploadURL(const ServerSettings& settings, const QString& fileName);
    // The same address for the directory itself, ending in "/".
    static QString listingURL(const ServerSettings& settings);
    // "/" + the encoded directory names, or empty for no directory (empty, or only slashes).
    static QString directoryPart(const QString& ftpDirectory);

    // The upload's arguments: 20 s to connect, 180 s in all, missing directories created.
    static QStringList uploadArguments(const ServerSettings& settings, const QString& localPath, const QString& fileName);
    // The connection test's arguments: a name listing with 10 s to connect, 20 s in all.
    static QStringList testArguments(const ServerSettings& settings);
    // Whether `text` holds a control character (C0, DEL or C1): a line break in a value that goes
    // into an FTP command or an sftp batch line would end it and start another.
    static bool holdsControlCharacter(const QString& text);
    // The config curl reads on its standard input: user = "name:password", quoted for curl.
    static QByteArray credentialsConfig(const ServerSettings& settings);
    // The upload's config: the credentials, then "SITE CHMOD 644 <fileName>" sent after the
    // transfer, since a server's umask (vsftpd's default is 077) may leave the file unreadable for
    // the web server behind the link. A name holding a control character gets no such command:
    // a line break in it would end the command and start another.
    static QByteArray uploadConfig(const ServerSettings& settings, const QString& fileName);

    // curl's status when a command after the transfer was refused: the file is stored whole.
    static constexpr int modeRefusedStatus = 21;
    // The outcome of an upload run: a refused mode change is written to the log, and the run then
    // counts as the success it is.
    static platform::ProcessResult uploadOutcome(platform::ProcessResult result, const QString& fileName);

    // Complete requests for platform::ProcessRunner, time limits included.
    static platform::ProcessRequest uploadRequest(const ServerSettings& settings, const QString& localPath,
                                                  const QString& fileName);
    static platform::ProcessRequest testRequest(const ServerSettings& settings);
};
