// The cloud image uploader against the local fake of the service: the link it derives, the
// account reload after a success, and the texts of every kind of failure.
#include "uploads/KestrovaUploader.h"

#include "app/AppState.h"
#include "cloud/APIClient.h"
#include "cloud/AuthManager.h"
#include "cloud/CloudTestSupport.h"
#include "platform/InMemoryKeychain.h"
#include "screenshots/EditorFixtures.h"
#include "support/StdoutTap.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <memory>

using namespace cloudtest;
using nlohmann::json;

namespace {

// A file record as the service stores it, with the link members given.
json fileAnswer(const json& linkMembers)
{
    json file = {{"id", 7},
                 {"user_id", 1},
                 {"file_name", "a.png"},
                 {"mime_type", "image/png"},
                 {"file_size", 10},
                 {"created_at", "2024-01-01T00:00:00Z"},
                 {"updated_at", "2024-01-01T00:00:00Z"}};
    file.update(linkMembers);
    return {{"file", file}, {"url", "https://elsewhere.example/not-this-one"}, {"message", "File uploaded"}};
}

// The bytes of the "file" part of a recorded upload form.
QByteArray filePart(const RecordedRequest& upload)
{
    const QByteArray body = upload.body;
    const qsizetype start = body.indexOf("\r\n\r\n");
    const qsizetype end = body.lastIndexOf("\r\n--", body.lastIndexOf("name=\"is_public\""));
    return start < 0 || end < start ? QByteArray() : body.mid(start + 4, end - start - 4);
}

class KestrovaUploaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fake->running()) << "the cloud fake did not start";
        platform::KeychainBackend::setCurrent(std::make_shared<platform::InMemoryKeychain>());
        AppState::resetCredentialsForTesting();
        AppState::loadCredentials();
        client = std::make_unique<APIClient>(fake->root());
        client->setAuthToken(std::nullopt);
        manager = std::make_unique<AuthManager>(client.get());
        uploader = std::make_unique<KestrovaUploader>(*client, *manager);
        watchUploading();
    }

    void watchUploading()
    {
        QObject::connect(uploader.get(), &CloudImageUploader::isUploadingChanged, &context,
                         [this] { uploadingChanges.append(uploader->isUploading()); });
    }

    void signIn()
    {
        bool done = false;
        manager->login("user@example.com", "secret123", &context, [&] { done = true; });
        ASSERT_TRUE(test::waitUntil([&] { return done; }, 15s));
        ASSERT_TRUE(manager->isAuthenticated());
        fake->resetRequests();
    }

    // Starts an upload; the result is in `result` once `finished`.
    void start(const QImage& image, const std::optional<QString>& name = QString("shot.png"), bool isPublic = true)
    {
        uploader->uploadImage(image, name, isPublic, KestrovaUploader::ProgressHandler(),
                              [this](const KestrovaUploader::Result& r) {
                                  ++completions;
                                  uploadingAtCompletion = uploader->isUploading();
                                  usedBytesAtCompletion = manager->storageUsage() ? manager->storageUsage()->usedBytes : -1;
                                  result = r;
                              });
    }
    void upload(const QImage& image, const std::optional<QString>& name = QString("shot.png"), bool isPublic = true)
    {
        start(image, name, isPublic);
        ASSERT_TRUE(test::waitUntil([&] { return completions > 0; }, 20s));
        test::spin(50ms); // nothing more arrives
        EXPECT_EQ(completions, 1);
    }

    QStringList uploaderLines(const LogMark& mark) const
    {
        QStringList lines;
        for (const QString& message : mark.messages())
            if (message.startsWith("uploadImage: "))
                lines << message.mid(13);
        return lines;
    }

    std::unique_ptr<CloudFake> fake = std::make_unique<CloudFake>();
    QObject context;
    std::unique_ptr<APIClient> client;
    std::unique_ptr<AuthManager> manager;
    std::unique_ptr<KestrovaUploader> uploader;
    QList<bool> uploadingChanges;
    int completions = 0;
    bool uploadingAtCompletion = true;
    qint64 usedBytesAtCompletion = -1;
    std::optional<KestrovaUploader::Result> result;
};

} // namespace

