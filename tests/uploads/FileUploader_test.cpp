// The uploader's rules and the paths that need no server: the settings check, the link rule, the
// refusals, the outcomes before any transfer, and the connection tests that decide without curl.
#include "uploads/FileUploader.h"

#include "app/AppState.h"
#include "support/TestSupport.h"
#include "uploads/YandexDiskUploader.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;

namespace {

ServerSettings sshSettings()
{
    ServerSettings s;
    s.uploadProvider = UploadProvider::ssh;
    s.ftpHost = "127.0.0.1";
    s.ftpPort = 1; // nothing listens there
    s.ftpUsername = "anna";
    s.ftpPassword = "secret";
    s.baseURL = "https://shots.example.test";
    return s;
}

QImage picture()
{
    QImage image(40, 30, QImage::Format_ARGB32);
    image.fill(QColor(20, 120, 220));
    return image;
}

// The Yandex client's addresses during a test: a closed port on 127.0.0.1. A token that turned up in
// the credentials cache would then fail the test here rather than reach Yandex.
class YandexOffline {
public:
    YandexOffline()
    {
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost, 0);
        const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
        YandexDiskUploader::setOriginsForTesting(origin, origin);
    }
    ~YandexOffline() { YandexDiskUploader::setOriginsForTesting({}, {}); }
    YandexOffline(const YandexOffline&) = delete;
    YandexOffline& operator=(const YandexOffline&) = delete;
};

bool noYandexTokenCached()
{
    const auto credentials = AppState::credentials();
    return !credentials || credentials->yandexAccessToken.isEmpty();
}

bool settle(FileUploader& uploader)
{
    return test::waitUntil([&] { return !uploader.isUploading(); }, 30s);
}

// Runs a connection test and waits for its single outcome.
std::optional<ConnectionTestResult> testOnce(const ServerSettings& settings, std::chrono::milliseconds timeout = 15s)
{
    FileUploader uploader;
    QObject context;
    int calls = 0;
    std::optional<ConnectionTestResult> outcome;
    uploader.testConnection(settings, &context, [&](const ConnectionTestResult& r) {
        ++calls;
        outcome = r;
    });
    test::waitUntil([&] { return calls > 0; }, timeout);
    test::spin(20ms);
    EXPECT_LE(calls, 1);
    return outcome;
}

} // namespace

