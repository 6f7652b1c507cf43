#include "uploads/YandexDiskUploader.h"

#include "app/AppState.h"
#include "support/TestSupport.h"
#include "uploads/YandexFakeTest.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <memory>

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

void setToken(const QString& token)
{
    AppState::updateCredentials([token](SecureCredentials& record) { record.yandexAccessToken = token; });
}

struct Outcome {
    bool arrived = false;
    int calls = 0;
    bool onGuiThread = false;
    bool beforeReturn = false;
    YandexDiskUploader::Result result;
};

// Runs one upload on `uploader` and waits for its completion.
Outcome upload(YandexDiskUploader& uploader, const QString& filename, const QByteArray& data = QByteArray("PNGDATA"),
               std::chrono::milliseconds timeout = 20s)
{
    auto outcome = std::make_shared<Outcome>();
    bool returned = false;
    uploader.uploadFile(data, filename, QStringLiteral("app:/ignored"), [outcome, &returned](const YandexDiskUploader::Result& r) {
        outcome->arrived = true;
        ++outcome->calls;
        outcome->onGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        outcome->beforeReturn = !returned;
        outcome->result = r;
    });
    returned = true;
    test::waitUntil([&] { return outcome->arrived; }, timeout);
    test::spin(50ms); // a second call would show here
    return *outcome;
}

Outcome upload(const QString& filename, const QByteArray& data = QByteArray("PNGDATA"))
{
    YandexDiskUploader uploader;
    return upload(uploader, filename, data);
}

std::string header(const json& request, const std::string& name)
{
    const auto& headers = request.at("headers");
    for (auto it = headers.begin(); it != headers.end(); ++it) {
        std::string key = it.key();
        std::transform(key.begin(), key.end(), key.begin(), ::tolower);
        std::string wanted = name;
        std::transform(wanted.begin(), wanted.end(), wanted.begin(), ::tolower);
        if (key == wanted)
            return it.value().get<std::string>();
    }
    return "<absent>";
}

using Routes = std::vector<std::string>;

} // namespace

class YandexDiskUploaderTest : public test::YandexFakeTest {
protected:
    void SetUp() override
    {
        YandexFakeTest::SetUp();
        if (HasFatalFailure())
            return;
        YandexDiskUploader::setTimeoutScaleForTesting(1.0);
        setToken(QStringLiteral("test-token"));
    }
    void TearDown() override
    {
        YandexFakeTest::TearDown();
        YandexDiskUploader::setTimeoutScaleForTesting(1.0);
    }

    static void override(const std::string& route, const json& responses)
    {
        ASSERT_TRUE(fake->configure({{"overrides", {{route, responses}}}}));
    }
};

TEST_F(YandexDiskUploaderTest, WithoutAUsableTokenNothingIsSentAndTheFlagGoesUpAndDown)
{
    for (const QString& token : {QString(), QStringLiteral("abc\r\nX-Injected: 1"), QStringLiteral("a\tb")}) {
        SCOPED_TRACE(token.toStdString());
        setToken(token);
        YandexDiskUploader uploader;
        std::vector<bool> flags;
        QObject::connect(&uploader, &YandexDiskUploader::isUploadingChanged, [&] { flags.push_back(uploader.isUploading()); });
        const Outcome outcome = upload(uploader, QStringLiteral("shot.png"));
        ASSERT_TRUE(outcome.arrived);
        EXPECT_EQ(outcome.calls, 1);
        EXPECT_TRUE(outcome.onGuiThread);
        EXPECT_FALSE(outcome.beforeReturn);
        EXPECT_FALSE(outcome.result.success);
        EXPECT_EQ(outcome.result.error.localizedDescription, QStringLiteral("Токен доступа не найден"));
        EXPECT_EQ(outcome.result.error.domain, QStringLiteral("YandexDiskError"));
        EXPECT_EQ(flags, (std::vector<bool>{true, false}));
        EXPECT_FALSE(uploader.isUploading());
    }
    EXPECT_TRUE(fake->log().empty());
}

TEST_F(YandexDiskUploaderTest, UploadSendsTheChainWithItsHeadersAndReturnsThePublicLink)
{
    const QByteArray data(100'000, 'x');
    YandexDiskUploader uploader;
    std::vector<bool> flags;
    QObject::connect(&uploader, &YandexDiskUploader::isUploadingChanged, [&] { flags.push_back(uploader.isUploading()); });
    const Outcome outcome = upload(uploader, QStringLiteral("shot.png"), data);
    ASSERT_TRUE(outcome.arrived);
    ASSERT_TRUE(outcome.result.success) << outcome.result.error.localizedDescription.toStdString();
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_TRUE(outcome.onGuiThread);
    EXPECT_TRUE(outcome.result.link.startsWith(QStringLiteral("https://yadi.sk/d/"))) << outcome.result.link.toStdString();
    EXPECT_EQ(flags, (std::vector<bool>{true, false}));

    const json log = fake->log();
    ASSERT_EQ(fake->routes(), (Routes{"upload_url", "upload", "publish", "resource"}));
    const std::vector<std::pair<std::string, std::string>> expected{
        {"GET", "path=app:/shot.png&overwrite=true"},
        {"PUT", ""},
        {"PUT", "path=app:/shot.png"},
        {"GET", "path=app:/shot.png&fields=public_url"},
    };
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(log[i]["route"].get<std::string>());
        EXPECT_EQ(log[i]["method"], expected[i].first);
        if (i != 1) {
            EXPECT_EQ(log[i]["query"], expected[i].second);
            EXPECT_EQ(header(log[i], "Authorization"), "OAuth test-token");
            EXPECT_EQ(header(log[i], "Accept"), "application/json");
        }
    }
    // The byte transfer is authorised by its address: no token goes there.
    EXPECT_EQ(header(log[1], "Authorization"), "<absent>");
    EXPECT_EQ(header(log[1], "Content-Type"), "image/png");
    EXPECT_EQ(log[1]["body_size"], data.size());
    EXPECT_EQ(fake->files(), (json{{"app:/shot.png", data.size()}}));
}

