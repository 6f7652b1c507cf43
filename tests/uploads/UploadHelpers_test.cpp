// What the own-server uploads need no server for: curl's addresses, arguments and
// config, the SFTP batch and script, upload names and the private temporary files.
#include "uploads/FtpCommand.h"
#include "uploads/SftpScript.h"
#include "uploads/TemporaryUploadFiles.h"
#include "uploads/UploadFileNames.h"

#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <charconv>

namespace {

ServerSettings ftpSettings()
{
    ServerSettings s;
    s.uploadProvider = UploadProvider::ssh;
    s.ftpHost = "files.example.test";
    s.ftpPort = 2121;
    s.ftpUsername = "anna";
    s.ftpPassword = "pa ss\"\\word";
    return s;
}

} // namespace

TEST(FtpCommand, UploadAndListingAddresses)
{
    const struct {
        const char* directory;
        const char* upload;
    } cases[] = {
        {"", "ftp://files.example.test:2121/N.png"},
        {"/", "ftp://files.example.test:2121/N.png"},
        {"///", "ftp://files.example.test:2121/N.png"},
        {"/pub/shots/", "ftp://files.example.test:2121/pub/shots/N.png"},
        {"a/b/", "ftp://files.example.test:2121/a/b/N.png"},
        {"shots", "ftp://files.example.test:2121/shots/N.png"},
        // Names reach the server as typed: nothing in them is read as URL syntax.
        {"my shots/#1", "ftp://files.example.test:2121/my%20shots/%231/N.png"},
        {"a?b;type=a", "ftp://files.example.test:2121/a%3Fb%3Btype%3Da/N.png"},
        {"100%/ü", "ftp://files.example.test:2121/100%25/%C3%BC/N.png"},
    };
    ServerSettings s = ftpSettings();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.directory);
        s.ftpDirectory = c.directory;
        EXPECT_EQ(FtpCommand::uploadURL(s, "N.png").toStdString(), c.upload);
        QString listing = c.upload;
        listing.chop(QString("N.png").size());
        EXPECT_EQ(FtpCommand::listingURL(s), listing);
    }
    // The host and the port go in as stored, so a mistyped one fails at curl.
    s.ftpDirectory.clear();
    s.ftpHost = " spaced host ";
    s.ftpPort = 70000;
    EXPECT_EQ(FtpCommand::uploadURL(s, "N.png"), "ftp:// spaced host :70000/N.png");
}

TEST(FtpCommand, ArgumentsNeverHoldTheCredentials)
{
    ServerSettings s = ftpSettings();
    s.ftpDirectory = "up";
    const QStringList plain = FtpCommand::uploadArguments(s, "/tmp/k/N.png", "N.png");
    EXPECT_EQ(plain, (QStringList{"--silent", "--show-error", "--ftp-create-dirs", "--connect-timeout", "20", "--max-time",
                                  "180", "-T", "/tmp/k/N.png", "-K", "-", "ftp://files.example.test:2121/up/N.png"}));
    s.useFTPS = true;
    const QStringList secure = FtpCommand::uploadArguments(s, "/tmp/k/N.png", "N.png");
    ASSERT_EQ(secure.size(), 13);
    EXPECT_EQ(secure[1], "--ssl-reqd");
    EXPECT_TRUE(secure.last().startsWith("ftp://"));

    const QStringList test = FtpCommand::testArguments(s);
    EXPECT_EQ(test, (QStringList{"--silent", "--ssl-reqd", "--show-error", "--connect-timeout", "10", "--max-time", "20",
                                 "--list-only", "-K", "-", "ftp://files.example.test:2121/up/"}));
    s.useFTPS = false;
    EXPECT_EQ(FtpCommand::testArguments(s).size(), 10);

    for (const QStringList& arguments : {plain, secure, test}) {
        EXPECT_FALSE(arguments.join(' ').contains("anna")) << arguments.join(' ').toStdString();
        EXPECT_FALSE(arguments.join(' ').contains("word"));
    }
    const platform::ProcessRequest request = FtpCommand::uploadRequest(s, "/tmp/k/N.png", "N.png");
    EXPECT_EQ(request.program, "/usr/bin/curl");
    EXPECT_EQ(request.standardInput, FtpCommand::credentialsConfig(s) + "quote = \"-SITE CHMOD 644 N.png\"\n");
    EXPECT_GT(request.timeLimit, std::chrono::seconds(180));
    EXPECT_EQ(FtpCommand::testRequest(s).standardInput, FtpCommand::credentialsConfig(s));
}