TEST(FileUploader, SettingsCheck)
{
    const auto with = [](UploadProvider provider, const std::function<void(ServerSettings&)>& change) {
        ServerSettings s = sshSettings();
        s.uploadProvider = provider;
        change(s);
        return s;
    };
    const struct {
        ServerSettings settings;
        const char* error; // nullptr: valid
    } cases[] = {
        {with(UploadProvider::ssh, [](ServerSettings&) {}), nullptr},
        {with(UploadProvider::kestrovaCloud, [](ServerSettings& s) { s = {}; }), nullptr},
        {with(UploadProvider::ssh, [](ServerSettings& s) { s.ftpHost.clear(); }), "Не указан адрес SSH/SFTP сервера"},
        // Spaces count as a host here; the transfer reports them.
        {with(UploadProvider::ssh, [](ServerSettings& s) { s.ftpHost = "   "; }), nullptr},
        {with(UploadProvider::ssh, [](ServerSettings& s) { s.ftpUsername.clear(); }),
         "Не указано имя пользователя для SSH/SFTP"},
        {with(UploadProvider::ssh, [](ServerSettings& s) { s.ftpHost.clear(); s.ftpUsername.clear(); }),
         "Не указан адрес SSH/SFTP сервера"},
        {with(UploadProvider::ssh, [](ServerSettings& s) { s.baseURL = " \n\t "; }), "Не указан Base URL для формирования ссылки"},
        {with(UploadProvider::ssh, [](ServerSettings& s) { s.baseURL = "ftp://x"; }),
         "Base URL должен начинаться с http:// или https://"},
        {with(UploadProvider::ssh, [](ServerSettings& s) { s.baseURL = "HTTPS://x"; }),
         "Base URL должен начинаться с http:// или https://"},
        {with(UploadProvider::ssh, [](ServerSettings& s) { s.baseURL = "  http://x  "; }), nullptr},
        // Password, port and directory are not checked.
        {with(UploadProvider::ssh, [](ServerSettings& s) { s.ftpPassword.clear(); s.ftpPort = -5; }), nullptr},
        // Control characters come after the texts of missing settings.
        {with(UploadProvider::ssh, [](ServerSettings& s) { s.ftpPassword = "pw\r\nDELE x"; }), "Пароль содержит недопустимые символы"},
        {with(UploadProvider::ssh, [](ServerSettings& s) { s.ftpPassword = "pw\n"; s.baseURL.clear(); }),
         "Не указан Base URL для формирования ссылки"},
        {with(UploadProvider::ssh, [](ServerSettings& s) { s.ftpHost = "h\n"; s.ftpUsername = "u\n"; }),
         "Адрес сервера содержит недопустимые символы"},
        {with(UploadProvider::ssh, [](ServerSettings& s) { s.ftpDirectory = "пап ка/ü"; s.ftpPassword = "пароль ё"; }), nullptr},
        // The Base URL goes into the link on the clipboard and in the history: a pasted line break
        // at its end is refused too, not trimmed away.
        {with(UploadProvider::ssh, [](ServerSettings& s) { s.baseURL = "https://shots.example.test/\n"; }),
         "Base URL содержит недопустимые символы"},
        {with(UploadProvider::ssh, [](ServerSettings& s) { s.baseURL = "https://shots.example.test/a\r\nb"; }),
         "Base URL содержит недопустимые символы"},
        {with(UploadProvider::ssh, [](ServerSettings& s) { s.baseURL = QString("https://x/") + QChar(0x9b); }),
         "Base URL содержит недопустимые символы"},
        {with(UploadProvider::ssh, [](ServerSettings& s) { s.baseURL = "https://x/\t"; s.ftpDirectory = "d\n"; }),
         "Путь к папке на сервере содержит недопустимые символы"},
        {with(UploadProvider::ssh, [](ServerSettings& s) { s.baseURL = "https://кадры.example/ü a"; }), nullptr},
        // Other providers do not use these settings.
        {with(UploadProvider::webdav, [](ServerSettings& s) { s.webdavURL = "https://dav"; s.ftpPassword = "\n"; }), nullptr},
        {with(UploadProvider::yandexDisk, [](ServerSettings&) {}), "Необходима авторизация в Яндекс.Диске"},
        {with(UploadProvider::yandexDisk, [](ServerSettings& s) { s.yandexAccessToken = "t"; }), nullptr},
        {with(UploadProvider::dropbox, [](ServerSettings&) {}), "Необходима авторизация в Dropbox"},
        {with(UploadProvider::googleDrive, [](ServerSettings&) {}), "Необходима авторизация в Google Drive"},
        {with(UploadProvider::webdav, [](ServerSettings&) {}), "Не указан URL WebDAV сервера"},
        {with(UploadProvider::webdav, [](ServerSettings& s) { s.webdavURL = "https://dav"; }), nullptr},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const FileUploader::Validation v = FileUploader::validateSettings(cases[i].settings);
        EXPECT_EQ(v.isValid, cases[i].error == nullptr);
        EXPECT_EQ(v.error, cases[i].error ? std::optional<QString>(QString::fromUtf8(cases[i].error)) : std::nullopt);
    }
}

TEST(FileUploader, LinkRule)
{
    const struct {
        const char* base;
        const char* directory;
        const char* link;
    } cases[] = {
        {"https://b.test", "/var/www/shots", "https://b.test/shots/N.png"},
        {"https://b.test/", "/var/www/shots", "https://b.test/shots/N.png"},
        {"https://b.test//", "", "https://b.test//N.png"},
        // Trailing slashes do not hide the folder.
        {"https://b.test", "shots/", "https://b.test/shots/N.png"},
        {"https://b.test", "/var/www/shots/", "https://b.test/shots/N.png"},
        {"https://b.test", "/var/www/shots//", "https://b.test/shots/N.png"},
        {"https://b.test", "///", "https://b.test/N.png"},
        {"https://b.test", "", "https://b.test/N.png"},
        {"https://b.test", "/", "https://b.test/N.png"},
        {"https://b.test", "a/b", "https://b.test/b/N.png"},
        {"https://b.test", "single", "https://b.test/single/N.png"},
        {"", "/pub/shots", "N.png"},
        {" https://b.test ", "", " https://b.test /N.png"},
    };
    ServerSettings s = sshSettings();
    for (const auto& c : cases) {
        s.baseURL = c.base;
        s.ftpDirectory = c.directory;
        EXPECT_EQ(FileUploader::createFileURL("N.png", s).toStdString(), c.link) << c.base << " " << c.directory;
    }
}