TEST_F(KestrovaUploaderTest, SignedOutAnswersAtOnceWithoutAnyRequest)
{
    test::StdoutTap console;
    LogMark mark;
    start(fixtures::noise(20, 10));
    ASSERT_EQ(completions, 1) << "the completion runs before uploadImage returns";
    ASSERT_TRUE(result && !*result);
    EXPECT_EQ(result->error(), UploadError::notAuthenticated());
    EXPECT_TRUE(uploadingChanges.isEmpty());
    EXPECT_FALSE(uploader->isUploading());
    test::spin(200ms);
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(fake->requests().empty());
    EXPECT_TRUE(uploaderLines(mark).isEmpty());
    EXPECT_FALSE(console.lines().join('\n').contains("KestrovaUploader"));
}

TEST_F(KestrovaUploaderTest, SuccessSendsThePngReloadsTheAccountFirstAndAnswersWithThePublicLink)
{
    signIn();
    ASSERT_EQ(manager->storageUsage()->usedBytes, 536870912);
    // The account as the service will report it after the upload.
    fake->configure({{"user", {{"usage", {{"used_bytes", 600000000}, {"total_bytes", 1073741824}, {"uploads_this_month", 4}}}}}});
    test::StdoutTap console;
    LogMark mark;
    // 400 x 200 pixels at two pixels per point.
    const QImage image = fixtures::noise(400, 200, 3, 2.0);
    start(image);
    EXPECT_TRUE(uploader->isUploading());
    EXPECT_EQ(completions, 0) << "the upload runs from the event loop";
    ASSERT_TRUE(test::waitUntil([&] { return completions > 0; }, 20s));

    ASSERT_TRUE(result && *result) << result->error().technicalDescription().toStdString();
    EXPECT_EQ(**result, fake->root() + "/f/f100");
    EXPECT_FALSE(uploadingAtCompletion);
    EXPECT_EQ(uploadingChanges, QList<bool>({true, false}));
    EXPECT_EQ(usedBytesAtCompletion, 600000000) << "the account is reloaded before the completion";
    EXPECT_EQ(manager->currentUser()->usage->uploadsThisMonth, 4);

    EXPECT_EQ(fake->requestLines(), QStringList({"GET /sanctum/csrf-cookie", "POST /api/v1/files", "GET /api/v1/auth/me"}));
    const RecordedRequest upload = fake->requests()[1];
    ASSERT_TRUE(upload.multipart.is_object()) << "the fake did not read the form";
    EXPECT_EQ(QByteArray::fromBase64(QByteArray::fromStdString(upload.multipart["filename"].get<std::string>())), "shot.png");
    EXPECT_EQ(upload.multipart["content_type"], "image/png");
    EXPECT_EQ(upload.multipart["is_public"], "1");
    const QByteArray png = filePart(upload);
    ASSERT_TRUE(png.startsWith("\x89PNG\r\n\x1a\n"));
    const QImage sent = QImage::fromData(png, "PNG");
    EXPECT_FALSE(fixtures::difference(sent, image)) << fixtures::difference(sent, image)->toStdString();

    EXPECT_EQ(uploaderLines(mark), QStringList({
                                       "KestrovaUploader: Starting image conversion",
                                       "KestrovaUploader: Image size: 200.0 x 100.0",
                                       "KestrovaUploader: Image representations count: 1",
                                       "KestrovaUploader: Got tiffData, size: 320000 bytes",
                                       "KestrovaUploader: Created bitmapImage",
                                       QString("KestrovaUploader: PNG data created, size: %1 bytes").arg(png.size()),
                                       "KestrovaUploader: Calling uploadFile with fileName: shot.png",
                                   }));
    EXPECT_TRUE(console.lines().contains("KestrovaUploader: Upload successful - " + fake->root() + "/f/f100"));
}