TEST_F(YandexDiskUploaderTest, FolderArgumentIsIgnoredAndNamesReachTheServiceWhole)
{
    // "+" would be read back as a space, "&" "=" "#" "%" would cut or change the query.
    for (const QString& name : {QStringLiteral("a+b&c=d #1 100%.png"), QStringLiteral("снимок экрана.png")}) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(fake->reset());
        const Outcome outcome = upload(name);
        ASSERT_TRUE(outcome.result.success) << outcome.result.error.localizedDescription.toStdString();
        EXPECT_EQ(fake->files(), (json{{("app:/" + name).toStdString(), 7}}));
        EXPECT_TRUE(outcome.result.link.startsWith(QStringLiteral("https://yadi.sk/d/")));
    }
}

TEST_F(YandexDiskUploaderTest, DirectoryIsCreatedFirstAndAnExistingOneIsAccepted)
{
    Outcome outcome = upload(QStringLiteral("a/b.png"));
    ASSERT_TRUE(outcome.result.success) << outcome.result.error.localizedDescription.toStdString();
    ASSERT_EQ(fake->routes(), (Routes{"mkdir", "upload_url", "upload", "publish", "resource"}));
    const json mkdir = fake->requests("mkdir").at(0);
    EXPECT_EQ(mkdir["method"], "PUT");
    EXPECT_EQ(mkdir["query"], "path=app:/a");
    EXPECT_EQ(header(mkdir, "Authorization"), "OAuth test-token");
    EXPECT_EQ(header(mkdir, "Accept"), "application/json");

    // Second time the folder exists: 409, and the upload goes on.
    outcome = upload(QStringLiteral("a/c.png"));
    EXPECT_TRUE(outcome.result.success) << outcome.result.error.localizedDescription.toStdString();
    EXPECT_EQ(fake->files().size(), 2u);

    // A name that only trims to the application folder makes no folder request.
    ASSERT_TRUE(fake->reset());
    outcome = upload(QStringLiteral("/x.png"));
    EXPECT_EQ(fake->requests("mkdir").size(), 0u);
}

