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
//
// Host keys: the first key a server shows is trusted and kept in the application's own known-hosts
// file; a different key later makes ssh stop before the password is sent, and the script then ends
// with hostKeyChangedStatus.
class SftpScript {
public:
    static const QString expectPath; // /usr/bin/expect
    static const QString chmodPath;  // /bin/chmod
    static constexpr int hostKeyChangedStatus = 3;

    // The fixed script text; it depends on nothing the user entered.
    static QByteArray scriptText();
    // The batch for sftp: "cd" into the directory when there is one, "put" the copy under the
    // remote name, then make the stored file readable for all (0644), ignoring a refusal of that.
    // Nullopt when a name holds a line break or another control character, which no sftp command
    // line can carry, or when the remote name holds a pattern character ("*?[]" or a backslash).
    static std::optional<QByteArray> batchText(const QString& directory, const QString& localPath, const QString& remoteName);
    // One argument of an sftp command line, in double quotes with backslash and quote escaped.
    static QString quoted(const QString& argument);

    // The run of the script: the password on standard input, the rest (the known-hosts file too)
    // in the environment.
    static platform::ProcessRequest request(const ServerSettings& settings, const QString& scriptPath,
                                            const QString& batchPath);
    // $XDG_DATA_HOME/Kestrova/known_hosts (default ~/.local/share/Kestrova/known_hosts).
    static QString knownHostsPath();
    // Makes the folder of the known-hosts file; empty on success, otherwise the reason.
    static QString prepareKnownHostsFolder();
    // The name a host's line in that file begins with: "host", or "[host]:port" when the port is
    // not 22.
    static QString knownHostsName(const QString& host, int port);

    // The chmod run that makes the script executable for its owner.
    static platform::ProcessRequest chmodRequest(const QString& scriptPath);
};
