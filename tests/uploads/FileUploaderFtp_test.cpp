// Screenshot uploads over plain FTP to a real local server (pyftpdlib), through the real curl.
#include "uploads/FileUploader.h"

#include "FtpRefusals.h"
#include "app/DebugLogger.h"
#include "LocalServers.h"
#include "ProcessSpy.h"
#include "screenshots/ScreenshotPreviewView.h"
#include "support/TestSupport.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// Quotes, a backslash, Tcl and shell syntax and a non-ASCII letter: each must survive its trip
// through curl's config exactly.
const QString kPassword = QStringLiteral("p\"a\\s $[w]ё-") + test::randomHex(10);
const QString kUser = QStringLiteral("anna");

QImage picture(int seed = 0)
{
    QImage image(64, 48, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgba((x * 4 + seed) & 255, (y * 5) & 255, (x ^ y) & 255, 255));
    return image;
}

class FtpUpload : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = std::make_unique<test::LocalFtpServer>(kUser, kPassword, QStringList{"locked"});
        ASSERT_GT(server->port(), 0) << server->log().toStdString();
    }

    ServerSettings settings() const
    {
        ServerSettings s;
        s.uploadProvider = UploadProvider::ssh;
        s.ftpHost = "127.0.0.1";
        s.ftpPort = server->port();
        s.ftpUsername = kUser;
        s.ftpPassword = kPassword;
        s.ftpDirectory = "/shots";
        s.baseURL = "https://shots.example.test/";
        return s;
    }

    static bool settle(FileUploader& uploader) { return test::waitUntil([&] { return !uploader.isUploading(); }, 60s); }

    std::unique_ptr<test::LocalFtpServer> server;
};

} // namespace