TEST_F(YandexDiskUploaderTest, FolderAnswersOtherThanCreatedOrExistingEndTheUpload)
{
    struct Case {
        json response;
        QString text;
    };
    const std::vector<Case> cases{
        {{{"status", 200}, {"body", "{\"ok\":1}"}}, QStringLiteral("Ошибка создания папки (HTTP 200). Ответ: {\"ok\":1}")},
        {{{"status", 507}}, QStringLiteral("Ошибка создания папки (HTTP 507). Ответ: ")},
        {{{"status", 500}, {"body_base64", "//4gYmFk"}}, QStringLiteral("Ошибка создания папки (HTTP 500). Ответ: ")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        ASSERT_TRUE(fake->reset());
        override("mkdir", json::array({c.response}));
        const Outcome outcome = upload(QStringLiteral("dir/b.png"));
        ASSERT_TRUE(outcome.arrived);
        EXPECT_FALSE(outcome.result.success);
        EXPECT_EQ(outcome.result.error.localizedDescription, c.text);
        EXPECT_EQ(outcome.result.error.domain, YandexDiskUploader::InlineError::domain);
        EXPECT_EQ(fake->routes(), (Routes{"mkdir"}));
    }
}

TEST_F(YandexDiskUploaderTest, MissingParentFolderShowsTheServiceMessage)
{
    // app:/a does not exist: creating app:/a/b answers 409 (taken as "there"), the upload address
    // then fails with the service's own explanation.
    const Outcome outcome = upload(QStringLiteral("a/b/c.png"));
    EXPECT_FALSE(outcome.result.success);
    EXPECT_EQ(outcome.result.error.localizedDescription,
              QStringLiteral("Ошибка запроса upload URL (HTTP 409): DiskPathDoesntExistsError: "
                             "Указанного пути \"app:/a/b/c.png\" не существует."));
    EXPECT_EQ(fake->routes(), (Routes{"mkdir", "upload_url"}));
}

TEST_F(YandexDiskUploaderTest, UploadAddressFailuresCarryTheirTexts)
{
    struct Case {
        const char* name;
        json response;
        QString text;
        QString domain = YandexDiskUploader::InlineError::domain;
    };
    const QString prefix = QStringLiteral("Ошибка запроса upload URL (HTTP ");
    const std::vector<Case> cases{
        {"error and message", {{"status", 409}, {"json", {{"error", "E"}, {"message", "M"}, {"description", "D"}}}},
         prefix + "409): E: M"},
        {"description stands in for message", {{"status", 409}, {"json", {{"description", "D"}, {"error", "E"}}}},
         prefix + "409): E: D"},
        {"error_description last", {{"status", 400}, {"json", {{"error_description", "ED"}}}}, prefix + "400): ED"},
        {"a message that is no text is skipped", {{"status", 409}, {"json", {{"error", 5}, {"message", 7}, {"description", "D"}}}},
         prefix + "409): D"},
        {"no known keys", {{"status", 409}, {"json", {{"other", "x"}}}}, prefix + "409)"},
        {"only 200 is accepted", {{"status", 201}, {"json", {{"href", "http://127.0.0.1:1/u"}}}}, prefix + "201)"},
        {"200 without href", {{"status", 200}, {"json", {{"method", "PUT"}}}}, prefix + "200)"},
        {"href that is no text", {{"status", 200}, {"json", {{"href", 12}}}}, prefix + "200)"},
        {"no body", {{"status", 200}}, QStringLiteral("Нет данных в ответе"), QStringLiteral("YandexDiskError")},
        {"not JSON", {{"status", 200}, {"body", "<html>"}}, QStringLiteral("Ответ сервера не является корректным JSON"),
         QStringLiteral("JSONReader")},
        {"JSON but no object", {{"status", 200}, {"body", "[\"href\"]"}}, QStringLiteral("Неверный формат ответа"),
         QStringLiteral("YandexDiskError")},
        {"an address that is no address", {{"status", 200}, {"json", {{"href", "http://[::1"}}}},
         QStringLiteral("Неверный URL"), QStringLiteral("YandexDiskError")},
        // Error pages that are no JSON say what their status says.
        {"HTML error page", {{"status", 500}, {"body", "<html><body>Internal error</body></html>"},
                             {"headers", {{"Content-Type", "text/html"}}}},
         prefix + "500): Internal Server Error"},
        {"HTML sign-in page", {{"status", 401}, {"body", "<html>401</html>"}, {"headers", {{"Content-Type", "text/html"}}}},
         prefix + "401): Unauthorized"},
        {"error without a body", {{"status", 503}}, prefix + "503): Service Unavailable"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(fake->reset());
        override("upload_url", json::array({c.response}));
        const Outcome outcome = upload(QStringLiteral("shot.png"));
        ASSERT_TRUE(outcome.arrived);
        EXPECT_FALSE(outcome.result.success);
        EXPECT_EQ(outcome.result.error.localizedDescription, c.text);
        EXPECT_EQ(outcome.result.error.domain, c.domain);
        EXPECT_EQ(fake->routes(), (Routes{"upload_url"}));
    }
}

TEST_F(YandexDiskUploaderTest, RejectedTokenReportsTheServiceAnswer)
{
    setToken(QStringLiteral("stale-token"));
    const Outcome outcome = upload(QStringLiteral("shot.png"));
    EXPECT_FALSE(outcome.result.success);
    EXPECT_EQ(outcome.result.error.localizedDescription,
              QStringLiteral("Ошибка запроса upload URL (HTTP 401): UnauthorizedError: Не авторизован."));
    EXPECT_EQ(header(fake->log().at(0), "Authorization"), "OAuth stale-token");
}

TEST_F(YandexDiskUploaderTest, UploadAddressOutsideTheWebIsNeverWritten)
{
    // A hostile answer must not make the client write a local file with the upload's bytes.
    const QString target = test::testHome() + QStringLiteral("/written-by-upload");
    override("upload_url", json::array({{{"status", 200}, {"json", {{"href", ("file://" + target).toStdString()}}}}}));
    const Outcome outcome = upload(QStringLiteral("shot.png"));
    EXPECT_FALSE(outcome.result.success);
    EXPECT_EQ(outcome.result.error.localizedDescription, QStringLiteral("Неверный URL"));
    EXPECT_FALSE(QFile::exists(target));
}

TEST_F(YandexDiskUploaderTest, ByteTransferAnswers)
{
    struct Case {
        json response;
        bool success;
        QString text;
    };
    // A long answer is quoted as the start of its words: an error page is no message.
    const std::string words = QString("word ").repeated(100).toStdString();
    const std::string page = "<html><head><script>var x = '<b>';</script><title>Oops</title></head>\n<body><p>" + words
                             + "</p></body></html>";
    const QString excerpt = ("Oops " + QString::fromStdString(words)).simplified().left(200) + "…";
    const std::string emoji = QString(151, QChar(0x2603)).toStdString() + QString::fromUtf8("\xF0\x9F\x93\xB7").repeated(100).toStdString();
    const std::vector<Case> cases{
        {{{"status", 201}}, true, {}},
        {{{"status", 200}, {"body", "ok"}}, true, {}},
        {{{"status", 500}, {"body", page}}, false, "Ошибка загрузки (HTTP 500). Ответ: " + excerpt},
        {{{"status", 502}, {"body", std::string(200, 'a')}}, false, "Ошибка загрузки (HTTP 502). Ответ: " + QString(200, 'a')},
        {{{"status", 502}, {"body", std::string(201, 'a')}}, false, "Ошибка загрузки (HTTP 502). Ответ: " + QString(200, 'a') + "…"},
        // The cut never splits a character made of two UTF-16 units.
        {{{"status", 503}, {"body", emoji}}, false,
         "Ошибка загрузки (HTTP 503). Ответ: " + QString::fromStdString(emoji).left(199) + "…"},
        {{{"status", 500}, {"body", "disk on fire"}}, false, QStringLiteral("Ошибка загрузки (HTTP 500). Ответ: disk on fire")},
        {{{"status", 500}}, false, QStringLiteral("Ошибка загрузки (HTTP 500). Ответ: ")},
        {{{"status", 413}, {"body", "слишком большой"}}, false, QStringLiteral("Ошибка загрузки (HTTP 413). Ответ: слишком большой")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        ASSERT_TRUE(fake->reset());
        override("upload", json::array({c.response}));
        const Outcome outcome = upload(QStringLiteral("shot.png"));
        ASSERT_TRUE(outcome.arrived);
        EXPECT_EQ(outcome.result.success, c.success) << outcome.result.error.localizedDescription.toStdString();
        if (!c.success) {
            EXPECT_EQ(outcome.result.error.localizedDescription, c.text);
            EXPECT_EQ(fake->routes(), (Routes{"upload_url", "upload"}));
        } else {
            // Stored: the chain goes on to publishing.
            const Routes routes = fake->routes();
            ASSERT_GE(routes.size(), 3u);
            EXPECT_EQ(routes[2], "publish");
        }
    }
}

TEST_F(YandexDiskUploaderTest, FailedPublishingStillSucceedsWithTheDiskPath)
{
    struct Case {
        const char* name;
        json response;
        Routes routes;
    };
    const std::vector<Case> cases{
        {"forbidden", {{"status", 403}, {"json", {{"error", "DiskPublishForbidden"}}}}, {"upload_url", "upload", "publish"}},
        {"server error", {{"status", 503}}, {"upload_url", "upload", "publish"}},
        {"connection cut off", {{"truncate", true}}, {"upload_url", "upload", "publish"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(fake->reset());
        override("publish", json::array({c.response}));
        const Outcome outcome = upload(QStringLiteral("dir/shot.png"));
        ASSERT_TRUE(outcome.arrived);
        EXPECT_TRUE(outcome.result.success);
        EXPECT_EQ(outcome.result.link, QStringLiteral("app:/dir/shot.png"));
        Routes expected{"mkdir"};
        expected.insert(expected.end(), c.routes.begin(), c.routes.end());
        EXPECT_EQ(fake->routes(), expected);
    }
}

TEST_F(YandexDiskUploaderTest, BackgroundPublishingIsAwaitedThenTheLinkRead)
{
    // "SUCCESS" in capitals ends the wait.
    ASSERT_TRUE(fake->configure({{"publish_async", true}, {"operation_states", {"in-progress", "pending", "SUCCESS", "in-progress"}}}));
    Outcome outcome = upload(QStringLiteral("shot.png"));
    ASSERT_TRUE(outcome.result.success);
    EXPECT_TRUE(outcome.result.link.startsWith(QStringLiteral("https://yadi.sk/d/")));
    EXPECT_EQ(fake->routes(), (Routes{"upload_url", "upload", "publish", "operation", "operation", "operation", "resource"}));
    for (const json& request : fake->requests("operation")) {
        EXPECT_EQ(request["method"], "GET");
        EXPECT_EQ(header(request, "Authorization"), "OAuth test-token");
        EXPECT_EQ(header(request, "Accept"), "application/json");
    }

    // An operation that ends otherwise stops the wait at once; the link is read anyway.
    ASSERT_TRUE(fake->reset());
    ASSERT_TRUE(fake->configure({{"publish_async", true}, {"operation_states", {"failed"}}}));
    outcome = upload(QStringLiteral("shot.png"));
    EXPECT_TRUE(outcome.result.success);
    EXPECT_EQ(fake->routes(), (Routes{"upload_url", "upload", "publish", "operation", "resource"}));

    // 202 without a usable operation address: straight to the link.
    for (const json& body : {json{{"method", "GET"}}, json{{"href", "file:///etc/passwd"}}}) {
        ASSERT_TRUE(fake->reset());
        override("publish", json::array({{{"status", 202}, {"json", body}}}));
        outcome = upload(QStringLiteral("shot.png"));
        EXPECT_TRUE(outcome.result.success);
        const Routes routes = fake->routes();
        ASSERT_GE(routes.size(), 4u);
        EXPECT_EQ(routes[3], "resource");
        EXPECT_TRUE(fake->requests("operation").empty());
    }
}

TEST_F(YandexDiskUploaderTest, OperationThatNeverEndsIsAskedElevenTimes)
{
    ASSERT_TRUE(fake->configure({{"publish_async", true}, {"operation_states", {"in-progress"}}}));
    // Unreadable answers count as "not yet" as well.
    override("operation", json::array({{{"status", 500}, {"body", "oops"}}, {{"status", 200}, {"json", {{"state", "x"}}}}}));
    const Outcome outcome = upload(QStringLiteral("shot.png"));
    ASSERT_TRUE(outcome.result.success);
    EXPECT_EQ(fake->requests("operation").size(), 11u);
    EXPECT_EQ(fake->requests("resource").size(), 1u);
    EXPECT_EQ(fake->routes().back(), "resource");
}

TEST_F(YandexDiskUploaderTest, RepeatsStartAfterEachAnswer)
{
    ASSERT_TRUE(fake->configure({{"publish_async", true}, {"operation_states", {"success"}}}));
    // Slow answers: the pause counts from the answer, not from the request.
    override("operation", json::array({{{"status", 200}, {"json", {{"status", "in-progress"}}}, {"delay", 0.4}, {"times", 2}}}));
    const Outcome outcome = upload(QStringLiteral("shot.png"));
    ASSERT_TRUE(outcome.result.success);
    const auto operations = fake->requests("operation");
    ASSERT_EQ(operations.size(), 3u);
    for (size_t i = 1; i < operations.size(); ++i) {
        const double gap = operations[i]["time"].get<double>() - operations[i - 1]["time"].get<double>();
        EXPECT_GE(gap, 0.95) << i; // 0.4 s answer + 0.6 s pause, less timer slack
        EXPECT_LT(gap, 3.0) << i;
    }
}

TEST_F(YandexDiskUploaderTest, LinkIsAskedAgainUntilItShows)
{
    ASSERT_TRUE(fake->configure({{"public_url_after", 2}}));
    override("resource", json::array({{{"status", 200}, {"body", "not json"}}}));
    Outcome outcome = upload(QStringLiteral("shot.png"));
    ASSERT_TRUE(outcome.result.success);
    EXPECT_TRUE(outcome.result.link.startsWith(QStringLiteral("https://yadi.sk/d/")));
    EXPECT_EQ(fake->requests("resource").size(), 4u); // the unreadable one, two without a link, the link

    // A resource that never shows its link: six reads, then the Disk path.
    ASSERT_TRUE(fake->reset());
    ASSERT_TRUE(fake->configure({{"public_url_after", -1}}));
    override("resource", json::array({{{"status", 200}, {"json", {{"public_url", ""}}}}}));
    outcome = upload(QStringLiteral("shot.png"));
    ASSERT_TRUE(outcome.result.success);
    EXPECT_EQ(outcome.result.link, QStringLiteral("app:/shot.png"));
    EXPECT_EQ(fake->requests("resource").size(), 6u);
}

TEST_F(YandexDiskUploaderTest, LinkIsPassedOnAsReceived)
{
    const std::string link = "https://disk.example/d/Ab%2Fc?x=1&y=2";
    override("resource", json::array({{{"status", 200}, {"json", {{"public_url", link}}}}}));
    const Outcome outcome = upload(QStringLiteral("shot.png"));
    EXPECT_EQ(outcome.result.link.toStdString(), link);
}

TEST_F(YandexDiskUploaderTest, TransportErrorsReachTheCaller)
{
    // Connection refused: an address where nothing listens.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString deadOrigin = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    YandexDiskUploader::setOriginsForTesting(deadOrigin, deadOrigin);
    Outcome outcome = upload(QStringLiteral("shot.png"));
    ASSERT_TRUE(outcome.arrived);
    EXPECT_FALSE(outcome.result.success);
    EXPECT_EQ(outcome.result.error.domain, QStringLiteral("QNetworkReply"));
    EXPECT_FALSE(outcome.result.error.localizedDescription.isEmpty());

    // A connection cut off in the middle of the answer at the upload address.
    YandexDiskUploader::setOriginsForTesting(fake->origin(), fake->origin());
    override("upload", json::array({{{"truncate", true}}}));
    outcome = upload(QStringLiteral("shot.png"));
    EXPECT_FALSE(outcome.result.success);
    EXPECT_EQ(outcome.result.error.domain, QStringLiteral("QNetworkReply"));
}

TEST_F(YandexDiskUploaderTest, SlowAnswerRunsIntoTheTimeout)
{
    // 30 s scaled to 0.3 s; the fake answers after 2 s.
    YandexDiskUploader::setTimeoutScaleForTesting(0.01);
    override("upload_url", json::array({{{"status", 200}, {"json", {{"href", "x"}}}, {"delay", 2.0}}}));
    QElapsedTimer timer;
    timer.start();
    const Outcome outcome = upload(QStringLiteral("shot.png"));
    ASSERT_TRUE(outcome.arrived);
    EXPECT_LT(timer.elapsed(), 1900);
    EXPECT_FALSE(outcome.result.success);
    EXPECT_EQ(outcome.result.error.domain, QStringLiteral("QNetworkReply"));
    EXPECT_EQ(outcome.result.error.localizedDescription, QStringLiteral("Превышен лимит времени на запрос."));
}

TEST_F(YandexDiskUploaderTest, UploadFromAWorkerThreadAndAfterTheUploaderIsGone)
{
    // Made and called on a worker thread: the requests run and the result arrives on the GUI thread.
    auto outcome = std::make_shared<Outcome>();
    std::unique_ptr<QThread> worker(QThread::create([outcome] {
        auto* uploader = new YandexDiskUploader;
        uploader->uploadFile("bytes", QStringLiteral("worker.png"), {}, [outcome, uploader](const YandexDiskUploader::Result& r) {
            outcome->arrived = true;
            ++outcome->calls;
            outcome->onGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
            outcome->result = r;
            outcome->beforeReturn = uploader->isUploading(); // already cleared when the result comes
            uploader->deleteLater();
        });
    }));
    worker->start();
    ASSERT_TRUE(worker->wait(5000));
    ASSERT_TRUE(test::waitUntil([&] { return outcome->arrived; }, 20s));
    EXPECT_TRUE(outcome->onGuiThread);
    EXPECT_TRUE(outcome->result.success) << outcome->result.error.localizedDescription.toStdString();
    EXPECT_FALSE(outcome->beforeReturn);

    // The owner lets go right after starting: the upload still finishes and reports once.
    auto second = std::make_shared<Outcome>();
    {
        YandexDiskUploader uploader;
        uploader.uploadFile("bytes", QStringLiteral("orphan.png"), {}, [second](const YandexDiskUploader::Result& r) {
            second->arrived = true;
            ++second->calls;
            second->result = r;
        });
    }
    ASSERT_TRUE(test::waitUntil([&] { return second->arrived; }, 20s));
    test::spin(100ms);
    EXPECT_EQ(second->calls, 1);
    EXPECT_TRUE(second->result.success);
    EXPECT_EQ(fake->files().size(), 2u);
}

TEST_F(YandexDiskUploaderTest, TwoUploadsOnOneUploaderRunSideBySide)
{
    YandexDiskUploader uploader;
    int done = 0;
    std::vector<bool> flags;
    QObject::connect(&uploader, &YandexDiskUploader::isUploadingChanged, [&] { flags.push_back(uploader.isUploading()); });
    for (const char* name : {"one.png", "two.png"})
        uploader.uploadFile("bytes", QString::fromLatin1(name), {}, [&](const YandexDiskUploader::Result& r) {
            EXPECT_TRUE(r.success);
            ++done;
        });
    ASSERT_TRUE(test::waitUntil([&] { return done == 2; }, 20s));
    EXPECT_EQ(fake->files().size(), 2u);
    EXPECT_FALSE(uploader.isUploading());
    // The first to finish clears the flag.
    EXPECT_EQ(flags, (std::vector<bool>{true, false}));
}

TEST_F(YandexDiskUploaderTest, ConnectionTest)
{
    struct Case {
        const char* name;
        QString token;
        bool deadServer;
        bool success;
        QString message;
    };
    const std::vector<Case> cases{
        {"accepted", QStringLiteral("test-token"), false, true, QStringLiteral("Соединение с Яндекс.Диском успешно!")},
        {"rejected", QStringLiteral("wrong"), false, false, QStringLiteral("Ошибка авторизации. Проверьте токен.")},
        {"no network", QStringLiteral("test-token"), true, false, QStringLiteral("Ошибка: ")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(fake->reset());
        setToken(c.token);
        QTcpServer closed;
        if (c.deadServer) {
            ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
            const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
            closed.close();
            YandexDiskUploader::setOriginsForTesting(origin, origin);
        } else {
            YandexDiskUploader::setOriginsForTesting(fake->origin(), fake->origin());
        }
        YandexDiskUploader uploader;
        int calls = 0;
        bool success = !c.success;
        QString message;
        bool onGuiThread = false;
        uploader.testConnection([&](bool ok, const QString& text) {
            ++calls;
            success = ok;
            message = text;
            onGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        });
        EXPECT_EQ(calls, 0); // the answer comes later
        ASSERT_TRUE(test::waitUntil([&] { return calls > 0; }, 20s));
        test::spin(50ms);
        EXPECT_EQ(calls, 1);
        EXPECT_TRUE(onGuiThread);
        EXPECT_EQ(success, c.success);
        if (c.deadServer) {
            EXPECT_TRUE(message.startsWith(c.message)) << message.toStdString();
            EXPECT_GT(message.size(), c.message.size());
        } else {
            EXPECT_EQ(message, c.message);
            const auto log = fake->log();
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0]["route"], "test");
            EXPECT_EQ(log[0]["method"], "GET");
            EXPECT_EQ(log[0]["query"], "path=app:/");
            EXPECT_EQ(header(log[0], "Authorization"), ("OAuth " + c.token).toStdString());
            EXPECT_NE(header(log[0], "Accept"), "application/json");
        }
    }

    // Other statuses count as a refusal too.
    YandexDiskUploader::setOriginsForTesting(fake->origin(), fake->origin());
    setToken(QStringLiteral("test-token"));
    override("test", json::array({{{"status", 204}}}));
    YandexDiskUploader uploader;
    std::optional<std::pair<bool, QString>> answer;
    uploader.testConnection([&](bool ok, const QString& text) { answer = {ok, text}; });
    ASSERT_TRUE(test::waitUntil([&] { return answer.has_value(); }, 20s));
    EXPECT_EQ(*answer, std::make_pair(false, QStringLiteral("Ошибка авторизации. Проверьте токен.")));
}

TEST_F(YandexDiskUploaderTest, ConnectionTestWithoutTokenAnswersAtOnce)
{
    setToken(QString());
    YandexDiskUploader uploader;
    std::optional<std::pair<bool, QString>> answer;
    uploader.testConnection([&](bool ok, const QString& text) { answer = {ok, text}; });
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(*answer, std::make_pair(false, QStringLiteral("Токен доступа не найден")));
    test::spin(100ms);
    EXPECT_TRUE(fake->log().empty());
}

TEST(YandexDiskUploaderConstants, AddressesAndSignInPage)
{
    YandexDiskUploader::setOriginsForTesting({}, {});
    const YandexDiskUploader uploader;
    EXPECT_FALSE(uploader.isUploading());
    EXPECT_EQ(uploader.apiURL(), QStringLiteral("https://cloud-api.yandex.net/v1/disk"));
    EXPECT_EQ(uploader.authURL(), QStringLiteral("https://oauth.yandex.ru/authorize"));
    EXPECT_EQ(uploader.tokenURL(), QStringLiteral("https://oauth.yandex.ru/token"));
    EXPECT_EQ(uploader.redirectUri(), QStringLiteral("https://oauth.yandex.ru/verification_code"));

    const auto url = YandexDiskUploader::implicitAuthURL();
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(url->toString(QUrl::FullyEncoded).toStdString(),
              "https://oauth.yandex.ru/authorize?response_type=token&client_id=a41c7e02b9d84f6e93c0d5b8e2f71a64"
              "&redirect_uri=https://oauth.yandex.ru/verification_code&scope=cloud_api:disk.app_folder%20yadisk:disk");
    const QUrlQuery query(*url);
    const auto items = query.queryItems(QUrl::FullyDecoded);
    ASSERT_EQ(items.size(), 4);
    EXPECT_EQ(items[0], qMakePair(QStringLiteral("response_type"), QStringLiteral("token")));
    EXPECT_EQ(items[1], qMakePair(QStringLiteral("client_id"), YandexDiskUploader::clientId));
    EXPECT_EQ(items[2], qMakePair(QStringLiteral("redirect_uri"), QStringLiteral("https://oauth.yandex.ru/verification_code")));
    EXPECT_EQ(items[3], qMakePair(QStringLiteral("scope"), QStringLiteral("cloud_api:disk.app_folder yadisk:disk")));

    EXPECT_EQ(YandexDiskErrors::errorDescription(YandexDiskError::uploadFailed), QStringLiteral("Ошибка загрузки файла"));
}

namespace {

// Requests `server` was sent that carried an Authorization field.
int authorizedRequests(test::YandexFakeServer& server)
{
    int count = 0;
    for (const auto& request : server.log())
        if (header(request, "Authorization") != "<absent>")
            ++count;
    return count;
}

} // namespace

TEST_F(YandexDiskUploaderTest, TokenGoesOnlyToTheDiskApiOrigin)
{
    // Another port of 127.0.0.1 is another origin, as another host would be; it accepts the token too.
    test::YandexFakeServer other;
    ASSERT_TRUE(other.start(std::chrono::seconds(60))) << other.error.toStdString();

    // Background publishing whose operation address lies elsewhere: not asked; the link is still read.
    ASSERT_TRUE(fake->configure({{"publish_async", true}, {"operation_origin", other.origin().toStdString()}}));
    Outcome outcome = upload(QStringLiteral("shot.png"));
    ASSERT_TRUE(outcome.arrived);
    EXPECT_TRUE(outcome.result.success);
    EXPECT_TRUE(outcome.result.link.startsWith(QStringLiteral("https://yadi.sk/d/"))) << outcome.result.link.toStdString();
    EXPECT_EQ(authorizedRequests(other), 0);

    // Redirects of the API calls to the other origin.
    struct Case {
        const char* route;
        int status;
        std::string path;
        bool success; // the upload's result: a publication that fails still leaves the Disk path
    };
    const std::vector<Case> cases{
        {"upload_url", 302, "/v1/disk/resources/upload?path=app:/shot.png&overwrite=true", false},
        {"upload_url", 307, "/v1/disk/resources/upload?path=app:/shot.png&overwrite=true", false},
        {"publish", 302, "/v1/disk/resources/publish?path=app:/shot.png", true},
        {"resource", 308, "/v1/disk/resources?path=app:/shot.png&fields=public_url", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.route) + " " + std::to_string(c.status));
        ASSERT_TRUE(fake->reset());
        ASSERT_TRUE(other.reset());
        override(c.route, json::array({{{"status", c.status}, {"times", -1},
                                        {"headers", {{"Location", other.origin().toStdString() + c.path}}}}}));
        outcome = upload(QStringLiteral("shot.png"));
        ASSERT_TRUE(outcome.arrived);
        EXPECT_EQ(outcome.result.success, c.success);
        if (c.success) {
            EXPECT_EQ(outcome.result.link, QStringLiteral("app:/shot.png"));
        }
        EXPECT_EQ(authorizedRequests(other), 0);
    }

    // The connection test likewise.
    ASSERT_TRUE(fake->reset());
    ASSERT_TRUE(other.reset());
    override("test", json::array({{{"status", 302}, {"headers", {{"Location", other.origin().toStdString() + "/v1/disk/resources?path=app:/"}}}}}));
    YandexDiskUploader uploader;
    std::optional<bool> accepted;
    uploader.testConnection([&](bool ok, const QString&) { accepted = ok; });
    ASSERT_TRUE(test::waitUntil([&] { return accepted.has_value(); }, 10s));
    EXPECT_FALSE(*accepted);
    EXPECT_EQ(authorizedRequests(other), 0);
}

TEST_F(YandexDiskUploaderTest, RedirectedByteUploadIsSentAgainAsPutWithTheBytes)
{
    test::YandexFakeServer other;
    ASSERT_TRUE(other.start(std::chrono::seconds(60))) << other.error.toStdString();
    const QByteArray data(5000, 'p');
    for (const int status : {301, 302, 303, 307, 308}) {
        SCOPED_TRACE(status);
        ASSERT_TRUE(fake->reset());
        ASSERT_TRUE(other.reset());
        // The other host stores a PUT and answers anything else with a bare 200, which must not count.
        ASSERT_TRUE(other.configure({{"overrides",
                                      {{"upload", json::array({{{"status", 201}, {"times", -1}}})},
                                       {"unknown", json::array({{{"status", 200}, {"times", -1}}})}}}}));
        override("upload", json::array({{{"status", status},
                                         {"headers", {{"Location", other.origin().toStdString() + "/upload/elsewhere"}}}}}));
        const Outcome outcome = upload(QStringLiteral("shot.png"), data);
        ASSERT_TRUE(outcome.arrived);
        EXPECT_TRUE(outcome.result.success);
        const json log = other.log();
        ASSERT_EQ(log.size(), 1u) << log.dump();
        EXPECT_EQ(log[0]["method"], "PUT");
        EXPECT_EQ(log[0]["path"], "/upload/elsewhere");
        EXPECT_EQ(log[0]["body_size"], data.size());
        EXPECT_EQ(header(log[0], "Content-Type"), "image/png");
        EXPECT_EQ(header(log[0], "Authorization"), "<absent>");
    }

    // A redirect that leads round in a circle ends as a failure after a few turns.
    ASSERT_TRUE(fake->reset());
    override("upload", json::array({{{"status", 302}, {"times", -1}, {"headers", {{"Location", "/upload/again"}}}}}));
    const Outcome outcome = upload(QStringLiteral("shot.png"), data);
    ASSERT_TRUE(outcome.arrived);
    EXPECT_FALSE(outcome.result.success);
    EXPECT_TRUE(outcome.result.error.localizedDescription.startsWith(QStringLiteral("Ошибка загрузки (HTTP 302)")))
        << outcome.result.error.localizedDescription.toStdString();
    const auto puts = fake->requests("upload");
    EXPECT_EQ(puts.size(), 6u);
    for (const auto& request : puts)
        EXPECT_EQ(request["body_size"], data.size());
}

TEST_F(YandexDiskUploaderTest, TrickledAnswerRunsIntoTheTotalDeadline)
{
    // Scaled to 5 %: an API call may stay idle 1.5 s and take 3 s in all; the bytes 3 s and 3 s. The
    // fake sends one byte every 0.25 s, so no idle limit is ever reached; it would take 10 s.
    YandexDiskUploader::setTimeoutScaleForTesting(0.05);
    const std::string slow(40, 'x');
    for (const char* route : {"upload_url", "upload"}) {
        SCOPED_TRACE(route);
        ASSERT_TRUE(fake->reset());
        override(route, json::array({{{"status", 200}, {"body", slow}, {"trickle", 0.25}}}));
        QElapsedTimer timer;
        timer.start();
        YandexDiskUploader uploader;
        const Outcome outcome = upload(uploader, QStringLiteral("shot.png"), QByteArray("PNGDATA"), 15s);
        ASSERT_TRUE(outcome.arrived);
        EXPECT_LT(timer.elapsed(), 7000);
        EXPECT_FALSE(outcome.result.success);
        EXPECT_EQ(outcome.result.error.localizedDescription, QStringLiteral("Превышен лимит времени на запрос."));
    }
}

TEST_F(YandexDiskUploaderTest, AnswersPastOneMebibyteAreAbandoned)
{
    const std::string big(2 * 1024 * 1024, 'x');
    for (const auto& [route, status] : {std::pair<const char*, int>{"upload_url", 200}, {"upload", 500}}) {
        SCOPED_TRACE(route);
        ASSERT_TRUE(fake->reset());
        override(route, json::array({{{"status", status}, {"body", big}}}));
        const Outcome outcome = upload(QStringLiteral("shot.png"));
        ASSERT_TRUE(outcome.arrived);
        EXPECT_FALSE(outcome.result.success);
        EXPECT_EQ(outcome.result.error.domain, QStringLiteral("YandexDiskError"));
        EXPECT_EQ(outcome.result.error.localizedDescription, QStringLiteral("Ответ сервера больше 1 МиБ; он не прочитан"));
    }
}
