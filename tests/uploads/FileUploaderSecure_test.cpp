// Screenshot uploads over FTPS (vsftpd) and SFTP (sshd) to real local servers that sign in a real
// local user. Run as root, the tests make a throw-away user with a random password and remove it
// afterwards; otherwise they skip.
#include "uploads/FileUploader.h"

#include "LocalServers.h"
#include "ProcessSpy.h"
#include "fakes/FakeNotificationService.h"
#include "platform/XdgPaths.h"
#include "screenshots/ScreenshotPreviewView.h"
#include "support/TestSupport.h"

#include <QClipboard>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGuiApplication>
#include <QImage>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

QImage picture(int seed = 0)
{
    QImage image(80, 60, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgba((x * 3 + seed) & 255, (y * 7) & 255, (x + y) & 255, 255));
    return image;
}

bool settle(FileUploader& uploader)
{
    return test::waitUntil([&] { return !uploader.isUploading(); }, 120s);
}

// One user and both servers for the whole binary: making them takes a second or two.
class Servers : public ::testing::Environment {
public:
    void SetUp() override
    {
        // Quotes, a backslash, Tcl and shell syntax, a space and non-ASCII letters.
        const QString password = QStringLiteral("p\"a\\s $[w]{ё}-") + test::randomHex(10);
        user = test::ThrowAwayUser::create(password, &whyNot);
        if (!user)
            return;
        ssh = std::make_unique<test::LocalSshServer>(*user);
        ftps = std::make_unique<test::LocalFtpsServer>(*user);
        user->makeLockedFolder("locked");
        // Every SFTP success posts a notification: they all go to the stand-in, never to a real
        // notification server that the bus would start for them.
        notifications = std::make_unique<test::FakeNotificationService>();
    }
    void TearDown() override
    {
        notifications.reset();
        ssh.reset();
        ftps.reset();
        user.reset();
    }

    static inline std::unique_ptr<test::ThrowAwayUser> user;
    static inline std::unique_ptr<test::LocalSshServer> ssh;
    static inline std::unique_ptr<test::LocalFtpsServer> ftps;
    static inline std::unique_ptr<test::FakeNotificationService> notifications;
    static inline QString whyNot;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new Servers);

class SecureUpload : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!Servers::user)
            GTEST_SKIP() << "FTPS and SFTP tests skipped: " << Servers::whyNot.toStdString();
    }

    static ServerSettings base()
    {
        ServerSettings s;
        s.uploadProvider = UploadProvider::ssh;
        s.ftpHost = "127.0.0.1";
        s.ftpUsername = Servers::user->name();
        s.ftpPassword = Servers::user->password();
        s.baseURL = "https://shots.example.test";
        return s;
    }
    static ServerSettings sftp()
    {
        ServerSettings s = base();
        s.useSFTP = true;
        s.ftpPort = Servers::ssh->port();
        return s;
    }
    static ServerSettings ftps()
    {
        ServerSettings s = base();
        s.useFTPS = true;
        s.ftpPort = Servers::ftps->port();
        return s;
    }

    static QString home() { return Servers::user->home(); }
    static QStringList screenshotsIn(const QString& folder)
    {
        return QDir(folder).entryList({"screenshot_*.png"}, QDir::Files);
    }
    static void clearScreenshots()
    {
        QDirIterator it(home(), {"screenshot_*.png"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            QFile::remove(it.next());
    }

    void TearDown() override
    {
        if (Servers::user)
            clearScreenshots();
    }
};

// curl trusts the test's self-signed certificate only while this lives.
class TrustTestCertificate {
public:
    TrustTestCertificate() { qputenv("CURL_CA_BUNDLE", Servers::ftps->certificate().toUtf8()); }
    ~TrustTestCertificate() { qunsetenv("CURL_CA_BUNDLE"); }
};

} // namespace