TEST_F(FtpUpload, StoresTheScreenshotAndPublishesItsLink)
{
    test::ProcessSpy spy;
    FileUploader uploader;
    QGuiApplication::clipboard()->setText("earlier");
    uploader.uploadImage(picture(), settings());
    ASSERT_TRUE(settle(uploader));
    ASSERT_FALSE(uploader.lastError()) << uploader.lastError()->toStdString();
    EXPECT_TRUE(uploader.uploadCompleted());
    EXPECT_EQ(uploader.uploadProgress(), 1.0);
    EXPECT_EQ(uploader.currentProcessId(), 0);

    const QStringList files = server->files();
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(files.first().startsWith("shots/screenshot_")) << files.first().toStdString();
    const QString name = files.first().mid(6);
    EXPECT_EQ(uploader.lastUploadedURL(), "https://shots.example.test/shots/" + name);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), *uploader.lastUploadedURL());
    QImage stored(server->root() + "/" + files.first());
    EXPECT_EQ(stored.convertToFormat(QImage::Format_ARGB32), picture());

    // The password went to curl on its standard input only; the copy was private and is gone.
    const QStringList lines = spy.commandLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.first().startsWith("/usr/bin/curl --silent --show-error --ftp-create-dirs")) << lines.first().toStdString();
    EXPECT_FALSE(spy.anyProcessShows(kPassword.toUtf8()));
    EXPECT_FALSE(spy.anyProcessShows(kUser.toUtf8() + ":"));
    ASSERT_EQ(spy.folders().size(), 1);
    const auto folder = spy.folders().first();
    EXPECT_EQ(folder.permissions & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ASSERT_EQ(folder.files.size(), 1);
    EXPECT_EQ(folder.files.first().permissions & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_FALSE(folder.files.first().content.contains(kPassword.toUtf8()));
    EXPECT_FALSE(QFileInfo::exists(folder.path));

    // The spy does see a secret that is put on a command line.
    platform::ProcessRequest leaky;
    leaky.program = "/bin/sh";
    leaky.arguments = {"-c", "sleep 0.2", "sh", kPassword};
    platform::ProcessRunner::run(leaky);
    EXPECT_TRUE(spy.anyProcessShows(kPassword.toUtf8()));
}

TEST_F(FtpUpload, HostileDirectoryNamesLandWhereTyped)
{
    const struct {
        const char* directory;
        const char* folder; // on the server
        const char* linkPart;
    } cases[] = {
        {"my shots/#1", "my shots/#1", "/#1/"},
        {"a?b;type=a", "a?b;type=a", "/a?b;type=a/"},
        {"100%/ünï код/", "100%/ünï код", "/ünï код/"},
        // The folder stays in the link however the directory ends.
        {"/pub/shots/", "pub/shots", "/shots/"},
        {"/pub/shots", "pub/shots", "/shots/"},
        {"///", "", "/"},
        {"", "", "/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.directory);
        FileUploader uploader;
        ServerSettings s = settings();
        s.ftpDirectory = QString::fromUtf8(c.directory);
        uploader.uploadImage(picture(), s);
        ASSERT_TRUE(settle(uploader));
        ASSERT_FALSE(uploader.lastError()) << uploader.lastError()->toStdString();
        const QString folder = server->root() + (c.folder[0] ? "/" + QString::fromUtf8(c.folder) : QString());
        const QStringList stored = QDir(folder).entryList({"screenshot_*.png"}, QDir::Files);
        ASSERT_EQ(stored.size(), 1) << server->files().join(", ").toStdString();
        EXPECT_EQ(*uploader.lastUploadedURL(), "https://shots.example.test" + QString::fromUtf8(c.linkPart) + stored.first());
        QFile::remove(folder + "/" + stored.first());
    }
}

TEST_F(FtpUpload, FailuresShowCurlsOwnMessage)
{
    const struct {
        const char* what;
        std::function<void(ServerSettings&)> change;
        const char* message; // beginning of lastError
    } cases[] = {
        {"wrong password", [](ServerSettings& s) { s.ftpPassword = "wrong"; }, "curl: (67) Access denied: 530"},
        {"refused directory", [](ServerSettings& s) { s.ftpDirectory = "locked"; }, "curl: (25) Failed FTP upload: 550"},
        {"nothing listens", [](ServerSettings& s) { s.ftpPort = test::freeLoopbackPort(); },
         "curl: (7) Failed to connect to 127.0.0.1 port"},
        {"host with spaces", [](ServerSettings& s) { s.ftpHost = " 127.0.0.1 "; }, "curl: (3) URL using bad/illegal format"},
        {"port out of range", [](ServerSettings& s) { s.ftpPort = 70000; }, "curl: (3) URL using bad/illegal format"},
        {"TLS required, server has none", [](ServerSettings& s) { s.useFTPS = true; }, "curl: (64)"},
    };
    FileUploader uploader;
    uploader.uploadImage(picture(), settings());
    ASSERT_TRUE(settle(uploader));
    const std::optional<QString> earlierLink = uploader.lastUploadedURL();
    ASSERT_TRUE(earlierLink);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ServerSettings s = settings();
        c.change(s);
        uploader.uploadImage(picture(), s);
        ASSERT_TRUE(settle(uploader));
        ASSERT_TRUE(uploader.lastError());
        EXPECT_TRUE(uploader.lastError()->startsWith(c.message)) << uploader.lastError()->toStdString();
        EXPECT_TRUE(uploader.lastError()->endsWith("\n")); // exactly as curl printed it
        EXPECT_FALSE(uploader.uploadCompleted());
        EXPECT_EQ(uploader.uploadProgress(), 0.0);
        EXPECT_EQ(uploader.lastUploadedURL(), earlierLink);
        EXPECT_FALSE(uploader.lastError()->contains(kPassword));
    }
    EXPECT_EQ(server->files().size(), 1);
}

TEST_F(FtpUpload, ASecondRequestWhileOneRunsIsRefused)
{
    FileUploader uploader;
    uploader.uploadImage(picture(1), settings());
    uploader.uploadImage(picture(2), settings());
    EXPECT_EQ(uploader.lastError(), "Дождитесь завершения текущей загрузки");
    ASSERT_TRUE(settle(uploader));
    // The first one still ends as a success, with the refusal's text left in place.
    EXPECT_EQ(uploader.lastError(), "Дождитесь завершения текущей загрузки");
    EXPECT_TRUE(uploader.uploadCompleted());
    ASSERT_TRUE(uploader.lastUploadedURL());
    const QStringList files = server->files();
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(QImage(server->root() + "/" + files.first()).convertToFormat(QImage::Format_ARGB32), picture(1));

    // Once it has ended, the next request is accepted and clears the text.
    uploader.uploadImage(picture(3), settings());
    EXPECT_FALSE(uploader.lastError());
    ASSERT_TRUE(settle(uploader));
    EXPECT_EQ(server->files().size(), 2);
}

TEST_F(FtpUpload, ConnectionTestListsTheDirectory)
{
    const struct {
        const char* what;
        std::function<void(ServerSettings&)> change;
        bool success;
    } cases[] = {
        {"right credentials", [](ServerSettings& s) { s.ftpDirectory = "/locked/"; }, true},
        {"login directory", [](ServerSettings& s) { s.ftpDirectory.clear(); }, true},
        {"wrong password", [](ServerSettings& s) { s.ftpPassword = "wrong"; }, false},
        // The upload would create it; the listing fails.
        {"missing directory", [](ServerSettings& s) { s.ftpDirectory = "nope"; }, false},
        {"TLS required", [](ServerSettings& s) { s.useFTPS = true; }, false},
        {"nothing listens", [](ServerSettings& s) { s.ftpPort = test::freeLoopbackPort(); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ServerSettings s = settings();
        c.change(s);
        test::ProcessSpy spy;
        FileUploader uploader;
        QObject context;
        std::optional<ConnectionTestResult> result;
        uploader.testConnection(s, &context, [&](const ConnectionTestResult& r) { result = r; });
        ASSERT_TRUE(test::waitUntil([&] { return result.has_value(); }, 30s));
        EXPECT_EQ(result->success, c.success);
        EXPECT_FALSE(result->error);
        EXPECT_FALSE(spy.anyProcessShows(kPassword.toUtf8()));
        ASSERT_EQ(spy.requests().size(), 1);
        EXPECT_TRUE(spy.requests().first().arguments.contains("--list-only"));
        // The test changes none of the uploader's state.
        EXPECT_FALSE(uploader.isUploading());
        EXPECT_FALSE(uploader.lastError());
    }
}

TEST_F(FtpUpload, ALargeListingDoesNotStallTheTest)
{
    for (int i = 0; i < 3000; ++i)
        QFile(server->root() + QString("/file-with-a-rather-long-name-%1.txt").arg(i)).open(QIODevice::WriteOnly);
    ServerSettings s = settings();
    s.ftpDirectory.clear();
    FileUploader uploader;
    std::optional<ConnectionTestResult> result;
    uploader.testConnection(s, nullptr, [&](const ConnectionTestResult& r) { result = r; });
    ASSERT_TRUE(test::waitUntil([&] { return result.has_value(); }, 30s));
    EXPECT_TRUE(result->success);
}

TEST_F(FtpUpload, ControlCharactersAreRefusedBeforeAnythingRuns)
{
    std::vector<test::FtpRefusalCase> cases = test::ftpLineBreakRefusals(kUser, kPassword, "shots");
    cases.insert(cases.end(), {
        {"NUL in the host", [](ServerSettings& s) { s.ftpHost = QString("127.0.0.1") + QChar(0) + "x"; },
         "Адрес сервера содержит недопустимые символы"},
        {"tab in the password", [](ServerSettings& s) { s.ftpPassword = "a\tb"; }, "Пароль содержит недопустимые символы"},
        {"DEL in the user name", [](ServerSettings& s) { s.ftpUsername = "anna\x7f"; },
         "Имя пользователя содержит недопустимые символы"},
        {"C1 control in the directory", [](ServerSettings& s) { s.ftpDirectory = QString("a") + QChar(0x85) + "b"; },
         "Путь к папке на сервере содержит недопустимые символы"},
        {"line break in the Base URL", [](ServerSettings& s) { s.baseURL = "https://shots.example.test/\nx"; },
         "Base URL содержит недопустимые символы"},
    });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ServerSettings s = settings();
        c.change(s);
        test::ProcessSpy spy;
        FileUploader uploader;
        uploader.uploadImage(picture(), s);
        // Refused at once, like the other settings checks.
        EXPECT_EQ(uploader.lastError(), QString::fromUtf8(c.refusal));
        EXPECT_FALSE(uploader.isUploading());
        ASSERT_TRUE(settle(uploader));

        std::optional<ConnectionTestResult> result;
        uploader.testConnection(s, nullptr, [&](const ConnectionTestResult& r) { result = r; });
        ASSERT_TRUE(test::waitUntil([&] { return result.has_value(); }, 30s));
        EXPECT_FALSE(result->success);
        ASSERT_TRUE(result->error);
        EXPECT_EQ(*result->error, FileUploader::error(5, QString::fromUtf8(c.refusal)));
        s.useSFTP = true;
        result.reset();
        uploader.testConnection(s, nullptr, [&](const ConnectionTestResult& r) { result = r; });
        ASSERT_TRUE(test::waitUntil([&] { return result.has_value(); }, 30s));
        ASSERT_TRUE(result->error);
        EXPECT_EQ(result->error->code, 5);

        test::spin(50ms);
        EXPECT_TRUE(spy.requests().isEmpty());
        EXPECT_TRUE(server->commands().isEmpty()) << server->commands().join("\n").toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(server->root() + "/injected"));
    EXPECT_TRUE(server->files().isEmpty());

    // The server does show what a client sends.
    FileUploader uploader;
    uploader.uploadImage(picture(), settings());
    ASSERT_TRUE(settle(uploader));
    ASSERT_FALSE(uploader.lastError()) << uploader.lastError()->toStdString();
    const QStringList commands = server->commands();
    EXPECT_TRUE(commands.contains("USER " + kUser)) << commands.join("\n").toStdString();
    EXPECT_TRUE(commands.contains("PASS ****"));
    EXPECT_TRUE(std::any_of(commands.begin(), commands.end(), [](const QString& c) { return c.startsWith("STOR "); }));
}

TEST_F(FtpUpload, TheStoredFileIsMadeReadableAndARefusalOfThatIsNoFailure)
{
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "server refuses SITE CHMOD" : "server changes the mode");
        test::LocalFtpServer ftp(kUser, kPassword, {}, refused);
        ASSERT_GT(ftp.port(), 0) << ftp.log().toStdString();
        ServerSettings s = settings();
        s.ftpPort = ftp.port();
        s.ftpDirectory = "web shots";
        const QString logPath = DebugLogger::shared().logFilePath();
        DebugLogger::shared().flush();
        const qint64 logStart = QFileInfo(logPath).size();
        FileUploader uploader;
        uploader.uploadImage(picture(), s);
        ASSERT_TRUE(settle(uploader));
        ASSERT_FALSE(uploader.lastError()) << uploader.lastError()->toStdString();
        EXPECT_TRUE(uploader.uploadCompleted());
        const QStringList stored = QDir(ftp.root() + "/web shots").entryList({"screenshot_*.png"}, QDir::Files);
        ASSERT_EQ(stored.size(), 1);
        EXPECT_EQ(uploader.lastUploadedURL(), "https://shots.example.test/web shots/" + stored.first());
        EXPECT_EQ(QGuiApplication::clipboard()->text(), *uploader.lastUploadedURL());

        // After the transfer, in the folder it went to, by its name alone.
        const QStringList commands = ftp.commands();
        const qsizetype store = commands.indexOf("STOR " + stored.first());
        ASSERT_GE(store, 0) << commands.join("\n").toStdString();
        EXPECT_EQ(commands.value(store + 1), "SITE CHMOD 644 " + stored.first()) << commands.join("\n").toStdString();

        DebugLogger::shared().flush();
        QFile log(logPath);
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        log.seek(logStart);
        const QString written = QString::fromUtf8(log.readAll());
        const QString refusal = "FTP: the server refused SITE CHMOD 644 " + stored.first()
                                + "; the file is stored with the permissions the server gave it: curl: (21) ";
        EXPECT_EQ(written.contains(refusal), refused) << written.toStdString();
        if (!refused) {
            EXPECT_EQ(QFileInfo(ftp.root() + "/web shots/" + stored.first()).permissions() & 0x7077,
                      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
        }
    }
}

TEST_F(FtpUpload, AServerThatCannotBeReachedGetsTheConnectHintAndACleanReport)
{
    ServerSettings s = settings();
    s.ftpPort = test::freeLoopbackPort();
    FileUploader uploader;
    uploader.uploadImage(picture(), s);
    ASSERT_TRUE(settle(uploader));
    ASSERT_TRUE(uploader.lastError());
    const QString error = *uploader.lastError();
    // curl 7.88 no longer says "Connection refused".
    EXPECT_TRUE(error.startsWith("curl: (7) ")) << error.toStdString();
    EXPECT_TRUE(error.endsWith("Couldn't connect to server\n")) << error.toStdString();
    EXPECT_EQ(ScreenshotPreviewView::parseSSHError(error), "Не удалось подключиться к серверу. Проверьте адрес и порт.");

    const QString report = ScreenshotPreviewView::sshErrorReport(QDateTime::fromMSecsSinceEpoch(0, Qt::UTC), error,
                                                                 s.ftpHost, s.ftpPort, "/l");
    EXPECT_TRUE(report.contains("Техническое описание: " + error.trimmed() + "\nСервер: 127.0.0.1:"))
        << report.toStdString();
    EXPECT_FALSE(report.contains("\n\n"));
}