TEST(FileUploader, RefusedRequestsTouchOnlyTheError)
{
    FileUploader uploader;
    EXPECT_EQ(uploader.uploadProgress(), 0.0);
    EXPECT_FALSE(uploader.isUploading());
    EXPECT_FALSE(uploader.lastError());
    EXPECT_FALSE(uploader.lastUploadedURL());
    EXPECT_FALSE(uploader.uploadCompleted());
    EXPECT_FALSE(uploader.lastUsedSettings());

    QSignalSpy uploading(&uploader, &FileUploader::isUploadingChanged);
    ServerSettings s = sshSettings();
    s.baseURL = "ftp://wrong";
    uploader.uploadImage(picture(), s);
    EXPECT_EQ(uploader.lastError(), "Base URL должен начинаться с http:// или https://");
    EXPECT_FALSE(uploader.isUploading());
    EXPECT_EQ(uploading.count(), 0);
    EXPECT_FALSE(uploader.lastUsedSettings());

    // The preview clears the text when its banner closes.
    uploader.setLastError(std::nullopt);
    EXPECT_FALSE(uploader.lastError());
}

TEST(FileUploader, OutcomesBeforeAnyTransfer)
{
    ServerSettings cloud;
    ServerSettings dropbox;
    dropbox.uploadProvider = UploadProvider::dropbox;
    dropbox.dropboxAccessToken = "t";
    ServerSettings drive;
    drive.uploadProvider = UploadProvider::googleDrive;
    drive.googleDriveAccessToken = "t";
    ServerSettings dav;
    dav.uploadProvider = UploadProvider::webdav;
    dav.webdavURL = "https://dav";
    ServerSettings blankHost = sshSettings();
    blankHost.ftpHost = "    "; // a tab would be refused by the check, as a control character
    ServerSettings yandex;
    yandex.uploadProvider = UploadProvider::yandexDisk;
    yandex.yandexAccessToken = "t"; // passes the settings check; the client reads the cache only
    const YandexOffline offline;
    ASSERT_TRUE(noYandexTokenCached());

    const struct {
        ServerSettings settings;
        QImage image;
        const char* error;
        double progress;
    } cases[] = {
        {cloud, picture(), "Загрузка в Kestrova Cloud обрабатывается отдельно", 0.0},
        {dropbox, picture(), "Dropbox пока не поддерживается", 0.0},
        {drive, picture(), "Google Drive пока не поддерживается", 0.0},
        {dav, picture(), "WebDAV пока не поддерживается", 0.0},
        {blankHost, picture(), "Не указан адрес FTP сервера", 0.0},
        {sshSettings(), QImage(),
         "Ошибка: не удалось получить TIFF представление изображения. Попробуйте сделать новый скриншот.", 0.0},
        // The Yandex branch follows the settings' provider and fails with the client's text.
        {yandex, picture(), "Ошибка загрузки на Яндекс.Диск: Токен доступа не найден", 0.0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        FileUploader uploader;
        uploader.uploadImage(cases[i].image, cases[i].settings);
        EXPECT_TRUE(uploader.isUploading());
        ASSERT_TRUE(settle(uploader));
        ASSERT_TRUE(uploader.lastError());
        EXPECT_EQ(uploader.lastError()->toStdString(), cases[i].error);
        EXPECT_FALSE(uploader.uploadCompleted());
        EXPECT_FALSE(uploader.lastUploadedURL());
        EXPECT_EQ(uploader.uploadProgress(), cases[i].progress);
        EXPECT_EQ(uploader.lastUsedSettings(), cases[i].settings);
    }
}

TEST(FileUploader, UnreachableServerFailsWithCurlsMessage)
{
    FileUploader uploader;
    uploader.uploadImage(picture(), sshSettings());
    // A second request while the first runs is refused and changes nothing else.
    uploader.uploadImage(picture(), sshSettings());
    EXPECT_EQ(uploader.lastError(), "Дождитесь завершения текущей загрузки");
    EXPECT_TRUE(uploader.isUploading());
    ASSERT_TRUE(settle(uploader));
    ASSERT_TRUE(uploader.lastError());
    EXPECT_TRUE(uploader.lastError()->startsWith("curl: (7) Failed to connect to 127.0.0.1 port 1"))
        << uploader.lastError()->toStdString();
    EXPECT_FALSE(uploader.lastUploadedURL());
    EXPECT_EQ(uploader.currentProcessId(), 0);
}

TEST(FileUploader, CopiesThatCannotBeWrittenAreFailures)
{
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", "/nonexistent-kestrova-temp");
    const struct {
        bool sftp;
        const char* prefix;
    } cases[] = {
        {false, "Не удалось подготовить файл для FTP: "},
        {true, "Ошибка подготовки файла для SFTP загрузки: "},
    };
    for (const auto& c : cases) {
        ServerSettings s = sshSettings();
        s.useSFTP = c.sftp;
        FileUploader uploader;
        uploader.uploadImage(picture(), s);
        ASSERT_TRUE(settle(uploader));
        ASSERT_TRUE(uploader.lastError());
        EXPECT_TRUE(uploader.lastError()->startsWith(QString::fromUtf8(c.prefix))) << uploader.lastError()->toStdString();
        EXPECT_GT(uploader.lastError()->size(), QString::fromUtf8(c.prefix).size()); // the system's reason follows
        EXPECT_FALSE(uploader.uploadCompleted());
    }
    if (saved.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", saved);
}

TEST(FileUploader, OutcomeOfAnUploaderThatIsGoneIsDropped)
{
    auto uploader = std::make_unique<FileUploader>();
    ServerSettings cloud;
    uploader->uploadImage(picture(), cloud);
    uploader.reset();
    test::spin(300ms); // the worker's queued outcome finds no uploader
}

TEST(FileUploader, ConnectionTestsDecidedWithoutAServer)
{
    ServerSettings cloud;
    ServerSettings dropbox;
    dropbox.uploadProvider = UploadProvider::dropbox;
    ServerSettings yandex;
    yandex.uploadProvider = UploadProvider::yandexDisk;
    // Without a cached token the Yandex test is decided before any request.
    const YandexOffline offline;
    ASSERT_TRUE(noYandexTokenCached());

    auto r = testOnce(cloud);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->success);
    EXPECT_FALSE(r->error);
    for (const ServerSettings& s : {dropbox, yandex}) {
        r = testOnce(s);
        ASSERT_TRUE(r);
        EXPECT_FALSE(r->success);
        EXPECT_FALSE(r->error);
    }

    // FTP: an address that cannot be formed is error 1.
    for (const auto& [host, port] : {std::pair<QString, int>{"my host", 21}, {"127.0.0.1", 70000}, {"127.0.0.1", -1}}) {
        ServerSettings s = sshSettings();
        s.ftpHost = host;
        s.ftpPort = port;
        r = testOnce(s);
        ASSERT_TRUE(r);
        EXPECT_FALSE(r->success);
        ASSERT_TRUE(r->error);
        EXPECT_EQ(*r->error, FileUploader::error(1, "Неверный URL сервера"));
    }
    // FTP: nobody answers is false, not an error.
    r = testOnce(sshSettings());
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->success);
    EXPECT_FALSE(r->error);
}