TEST_F(KestrovaUploaderTest, LinkIsThePublicURLElseTheRootAndSlugElseNone)
{
    signIn();
    struct Case {
        const char* name;
        json linkMembers;
        std::optional<QString> link; // none: noPublicURL
    };
    const Case cases[] = {
        {"public URL", {{"public_url", "https://cdn.example/x.png"}, {"slug", "abc"}}, QString("https://cdn.example/x.png")},
        {"empty public URL", {{"public_url", ""}, {"slug", "abc"}}, fake->root() + "/abc"},
        {"older service's public slug", {{"public_slug", "old"}}, fake->root() + "/old"},
        {"empty slug", {{"public_url", ""}, {"slug", ""}}, std::nullopt},
        {"neither", json::object(), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake->resetRequests();
        fake->rule("POST", "/api/v1/files", 201, fileAnswer(c.linkMembers));
        completions = 0;
        test::StdoutTap console;
        LogMark mark;
        upload(fixtures::noise(8, 8));
        ASSERT_TRUE(result);
        // Stored either way, so the account is reloaded either way.
        EXPECT_EQ(fake->requestLines().count("GET /api/v1/auth/me"), 1);
        EXPECT_FALSE(uploader->isUploading());
        if (c.link) {
            ASSERT_TRUE(*result);
            EXPECT_EQ(**result, *c.link);
            continue;
        }
        ASSERT_FALSE(*result);
        EXPECT_EQ(result->error(), UploadError::noPublicURL());
        EXPECT_TRUE(mark.messages().contains("uploadImage: ERROR: Файл загружен, но ссылка не получена"));
        EXPECT_TRUE(console.lines().contains("KestrovaUploader: Upload failed - Файл загружен, но ссылка не получена"));
    }
}

TEST_F(KestrovaUploaderTest, WithoutANameTheUploadIsNamedByTheTimeAndPrivateUploadsSayZero)
{
    signIn();
    upload(fixtures::noise(8, 8), std::nullopt, false);
    ASSERT_TRUE(result && *result);
    const RecordedRequest upload = fake->requests()[1];
    const QString name = QString::fromUtf8(
        QByteArray::fromBase64(QByteArray::fromStdString(upload.multipart["filename"].get<std::string>())));
    EXPECT_TRUE(QRegularExpression(R"(^screenshot_\d{10}\.\d+\.png$)").match(name).hasMatch()) << name.toStdString();
    EXPECT_EQ(upload.multipart["is_public"], "0");
}

TEST_F(KestrovaUploaderTest, ServiceAndClientErrorsWithTheirTexts)
{
    signIn();
    struct Case {
        const char* name;
        int status;
        json body;
        const char* contentType;
        UploadError error;
        const char* userText;
    };
    const Case cases[] = {
        {"service error body", 500, {{"message", "Internal Server Error"}}, "application/json",
         UploadError::apiError("Internal Server Error"), "Ошибка сервера. Попробуйте позже."},
        {"validation message", 422,
         {{"message", "The file failed to upload."}, {"errors", {{"file", {"The file must be an image."}}}}},
         "application/json", UploadError::apiError("The file failed to upload.\nThe file must be an image."),
         "Ошибка при загрузке. Попробуйте ещё раз."},
        // No service error body: the client's own error, a network error here, whatever its code.
        {"status without error body", 413, "<html>Request Entity Too Large</html>", "text/html",
         UploadError::networkError("HTTP Error: 413"), "Ошибка сети. Проверьте интернет-соединение."},
        {"unauthorized", 401, {{"message", "Unauthenticated."}}, "application/json",
         UploadError::networkError("Unauthorized. Please log in again."), "Ошибка сети. Проверьте интернет-соединение."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake->resetRequests();
        fake->rule("POST", "/api/v1/files", c.status, c.body, 1, 0, c.contentType);
        completions = 0;
        uploadingChanges.clear();
        test::StdoutTap console;
        LogMark mark;
        upload(fixtures::noise(8, 8));
        ASSERT_TRUE(result && !*result);
        EXPECT_EQ(result->error(), c.error);
        EXPECT_EQ(result->error().errorDescription(), QString::fromUtf8(c.userText));
        EXPECT_EQ(result->error().technicalDescription(),
                  (c.error.kind() == UploadError::Case::apiError ? "UploadError.apiError: " : "UploadError.networkError: ")
                      + c.error.payload());
        EXPECT_EQ(uploadingChanges, QList<bool>({true, false}));
        EXPECT_FALSE(uploadingAtCompletion);
        // A failure does not reload the account.
        EXPECT_EQ(fake->requestLines(), QStringList({"GET /sanctum/csrf-cookie", "POST /api/v1/files"}));
        EXPECT_TRUE(manager->isAuthenticated());
        // (A message of several lines takes as many lines in the log.)
        EXPECT_TRUE(mark.messages().contains("uploadImage: ERROR: " + c.error.payload().section('\n', 0, 0)))
            << mark.messages().join('\n').toStdString();
        EXPECT_TRUE(console.lines().contains("KestrovaUploader: Upload failed - " + QString::fromUtf8(c.userText)));
    }
    // The 401 cleared the client's token.
    EXPECT_EQ(client->authToken(), std::nullopt);
}

TEST_F(KestrovaUploaderTest, TransportErrorsWithTheirTexts)
{
    signIn();
    // A time-out of the upload's own request.
    client->setTimeoutsForTesting(500ms, 10s);
    fake->rule("POST", "/api/v1/files", 201, fileAnswer({{"slug", "late"}}), 1, 3);
    {
        test::StdoutTap console;
        upload(fixtures::noise(8, 8));
        ASSERT_TRUE(result && !*result);
        EXPECT_EQ(result->error(), UploadError::networkError("The request timed out."));
        EXPECT_EQ(result->error().errorDescription(), "Превышено время ожидания. Проверьте интернет-соединение.");
        EXPECT_EQ(result->error().technicalDescription(), "UploadError.networkError: The request timed out.");
        EXPECT_TRUE(console.lines().contains(
            "KestrovaUploader: Upload failed - Превышено время ожидания. Проверьте интернет-соединение."));
    }

    // The service is gone: the CSRF step already fails and nothing is uploaded.
    fake.reset();
    completions = 0;
    uploadingChanges.clear();
    LogMark mark;
    upload(fixtures::noise(8, 8));
    ASSERT_TRUE(result && !*result);
    EXPECT_EQ(result->error(), UploadError::networkError("Could not connect to the server."));
    EXPECT_EQ(result->error().errorDescription(), "Ошибка сети. Проверьте интернет-соединение.");
    EXPECT_EQ(uploadingChanges, QList<bool>({true, false}));
    EXPECT_TRUE(mark.messages().contains("uploadImage: ERROR: Could not connect to the server."));
    EXPECT_TRUE(manager->isAuthenticated());
}

TEST_F(KestrovaUploaderTest, AnImageWithoutPixelsFailsBeforeAnyRequest)
{
    signIn();
    test::StdoutTap console;
    LogMark mark;
    upload(QImage());
    ASSERT_TRUE(result && !*result);
    EXPECT_EQ(result->error(), UploadError::imageConversionFailed());
    EXPECT_EQ(uploadingChanges, QList<bool>({true, false}));
    EXPECT_TRUE(fake->requests().empty());
    EXPECT_EQ(uploaderLines(mark), QStringList({
                                       "KestrovaUploader: Starting image conversion",
                                       "KestrovaUploader: Image size: 0.0 x 0.0",
                                       "KestrovaUploader: Image representations count: 0",
                                       "KestrovaUploader ERROR: tiffRepresentation returned nil!",
                                       "ERROR: Не удалось обработать изображение",
                                   }));
    EXPECT_TRUE(console.lines().contains("KestrovaUploader: Upload failed - Не удалось обработать изображение"));
}

TEST_F(KestrovaUploaderTest, ThePreviewsCompletionGetsTheLinkOrTheReportTexts)
{
    std::optional<UploadResult> answer;
    uploader->uploadImage(fixtures::noise(8, 8), QString("p.png"), true, [&](const UploadResult& r) { answer = r; });
    ASSERT_TRUE(answer && answer->failure);
    EXPECT_EQ(answer->failure->localizedDescription, "Войдите в аккаунт для загрузки файлов");
    EXPECT_EQ(answer->failure->technicalDescription, "UploadError.notAuthenticated: User not logged in");

    signIn();
    fake->rule("POST", "/api/v1/files", 503, json{{"message", "Service Unavailable"}});
    answer.reset();
    uploader->uploadImage(fixtures::noise(8, 8), QString("p.png"), true, [&](const UploadResult& r) { answer = r; });
    ASSERT_TRUE(test::waitUntil([&] { return answer.has_value(); }, 20s));
    ASSERT_TRUE(answer->failure);
    EXPECT_EQ(answer->failure->typeName, "UploadError");
    EXPECT_EQ(answer->failure->localizedDescription, "Ошибка при загрузке. Попробуйте ещё раз.");
    EXPECT_EQ(answer->failure->description, "apiError(\"Service Unavailable\")");
    EXPECT_EQ(answer->failure->technicalDescription, "UploadError.apiError: Service Unavailable");

    answer.reset();
    uploader->uploadImage(fixtures::noise(8, 8), QString("p.png"), true, [&](const UploadResult& r) { answer = r; });
    ASSERT_TRUE(test::waitUntil([&] { return answer.has_value(); }, 20s));
    EXPECT_EQ(answer->link, fake->root() + "/f/f100");
}