TEST_F(SecureUpload, FtpsStoresTheScreenshot)
{
    ASSERT_GT(Servers::ftps->port(), 0);
    TrustTestCertificate trust;
    test::ProcessSpy spy;
    FileUploader uploader;
    ServerSettings s = ftps();
    s.ftpDirectory = "/new dir/shots/";
    uploader.uploadImage(picture(), s);
    ASSERT_TRUE(settle(uploader));
    ASSERT_FALSE(uploader.lastError()) << uploader.lastError()->toStdString();
    const QStringList stored = screenshotsIn(home() + "/new dir/shots");
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(QImage(home() + "/new dir/shots/" + stored.first()).convertToFormat(QImage::Format_ARGB32), picture());
    EXPECT_EQ(uploader.lastUploadedURL(), "https://shots.example.test/shots/" + stored.first());
    // Stored under the server's umask of 077, then made readable for the web server behind the link.
    const QFileInfo storedFile(home() + "/new dir/shots/" + stored.first());
    EXPECT_EQ(storedFile.permissions() & 0x7077,
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    EXPECT_EQ(storedFile.owner(), Servers::user->name());
    ASSERT_EQ(spy.requests().size(), 1);
    EXPECT_EQ(spy.requests().first().arguments.value(1), "--ssl-reqd");
    EXPECT_FALSE(spy.anyProcessShows(Servers::user->password().toUtf8()));

    std::optional<ConnectionTestResult> result;
    uploader.testConnection(s, nullptr, [&](const ConnectionTestResult& r) { result = r; });
    ASSERT_TRUE(test::waitUntil([&] { return result.has_value(); }, 30s));
    EXPECT_TRUE(result->success);
}

TEST_F(SecureUpload, FtpsFailures)
{
    ASSERT_GT(Servers::ftps->port(), 0);
    const struct {
        const char* what;
        bool trust;
        std::function<void(ServerSettings&)> change;
        const char* message;
    } cases[] = {
        {"wrong password", true, [](ServerSettings& s) { s.ftpPassword = "wrong"; }, "curl: (67) Access denied: 530"},
        {"refused directory", true, [](ServerSettings& s) { s.ftpDirectory = "locked"; }, "curl: (25) Failed FTP upload: 553"},
        {"untrusted certificate", false, [](ServerSettings&) {}, "curl: (60) SSL certificate problem: self-signed certificate"},
        // Without TLS the server refuses the sign-in.
        {"plain FTP", true, [](ServerSettings& s) { s.useFTPS = false; }, "curl: (67) Access denied: 530"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<TrustTestCertificate> trust;
        if (c.trust)
            trust.emplace();
        ServerSettings s = ftps();
        c.change(s);
        FileUploader uploader;
        uploader.uploadImage(picture(), s);
        ASSERT_TRUE(settle(uploader));
        ASSERT_TRUE(uploader.lastError());
        EXPECT_TRUE(uploader.lastError()->startsWith(c.message)) << uploader.lastError()->toStdString();
        EXPECT_FALSE(uploader.lastUploadedURL());

        std::optional<ConnectionTestResult> result;
        uploader.testConnection(s, nullptr, [&](const ConnectionTestResult& r) { result = r; });
        ASSERT_TRUE(test::waitUntil([&] { return result.has_value(); }, 30s));
        EXPECT_EQ(result->success, QString(c.what) == "refused directory"); // listing a read-only folder works
    }
}

TEST_F(SecureUpload, SftpStoresTheScreenshotWithoutRevealingThePassword)
{
    ASSERT_GT(Servers::ssh->port(), 0) << Servers::ssh->log().toStdString();
    test::FakeNotificationService& notifications = *Servers::notifications;
    ASSERT_TRUE(notifications.owned());
    const int postedBefore = notifications.posted().size();
    test::ProcessSpy spy;
    FileUploader uploader;
    ServerSettings s = sftp();
    s.ftpDirectory = home() + "/web shots";
    QDir().mkpath(s.ftpDirectory);
    test::run("/bin/chown", {Servers::user->name(), s.ftpDirectory});
    uploader.uploadImage(picture(), s);
    ASSERT_TRUE(settle(uploader));
    ASSERT_FALSE(uploader.lastError()) << uploader.lastError()->toStdString() << Servers::ssh->log().toStdString();
    EXPECT_TRUE(uploader.uploadCompleted());
    EXPECT_EQ(uploader.uploadProgress(), 1.0);

    const QStringList stored = screenshotsIn(s.ftpDirectory);
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(QImage(s.ftpDirectory + "/" + stored.first()).convertToFormat(QImage::Format_ARGB32), picture());
    // Readable for the web server that serves the link, owned by the user who signed in.
    const QFileInfo storedFile(s.ftpDirectory + "/" + stored.first());
    EXPECT_EQ(storedFile.permissions() & 0x7077,
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    EXPECT_EQ(storedFile.owner(), Servers::user->name());
    const QString link = "https://shots.example.test/web shots/" + stored.first();
    EXPECT_EQ(uploader.lastUploadedURL(), link);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), link);

    ASSERT_TRUE(test::waitUntil([&] { return notifications.posted().size() > postedBefore; }, 5s));
    const test::PostedNotification n = notifications.posted().last();
    EXPECT_EQ(n.summary, "Скриншот загружен");
    EXPECT_EQ(n.body, "Файл " + stored.first() + " успешно загружен на сервер.\nСсылка скопирована в буфер обмена: " + link);

    // expect, sftp and ssh all ran, and none of them shows the password in /proc. (chmod often
    // exits before its /proc entry can be read, so it is not required here.)
    const QStringList lines = spy.commandLines();
    const auto ran = [&](const QString& start) {
        return std::any_of(lines.begin(), lines.end(), [&](const QString& l) { return l.startsWith(start); });
    };
    EXPECT_TRUE(ran("/usr/bin/expect ")) << lines.join("\n").toStdString();
    EXPECT_TRUE(ran("/usr/bin/sftp "));
    EXPECT_TRUE(ran("/usr/bin/ssh ") || ran("ssh "));
    const QByteArray password = Servers::user->password().toUtf8();
    EXPECT_FALSE(spy.anyProcessShows(password));

    // The files of the upload were private, held no password, and are gone.
    ASSERT_EQ(spy.folders().size(), 1);
    const auto folder = spy.folders().first();
    EXPECT_EQ(folder.permissions & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ASSERT_EQ(folder.files.size(), 3);
    for (const auto& file : folder.files) {
        SCOPED_TRACE(file.path.toStdString());
        EXPECT_FALSE(file.content.contains(password));
        EXPECT_EQ(file.permissions & 0x0077, 0);
        if (file.path.endsWith(".exp")) {
            EXPECT_TRUE(QFileInfo(file.path).fileName().startsWith("sftp_upload_"));
            EXPECT_EQ(file.permissions & 0x7000, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
    }
    EXPECT_FALSE(QFileInfo::exists(folder.path));
}

TEST_F(SecureUpload, SftpHostileDirectoryNamesLandWhereTyped)
{
    ASSERT_GT(Servers::ssh->port(), 0);
    // Would be made in the working folder if a name were ever run as Tcl.
    const QString marker = "kestrova-tcl-ran-" + test::randomHex(6);
    const QString names[] = {
        "my shots",
        "quote\"and\\backslash",
        "[exec touch " + marker + "]",
        "$env(HOME) {braces}",
        "-dash",
        "glob*?",
        "ünï код",
    };
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QString folder = home() + "/" + name;
        QDir().mkpath(folder);
        test::run("/bin/chown", {Servers::user->name(), folder});
        ServerSettings s = sftp();
        s.ftpDirectory = name; // relative to the login directory
        FileUploader uploader;
        uploader.uploadImage(picture(), s);
        ASSERT_TRUE(settle(uploader));
        ASSERT_FALSE(uploader.lastError()) << uploader.lastError()->toStdString();
        const QStringList stored = screenshotsIn(folder);
        ASSERT_EQ(stored.size(), 1);
        EXPECT_EQ(uploader.lastUploadedURL(), "https://shots.example.test/" + name + "/" + stored.first());
        EXPECT_TRUE(screenshotsIn(home()).isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(QDir::current().filePath(marker)));

    // A line break would smuggle in a second command: refused before anything runs.
    ServerSettings s = sftp();
    s.ftpDirectory = "x\nput /etc/passwd stolen";
    FileUploader uploader;
    test::ProcessSpy spy;
    uploader.uploadImage(picture(), s);
    ASSERT_TRUE(settle(uploader));
    EXPECT_EQ(uploader.lastError(), "Путь к папке на сервере содержит недопустимые символы");
    EXPECT_TRUE(spy.requests().isEmpty());
}

TEST_F(SecureUpload, SftpFailuresAreFailures)
{
    ASSERT_GT(Servers::ssh->port(), 0);
    const struct {
        const char* what;
        std::function<void(ServerSettings&)> change;
        const char* detail; // in lastError after "Ошибка SFTP (код 1): "
    } cases[] = {
        {"wrong password", [](ServerSettings& s) { s.ftpPassword = "wrong"; }, "Permission denied"},
        {"empty password", [](ServerSettings& s) { s.ftpPassword.clear(); }, "Permission denied"},
        {"nothing listens", [](ServerSettings& s) { s.ftpPort = test::freeLoopbackPort(); }, "Connection refused"},
        // Reported as failures, not as uploads with a link that leads nowhere.
        {"missing directory", [](ServerSettings& s) { s.ftpDirectory = "no such dir"; }, "No such file or directory"},
        {"refused directory", [](ServerSettings& s) { s.ftpDirectory = "locked"; }, "Permission denied"},
        {"unknown user", [](ServerSettings& s) { s.ftpUsername = "kvt-nobody"; }, "Permission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ServerSettings s = sftp();
        c.change(s);
        FileUploader uploader;
        uploader.uploadImage(picture(), s);
        ASSERT_TRUE(settle(uploader));
        ASSERT_TRUE(uploader.lastError());
        const QString error = *uploader.lastError();
        EXPECT_TRUE(error.startsWith("Ошибка SFTP (код 1): ")) << error.toStdString();
        EXPECT_TRUE(error.contains(c.detail)) << error.toStdString();
        EXPECT_FALSE(error.endsWith('\n'));
        EXPECT_FALSE(uploader.uploadCompleted());
        EXPECT_FALSE(uploader.lastUploadedURL());
        EXPECT_FALSE(error.contains(Servers::user->password()));
    }
    EXPECT_TRUE(screenshotsIn(home()).isEmpty());
    EXPECT_TRUE(screenshotsIn(home() + "/locked").isEmpty());
}

TEST_F(SecureUpload, SftpTrustsAHostKeyOnceThenHoldsIt)
{
    // A server of this test alone: it changes its key.
    test::LocalSshServer server(*Servers::user);
    ASSERT_GT(server.port(), 0) << server.log().toStdString();
    const QString knownHosts = platform::XdgPaths::dataHome() + "/Kestrova/known_hosts";
    const QString hostName = QString("[127.0.0.1]:%1").arg(server.port());
    ServerSettings s = sftp();
    s.ftpPort = server.port();
    const auto upload = [&] {
        FileUploader uploader;
        uploader.uploadImage(picture(), s);
        EXPECT_TRUE(settle(uploader));
        return uploader.lastError();
    };
    const auto lineOf = [&]() -> QString {
        QFile file(knownHosts);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        for (const QString& line : QString::fromUtf8(file.readAll()).split('\n'))
            if (line.startsWith(hostName + " "))
                return line;
        return {};
    };

    // First contact: trusted, as before, and the key written down readably under the host's name.
    std::optional<QString> error = upload();
    ASSERT_FALSE(error) << error->toStdString() << server.log().toStdString();
    EXPECT_EQ(screenshotsIn(home()).size(), 1);
    EXPECT_EQ(lineOf(), hostName + " " + server.hostKeyLine());

    // The same port now shows another key: refused before any sign-in.
    ASSERT_TRUE(server.restartWithNewHostKey()) << server.log().toStdString();
    const int logBefore = server.log().size();
    error = upload();
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, "Ошибка SFTP (код 3): Ключ сервера " + hostName
                          + " изменился, соединение прервано до отправки пароля (Host key verification failed). "
                            "Если ключ сервера сменили намеренно, удалите строку «" + hostName + "» из файла "
                          + knownHosts + " и повторите загрузку.");
    EXPECT_EQ(ScreenshotPreviewView::parseSSHError(*error), "Ошибка проверки сервера. Проверьте настройки SSH.");
    EXPECT_EQ(screenshotsIn(home()).size(), 1);
    const QString attempt = server.log().mid(logBefore);
    EXPECT_TRUE(attempt.contains("Connection from 127.0.0.1")) << attempt.toStdString();
    EXPECT_FALSE(attempt.contains("password for")) << attempt.toStdString();
    EXPECT_FALSE(attempt.contains("Accepted")) << attempt.toStdString();
    EXPECT_FALSE(lineOf().isEmpty());
    EXPECT_NE(lineOf(), hostName + " " + server.hostKeyLine());

    // Doing what the text says lets the new key in.
    QFile file(knownHosts);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    file.close();
    lines.removeIf([&](const QString& line) { return line.startsWith(hostName + " "); });
    ASSERT_TRUE(test::writeText(knownHosts, lines.join('\n').toUtf8()));
    error = upload();
    ASSERT_FALSE(error) << error->toStdString();
    EXPECT_EQ(screenshotsIn(home()).size(), 2);
    EXPECT_EQ(lineOf(), hostName + " " + server.hostKeyLine());
}

TEST_F(SecureUpload, SftpConnectionTestOnlyReachesThePort)
{
    ASSERT_GT(Servers::ssh->port(), 0);
    const struct {
        std::function<void(ServerSettings&)> change;
        bool success;
    } cases[] = {
        {[](ServerSettings&) {}, true},
        {[](ServerSettings& s) { s.ftpPassword = "wrong"; }, true}, // no sign-in happens
        {[](ServerSettings& s) { s.ftpPort = test::freeLoopbackPort(); }, false},
    };
    for (const auto& c : cases) {
        ServerSettings s = sftp();
        c.change(s);
        FileUploader uploader;
        std::optional<ConnectionTestResult> result;
        uploader.testSSHConnection(s, nullptr, [&](const ConnectionTestResult& r) { result = r; });
        ASSERT_TRUE(test::waitUntil([&] { return result.has_value(); }, 15s));
        EXPECT_EQ(result->success, c.success);
        EXPECT_EQ(result->error.has_value(), !c.success);
    }
}