TEST(FileUploader, SftpTestOpensOnlyATcpConnection)
{
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost, 0));
    ServerSettings s = sshSettings();
    s.useSFTP = true;
    s.ftpPassword = "wrong: no sign-in happens";
    s.ftpPort = listener.serverPort();
    auto r = testOnce(s);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->success);
    EXPECT_FALSE(r->error);

    const platform::AppError unreachable = FileUploader::error(2, "Не удалось подключиться к SFTP серверу");
    const int closedPort = listener.serverPort();
    listener.close();
    // The names are ones Qt refuses before any lookup: nothing here asks a resolver.
    for (const auto& [host, port] : {std::pair<QString, int>{"127.0.0.1", closedPort}, {"127.0.0.1", 70000}, {"127.0.0.1", -1},
                                     {"two..dots", 22}, {"my host", 22}, {"", 22}}) {
        SCOPED_TRACE(host.toStdString() + ":" + std::to_string(port));
        s.ftpHost = host;
        s.ftpPort = port;
        r = testOnce(s);
        ASSERT_TRUE(r);
        EXPECT_FALSE(r->success);
        EXPECT_EQ(r->error, unreachable);
    }
}

TEST(FileUploader, ConnectionTestOutcomeSkipsAGoneCaller)
{
    int calls = 0;
    {
        FileUploader uploader;
        auto context = std::make_unique<QObject>();
        uploader.testConnection(ServerSettings{}, context.get(), [&](const ConnectionTestResult&) { ++calls; });
        context.reset();
    }
    test::spin(100ms);
    EXPECT_EQ(calls, 0);
}
