#pragma once

#include "app/ServerSettings.h"
#include "platform/ProcessRunner.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The SFTP upload: an expect script that starts the system's sftp client with password sign-in,
// answers its password prompts and lets sftp run a batch of two commands (cd, put).
//
// Nothing the user typed is ever read as script text: the password arrives on expect's standard
// input, the login and the port in its environment, and the directory and file names in the batch
// file, quoted for sftp. Neither file holds the password. In batch mode sftp stops at the first
// command that fails and exits non-zero, so a directory that cannot be entered or a refused put is
// reported as a failure rather than as an upload.
class SftpScript {
public:
    static const QString expectPath; // /usr/bin/expect
    static const QString chmodPath;  // /bin/chmod

    // The fixed script text; it depends on nothing the user entered.
    static QByteArray scriptText();
    // The batch for sftp: "cd" into the directory when there is one, then "put" the copy under
    // the remote name. Nullopt when a name holds a line break or another control character, which
    // no sftp command line can carry.
    static std::optional<QByteArray> batchText(const QString& directory, const QString& localPath, const QString& remoteName);
    // One argument of an sftp command line, in double quotes with backslash and quote escaped.
    static QString quoted(const QString& argument);

    // The run of the script: the password on standard input, the rest in the environment.
    static platform::ProcessRequest request(const ServerSettings& settings, const QString& scriptPath,
                                            const QString& batchPath);
    // The chmod run that makes the script executable for its owner.
    static platform::ProcessRequest chmodRequest(const QString& scriptPath);
};
