// The settings window's connection test against real servers: pyftpdlib for FTP, a closed port for
// SFTP, and the Yandex Disk fake.
#include "settings/SettingsViewModel.h"

#include "SettingsTestSupport.h"
#include "uploads/LocalServers.h"
#include "uploads/YandexDiskUploader.h"
#include "uploads/YandexFakeServer.h"

#include <gtest/gtest.h>

using namespace settingstest;
using namespace std::chrono_literals;

namespace {

const QString kUser = QStringLiteral("uploader");
const QString kPassword = QStringLiteral("pa ss\"word");

class ConnectionTestTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ftp = new test::LocalFtpServer(kUser, kPassword);
        yandex = new test::YandexFakeServer;
        yandexStarted = yandex->start();
    }
    static void TearDownTestSuite()
    {
        delete ftp;
        delete yandex;
        YandexDiskUploader::setOriginsForTesting({}, {});
    }
    void SetUp() override
    {
        resetStores();
        appState = std::make_unique<AppState>();
        model = std::make_unique<SettingsViewModel>(*appState, account.manager.get());
        model->appear();
    }

    // Runs the test of the working copy and waits for its alert; the texts it ends with.
    QString runTest()
    {
        model->testConnection();
        EXPECT_TRUE(model->isTestingConnection());
        EXPECT_FALSE(model->showingTestResult());
        // One at a time: a second start while it runs does nothing.
        model->testConnection();
        EXPECT_TRUE(test::waitUntil([&] { return model->showingTestResult(); }, 30s));
        EXPECT_FALSE(model->isTestingConnection());
        return model->testResult().value_or(QStringLiteral("<none>"));
    }

    void ftpSettings(const QString& password)
    {
        model->chooseProvider(UploadProvider::ssh);
        model->edit([&](ServerSettings& s) {
            s.ftpHost = QStringLiteral("127.0.0.1");
            s.ftpPort = ftp->port();
            s.ftpUsername = kUser;
            s.ftpPassword = password;
            s.useSFTP = false;
        });
    }

    static test::LocalFtpServer* ftp;
    static test::YandexFakeServer* yandex;
    static bool yandexStarted;
    OfflineAccount account;
    std::unique_ptr<AppState> appState;
    std::unique_ptr<SettingsViewModel> model;
};

test::LocalFtpServer* ConnectionTestTest::ftp = nullptr;
test::YandexFakeServer* ConnectionTestTest::yandex = nullptr;
bool ConnectionTestTest::yandexStarted = false;

} // namespace

TEST_F(ConnectionTestTest, OwnServerOverFtpWithTheFormAsTyped)
{
    ASSERT_GT(ftp->port(), 0) << ftp->log().toStdString();
    // Typed after the provider change saved the empty form: never saved.
    ftpSettings(kPassword);
    EXPECT_EQ(runTest(), "✓ SSH/SFTP соединение успешно установлено!");

    model->dismissTestResult();
    EXPECT_FALSE(model->showingTestResult());
    EXPECT_EQ(model->testResult(), "✓ SSH/SFTP соединение успешно установлено!"); // kept until the next test

    model->edit([](ServerSettings& s) { s.ftpPassword = QStringLiteral("wrong"); });
    EXPECT_EQ(runTest(), "✗ Не удалось установить SSH/SFTP соединение. Проверьте настройки.");
    // A test saves nothing.
    EXPECT_EQ(platform::UserDefaults::standard().string("ftpHost"), "");
    EXPECT_TRUE(cachedRecord().ftpPasswords.value(kUser + "@127.0.0.1").isEmpty());
}

TEST_F(ConnectionTestTest, AThrownErrorShowsItsDescription)
{
    // SFTP to a port where nobody listens: the probe's error, not the text of a false result.
    const int closed = test::freeLoopbackPort();
    model->edit([&](ServerSettings& s) {
        s.uploadProvider = UploadProvider::ssh;
        s.ftpHost = QStringLiteral("127.0.0.1");
        s.ftpUsername = kUser;
        s.useSFTP = true;
        s.ftpPort = closed;
    });
    EXPECT_EQ(runTest(), "✗ Ошибка SSH/SFTP соединения: Не удалось подключиться к SFTP серверу");
}

TEST_F(ConnectionTestTest, YandexDiskWithTheStoredToken)
{
    ASSERT_TRUE(yandexStarted) << yandex->error.toStdString();
    ASSERT_TRUE(yandex->reset());
    YandexDiskUploader::setOriginsForTesting(yandex->origin(), yandex->origin());

    model->chooseProvider(UploadProvider::yandexDisk);
    EXPECT_TRUE(model->isTestDisabled());
    // The sign-in stores the token where the Yandex client reads it.
    model->handleYandexToken(QStringLiteral("test-token"));
    EXPECT_FALSE(model->isTestDisabled());
    EXPECT_EQ(runTest(), "✓ Соединение с Яндекс.Диском успешно!");
    const auto tests = yandex->requests("test");
    ASSERT_EQ(tests.size(), 1u);
    std::string authorization;
    for (const auto& [name, value] : tests[0]["headers"].items())
        if (QString::fromStdString(name).compare("authorization", Qt::CaseInsensitive) == 0)
            authorization = value.get<std::string>();
    EXPECT_EQ(authorization, "OAuth test-token");

    model->dismissTestResult();
    model->handleYandexToken(QStringLiteral("refused-token"));
    EXPECT_EQ(runTest(), "✗ Ошибка авторизации. Проверьте токен.");

    // The client answers at once without a token; the result still comes from the event loop.
    AppState::updateCredentials([](SecureCredentials& r) { r.yandexAccessToken.clear(); });
    model->dismissTestResult();
    EXPECT_EQ(runTest(), "✗ Токен доступа не найден");
}