TEST(FtpCommand, TheModeChangeNamesTheFileAsCurlReadsIt)
{
    const struct {
        const char* name;
        const char* line; // nullptr: no mode change is asked for
    } cases[] = {
        {"screenshot_1.5.png", "quote = \"-SITE CHMOD 644 screenshot_1.5.png\"\n"},
        {"my shot #1 100%.png", "quote = \"-SITE CHMOD 644 my shot #1 100%.png\"\n"},
        {"q\"uote\\back.png", "quote = \"-SITE CHMOD 644 q\\\"uote\\\\back.png\"\n"},
        {"*star.png", "quote = \"-SITE CHMOD 644 *star.png\"\n"},
        {"кадр.png", "quote = \"-SITE CHMOD 644 кадр.png\"\n"},
        // A line break would end the command and start one of the name's choosing.
        {"a.png\r\nDELE index.html", nullptr},
        {"a.png\nDELE index.html", nullptr},
        {"tab\t.png", nullptr},
    };
    const ServerSettings s = ftpSettings();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray config = FtpCommand::uploadRequest(s, "/tmp/k/x", QString::fromUtf8(c.name)).standardInput;
        EXPECT_EQ(config, FtpCommand::credentialsConfig(s) + (c.line ? QByteArray(c.line) : QByteArray()));
    }
}

TEST(FtpCommand, CredentialsConfigAsCurlReadsIt)
{
    const struct {
        const char* user;
        const char* password;
        const char* config;
    } cases[] = {
        {"anna", "simple", "user = \"anna:simple\"\n"},
        {"anna", "pa ss\"\\word", "user = \"anna:pa ss\\\"\\\\word\"\n"},
        {"anna", "line\nbreak\ttab\rcr", "user = \"anna:line\\nbreak\\ttab\\rcr\"\n"},
        {"аня", "пароль $[x]", "user = \"аня:пароль $[x]\"\n"},
        {"anna", "", "user = \"anna:\"\n"},
    };
    ServerSettings s = ftpSettings();
    for (const auto& c : cases) {
        s.ftpUsername = QString::fromUtf8(c.user);
        s.ftpPassword = QString::fromUtf8(c.password);
        EXPECT_EQ(FtpCommand::credentialsConfig(s).toStdString(), c.config);
    }
}

TEST(SftpScript, BatchQuotesEveryNameForSftp)
{
    const struct {
        const char* directory;
        const char* batch;
    } cases[] = {
        {"", ""},
        {"/var/www/shots", "cd \"/var/www/shots\"\n"},
        {"my shots", "cd \"my shots\"\n"},
        {"a\"b\\c", "cd \"a\\\"b\\\\c\"\n"},
        {"[exec touch x] $env(HOME)", "cd \"[exec touch x] $env(HOME)\"\n"},
        {"-rf", "cd \"./-rf\"\n"},
    };
    // The stored file is made readable for the web server; a server that refuses that still has it.
    const std::string putAndChmod = "put \"/tmp/k/N.png\" \"N.png\"\n-chmod 644 \"N.png\"\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.directory);
        const auto batch = SftpScript::batchText(QString::fromUtf8(c.directory), "/tmp/k/N.png", "N.png");
        ASSERT_TRUE(batch);
        EXPECT_EQ(batch->toStdString(), c.batch + putAndChmod);
    }
    // chmod would expand a pattern in the remote name.
    for (const char* name : {"*.png", "a?.png", "[ab].png", "a\\b.png"})
        EXPECT_FALSE(SftpScript::batchText("", "/tmp/k/N.png", name)) << name;
    // A line break would end the command and start another one.
    for (const QString& hostile : {QString("a\nput /etc/passwd x"), QString("a\rb"), QString("a") + QChar(0) + "b"})
        EXPECT_FALSE(SftpScript::batchText(hostile, "/tmp/k/N.png", "N.png"));
}

TEST(SftpScript, TheScriptHoldsNothingTheUserTyped)
{
    ServerSettings s = ftpSettings();
    s.ftpPassword = "s3cr3t-\"[exec id]\"";
    s.ftpHost = "h[exec id]";
    const QByteArray script = SftpScript::scriptText();
    EXPECT_TRUE(script.startsWith("#!/usr/bin/expect -f\nset timeout 60\nlog_user 1\n"));
    EXPECT_FALSE(script.contains("s3cr3t"));
    EXPECT_FALSE(script.contains("[exec id]"));
    EXPECT_TRUE(script.contains("PubkeyAuthentication=no"));
    EXPECT_TRUE(script.contains("StrictHostKeyChecking=accept-new"));
    EXPECT_FALSE(script.contains("StrictHostKeyChecking=no"));
    EXPECT_FALSE(script.contains("/dev/null"));

    const platform::ProcessRequest request = SftpScript::request(s, "/tmp/k/sftp_upload_X.exp", "/tmp/k/batch");
    EXPECT_EQ(request.program, "/usr/bin/expect");
    EXPECT_EQ(request.arguments, QStringList{"/tmp/k/sftp_upload_X.exp"});
    EXPECT_EQ(request.standardInput, s.ftpPassword.toUtf8());
    EXPECT_EQ(request.environment.value("KESTROVA_SFTP_LOGIN"), "anna@h[exec id]");
    EXPECT_EQ(request.environment.value("KESTROVA_SFTP_PORT"), "2121");
    EXPECT_EQ(request.environment.value("KESTROVA_SFTP_BATCH"), "/tmp/k/batch");
    for (const QString& value : request.environment)
        EXPECT_FALSE(value.contains("s3cr3t"));
    // expect itself parses the script cleanly.
    QTemporaryDir dir;
    QFile file(dir.path() + "/check.exp");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("proc check {} {\n" + script.mid(script.indexOf("set timeout")) + "\n}\nputs parsed\n");
    file.close();
    const test::ProcessResult parsed = test::run("/usr/bin/expect", {file.fileName()}, std::chrono::seconds(10));
    EXPECT_EQ(parsed.output.trimmed(), "parsed");
}

