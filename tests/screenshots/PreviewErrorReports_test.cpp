// The hints for own-server errors and the error reports the banners' copy buttons put on the
// clipboard, byte for byte with a fixed clock.
#include "screenshots/ScreenshotPreviewView.h"

#include "app/AppState.h"
#include "app/DebugLogger.h"
#include "app/Localization.h"
#include "screenshots/PreviewErrorBanner.h"

#include "EditorFixtures.h"
#include "PreviewFakes.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// 2024-12-08 23:20:00.5 UTC, shown in UTC whatever the zone it is given in.
const QDateTime kNow = QDateTime::fromMSecsSinceEpoch(1733700000500, Qt::OffsetFromUTC, 3 * 3600);

} // namespace

TEST(PreviewReports, OwnServerErrorsMapToHintsFirstMatchWins)
{
    const QString refused = "Не удалось подключиться к серверу. Проверьте адрес и порт.";
    const QString auth = "Ошибка авторизации. Проверьте логин и пароль.";
    const QString hostKey = "Ошибка проверки сервера. Проверьте настройки SSH.";
    const QString timeout = "Превышено время ожидания. Проверьте интернет-соединение.";
    const QString folder = "Папка на сервере не найдена. Проверьте путь в настройках.";
    const QString full = "На сервере закончилось место.";
    const QString other = "Ошибка загрузки на сервер. Проверьте настройки подключения.";
    const struct {
        const char* error;
        QString hint;
    } cases[] = {
        {"Connection refused by host", refused},
        {"CONNECTION REFUSED", refused},
        // curl 7.88's words for exit 7.
        {"curl: (7) Failed to connect to 127.0.0.1 port 2121 after 0 ms: Couldn't connect to server\n", refused},
        {"Permission denied (publickey)", auth},
        {"curl: (67) Authentication failed", auth},
        {"Host key verification failed", hostKey},
        {"permission denied; host key changed", auth},
        {"Operation timed out", timeout},
        {"Connection timeout", timeout},
        {"No such file or directory", folder},
        {"Not a directory", folder},
        {"552 Disk full", full},
        {"No space left on device", full},
        {"", other},
        {"something odd", other},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ScreenshotPreviewView::parseSSHError(c.error), c.hint) << c.error;
}

TEST(PreviewReports, ReportTextsAreExact)
{
    EXPECT_EQ(ScreenshotPreviewView::reportTime(kNow), QString("2024-12-08 23:20:00 +0000"));
    EXPECT_EQ(ScreenshotPreviewView::errorReport(kNow, QString("Нет сети"), QString("UploadError.networkError: offline"),
                                                 "/home/u/.local/state/Kestrova/kestrova.log"),
              QString("=== Kestrova Error Report ===\n"
                      "Дата: 2024-12-08 23:20:00 +0000\n"
                      "Ошибка: Нет сети\n"
                      "Техническое описание: UploadError.networkError: offline\n"
                      "Лог-файл: /home/u/.local/state/Kestrova/kestrova.log\n"
                      "================================"));
    EXPECT_EQ(ScreenshotPreviewView::errorReport(kNow, std::nullopt, std::nullopt, "/l"),
              QString("=== Kestrova Error Report ===\n"
                      "Дата: 2024-12-08 23:20:00 +0000\n"
                      "Ошибка: Unknown\n"
                      "Лог-файл: /l\n"
                      "================================"));
    EXPECT_EQ(ScreenshotPreviewView::sshErrorReport(kNow, "Permission denied (publickey)", "ftp.example.org", 2222, "/l"),
              QString("=== Kestrova SSH Error Report ===\n"
                      "Дата: 2024-12-08 23:20:00 +0000\n"
                      "Ошибка: Ошибка авторизации. Проверьте логин и пароль.\n"
                      "Техническое описание: Permission denied (publickey)\n"
                      "Сервер: ftp.example.org:2222\n"
                      "Лог-файл: /l\n"
                      "===================================="));
    // curl's own line end leaves no blank line in the report.
    EXPECT_EQ(ScreenshotPreviewView::sshErrorReport(kNow, "curl: (67) Access denied: 530\r\n", "h", 21, "/l"),
              QString("=== Kestrova SSH Error Report ===\n"
                      "Дата: 2024-12-08 23:20:00 +0000\n"
                      "Ошибка: Ошибка загрузки на сервер. Проверьте настройки подключения.\n"
                      "Техническое описание: curl: (67) Access denied: 530\n"
                      "Сервер: h:21\n"
                      "Лог-файл: /l\n"
                      "===================================="));
    EXPECT_EQ(ScreenshotPreviewView::uploadFileName(QDateTime::fromMSecsSinceEpoch(1733700000000, Qt::UTC)),
              QString("screenshot_1733700000.0.png"));
}

TEST(PreviewReports, CopyButtonsPutTheReportsOnTheClipboard)
{
    L::setLanguageForTesting(AppLanguage::en);
    AppState state;
    fakes::Services fake;
    ScreenshotPreviewView view(fixtures::noise(40, 30), &state, nullptr, {}, nullptr, fake.services(),
                               {[] { return kNow; }, std::make_shared<fakes::SavePanel>()});
    const QString log = DebugLogger::shared().logFilePath();

    // A save failure without a technical text still has the technical line, holding the message.
    view.reportSaveError("Не удалось конвертировать в PNG");
    EXPECT_EQ(view.errorBanner()->copyButton()->text(), QString("Copy"));
    view.errorBanner()->copyButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              "=== Kestrova Error Report ===\n"
              "Дата: 2024-12-08 23:20:00 +0000\n"
              "Ошибка: Не удалось конвертировать в PNG\n"
              "Техническое описание: Не удалось конвертировать в PNG\n"
              "Лог-файл: " + log + "\n"
              "================================");
    EXPECT_TRUE(view.showCopiedTooltip());
    EXPECT_EQ(view.errorBanner()->copyButton()->text(), QString("Copied"));
    EXPECT_TRUE(test::waitUntil([&] { return !view.showCopiedTooltip(); }, 3s));
    EXPECT_EQ(view.errorBanner()->copyButton()->text(), QString("Copy"));

    // With the port the settings default to.
    ServerSettings settings = state.serverSettings();
    settings.ftpHost = "ftp.example.org";
    state.setServerSettings(settings);
    fake.servers.last()->refuseWith = "Host key verification failed.";
    view.uploadToSSH();
    EXPECT_EQ(view.serverBanner()->hint(), QString("Click \"Copy\" to get technical information"));
    view.serverBanner()->copyButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              "=== Kestrova SSH Error Report ===\n"
              "Дата: 2024-12-08 23:20:00 +0000\n"
              "Ошибка: Ошибка проверки сервера. Проверьте настройки SSH.\n"
              "Техническое описание: Host key verification failed.\n"
              "Сервер: ftp.example.org:21\n"
              "Лог-файл: " + log + "\n"
              "====================================");
    EXPECT_FALSE(view.serverBanner()->isCopied());
    L::setLanguageForTesting(AppLanguage::ru);
}