TEST(SftpScript, KnownHostsFileInTheDataFolderAsSshReadsIt)
{
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    QTemporaryDir dir;
    // Characters ssh's option parser and its token expansion would otherwise take for syntax.
    const QString data = dir.path() + "/da ta/100%d/q\"uo\\te";
    qputenv("XDG_DATA_HOME", QFile::encodeName(data));
    EXPECT_EQ(SftpScript::knownHostsPath(), data + "/Kestrova/known_hosts");
    EXPECT_EQ(SftpScript::prepareKnownHostsFolder(), "");
    EXPECT_TRUE(QFileInfo(data + "/Kestrova").isDir());

    const platform::ProcessRequest request = SftpScript::request(ftpSettings(), "/tmp/k/s.exp", "/tmp/k/batch");
    const QString option = request.environment.value("KESTROVA_SFTP_KNOWN_HOSTS");
    // ssh itself reads the option back to the exact path.
    const test::ProcessResult config = test::run("/usr/bin/ssh", {"-G", "-o", option, "127.0.0.1"}, std::chrono::seconds(10));
    EXPECT_TRUE(QString::fromUtf8(config.output).split('\n').contains("userknownhostsfile " + data + "/Kestrova/known_hosts"))
        << option.toStdString() << "\n" << config.output.toStdString();

    // An unset or relative value means the default.
    qunsetenv("XDG_DATA_HOME");
    EXPECT_EQ(SftpScript::knownHostsPath(), QDir::homePath() + "/.local/share/Kestrova/known_hosts");
    qputenv("XDG_DATA_HOME", "relative/data");
    EXPECT_EQ(SftpScript::knownHostsPath(), QDir::homePath() + "/.local/share/Kestrova/known_hosts");
    qputenv("XDG_DATA_HOME", saved);

    EXPECT_EQ(SftpScript::knownHostsName("files.example.test", 22), "files.example.test");
    EXPECT_EQ(SftpScript::knownHostsName("127.0.0.1", 2222), "[127.0.0.1]:2222");
}

TEST(UploadFileNames, ShortestSecondsWithAFraction)
{
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {1733822222.25, "1733822222.25"},
        {1733822222.0, "1733822222.0"},
        {0.5, "0.5"},
        {1733822222.123456, "1733822222.123456"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UploadFileNames::secondsText(c.seconds).toStdString(), c.text);

    const QString name = UploadFileNames::screenshot();
    ASSERT_TRUE(name.startsWith("screenshot_") && name.endsWith(".png")) << name.toStdString();
    const QString number = name.mid(11, name.size() - 15);
    EXPECT_TRUE(number.contains('.'));
    double back = 0;
    const QByteArray bytes = number.toLatin1();
    std::from_chars(bytes.constData(), bytes.constData() + bytes.size(), back);
    EXPECT_EQ(UploadFileNames::secondsText(back), number);
    EXPECT_NEAR(back, QDateTime::currentMSecsSinceEpoch() / 1000.0, 5.0);
}

TEST(TemporaryUploadFiles, PrivateFolderAndRemovalStep)
{
    QString error;
    const QString folder = TemporaryUploadFiles::createFolder(&error);
    ASSERT_FALSE(folder.isEmpty()) << error.toStdString();
    EXPECT_EQ(QFileInfo(folder).permissions() & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString second = TemporaryUploadFiles::createFolder(&error);
    EXPECT_NE(second, folder);
    QDir().rmdir(second);

    const QString a = folder + "/screenshot_1.5.png";
    const QString b = folder + "/other";
    EXPECT_EQ(TemporaryUploadFiles::writeFile(a, "old bytes, longer"), "");
    EXPECT_EQ(TemporaryUploadFiles::writeFile(a, "new"), "");
    EXPECT_EQ(TemporaryUploadFiles::writeFile(b, "b"), "");
    QFile file(a);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "new");
    EXPECT_EQ(QFileInfo(a).permissions() & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    // The folder goes with its last file; a missing file is no error.
    TemporaryUploadFiles::remove(a);
    EXPECT_FALSE(QFile::exists(a));
    EXPECT_TRUE(QFileInfo::exists(folder));
    TemporaryUploadFiles::remove(b);
    EXPECT_FALSE(QFileInfo::exists(folder));
    TemporaryUploadFiles::remove(a);

    // A copy of someone else's folder is removed, the folder itself is not.
    QTemporaryDir other;
    const QString elsewhere = other.path() + "/video-1.0.mp4";
    EXPECT_EQ(TemporaryUploadFiles::writeFile(elsewhere, "v"), "");
    TemporaryUploadFiles::remove(elsewhere);
    EXPECT_FALSE(QFile::exists(elsewhere));
    EXPECT_TRUE(QFileInfo::exists(other.path()));

    EXPECT_FALSE(TemporaryUploadFiles::writeFile("/nonexistent-dir/x", "x").isEmpty());
}
