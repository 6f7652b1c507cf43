// Recordings uploaded from the video preview to a real local FTP server (pyftpdlib) through the
// real curl: the file on the server, the link on the clipboard and in the history, the failures.
#include "video/VideoPreviewWindow.h"

#include "cloud/CloudTestSupport.h"
#include "platform/UserDefaults.h"
#include "uploads/FtpRefusals.h"
#include "uploads/LocalServers.h"
#include "uploads/ProcessSpy.h"
#include "video/VideoTestSupport.h"

#include <QClipboard>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTcpServer>
#include <QThreadPool>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;
using videotest::Harness;

namespace {

const QString kUser = QStringLiteral("vera");
// Quotes, a backslash and shell syntax: curl reads it from its config exactly.
const QString kPassword = QStringLiteral("v\"i\\d $(eo)-") + test::randomHex(8);

class OwnServerUpload : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = std::make_unique<test::LocalFtpServer>(kUser, kPassword, QStringList{"locked"});
        ASSERT_GT(server->port(), 0) << server->log().toStdString();
        recording = videotest::makeVideo(h.dir.path(), "recording.mp4", "color=c=0x3060c0", 1.0);
        ASSERT_FALSE(recording.isEmpty());
        // Temporary copies go to a folder of this test, so leftovers show.
        ASSERT_TRUE(QDir().mkpath(h.path("tmp")));
        savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(h.path("tmp")));
        h.changeSettings([this](ServerSettings& s) {
            s.ftpHost = "127.0.0.1";
            s.ftpPort = server->port();
            s.ftpUsername = kUser;
            s.ftpPassword = kPassword;
            s.ftpDirectory = "/clips";
            s.baseURL = "https://videos.example.test/";
            s.useSFTP = true; // not consulted: recordings always go over FTP
        });
    }
    void TearDown() override
    {
        if (savedTmp.isEmpty())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", savedTmp);
    }

    QStringList leftovers() const
    {
        QStringList found;
        // Ours only: the sound system keeps a folder of its own there.
        QDirIterator it(h.path("tmp"), {"kestrova-upload-*", "temp_*", "video-*"}, QDir::AllEntries | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
        return found;
    }
    // Uploads with `good` settings changed by `change`, and expects the one failure alert it ends in.
    void failUpload(VideoPreviewWindow& window, const ServerSettings& good, const std::function<void(ServerSettings&)>& change)
    {
        h.alerts->shown.clear();
        h.appState.setServerSettings(good);
        h.changeSettings(change);
        window.uploadSSH();
        ASSERT_TRUE(test::waitUntil([&] { return !window.isUploading(); }, 60s));
        ASSERT_EQ(h.alerts->shown.size(), 1u);
        EXPECT_EQ(h.alerts->shown[0].messageText, "Ошибка загрузки");
    }
    static QByteArray bytes(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    Harness h;
    std::unique_ptr<test::LocalFtpServer> server;
    QString recording;
    QByteArray savedTmp;
};

} // namespace

TEST(OwnServerLinks, BaseDirectoryAndName)
{
    const struct {
        const char* base;
        const char* directory;
        const char* link;
    } cases[] = {
        {"https://b.example/", "/pub/videos", "https://b.example/videos/N"},
        {"https://b.example", "/pub/videos", "https://b.example/videos/N"},
        {"https://b.example/", "/pub/videos/", "https://b.example/videos/N"},
        {"https://b.example/", "videos/", "https://b.example/videos/N"},
        {"https://b.example/", "///", "https://b.example/N"},
        {"https://b.example//", "", "https://b.example//N"}, // one slash less only
        {"", "/pub/videos", "/videos/N"},
    };
    for (const auto& c : cases) {
        ServerSettings s;
        s.baseURL = c.base;
        s.ftpDirectory = c.directory;
        EXPECT_EQ(VideoPreviewWindow::ownServerLink(s, "N"), QString::fromUtf8(c.link)) << c.base << " " << c.directory;
    }
}

TEST(OwnServerErrors, CurlsStatusAndMessage)
{
    platform::ProcessResult failed;
    failed.outcome = platform::ProcessResult::Outcome::exited;
    failed.exitCode = 67;
    failed.output = "curl: (67) Access denied: 530\n";
    EXPECT_EQ(VideoPreviewWindow::curlError(failed), (platform::AppError{"FTPUpload", 67, "curl: (67) Access denied: 530\n"}));
    failed.output = QByteArrayLiteral("curl: \xff\xfe broken");
    EXPECT_EQ(VideoPreviewWindow::curlError(failed).localizedDescription, "Unknown error");
    platform::ProcessResult missing;
    missing.errorText = "No such file or directory";
    EXPECT_EQ(VideoPreviewWindow::curlError(missing).localizedDescription, "No such file or directory");
}

TEST_F(OwnServerUpload, TheRecordingReachesTheServerAndItsLinkTheClipboardAndHistory)
{
    auto window = h.window(recording);
    window->show();
    QGuiApplication::clipboard()->setText("earlier");
    test::ProcessSpy spy;
    cloudtest::LogMark mark;
    window->uploadSSH();
    EXPECT_TRUE(window->isUploading());
    ASSERT_TRUE(window->progressIndicator());
    EXPECT_TRUE(window->progressIndicator()->isVisible());
    EXPECT_EQ(h.appState.serverSettings().lastUsedUploadProvider, UploadProvider::ssh);
    EXPECT_EQ(platform::UserDefaults::standard().string("lastUsedUploadProvider"), "ssh");
    // A second click while it runs changes nothing.
    window->uploadSSH();
    window->uploadToKestrova();
    window->uploadYandex();

    ASSERT_TRUE(test::waitUntil([&] { return !window->isUploading(); }, 60s));
    EXPECT_TRUE(window->isVisible()) << "closes 0.8 s after the banner";
    ASSERT_TRUE(window->successBanner());
    EXPECT_TRUE(window->successBanner()->isVisible());
    EXPECT_EQ(window->successBanner()->text(), "Загружено");
    EXPECT_FALSE(window->progressIndicator()->isVisible());
    EXPECT_TRUE(h.alerts->shown.empty());

    const QStringList files = server->files();
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(QRegularExpression(R"(^clips/video-\d+\.\d+\.mp4$)").match(files.first()).hasMatch()) << files.first().toStdString();
    EXPECT_EQ(bytes(server->root() + "/" + files.first()), bytes(recording));
    const QString link = "https://videos.example.test/clips/" + files.first().mid(6);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), link);
    ASSERT_EQ(h.history->screenshots().size(), 1);
    EXPECT_EQ(h.history->screenshots().first().videoURL, recording);
    EXPECT_EQ(h.history->screenshots().first().remoteURL, link);
    EXPECT_EQ(h.refreshes, 1);

    EXPECT_TRUE(test::waitUntil([&] { return !window->isVisible(); }, 3s));
    EXPECT_TRUE(QFile::exists(recording));
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(", ").toStdString();

    // One prologue; curl got the password on its standard input only.
    const QStringList messages = mark.messages();
    EXPECT_EQ(messages.count("performSSHUpload: VideoPreviewWindow: Starting SSH upload (format: MP4)"), 1);
    EXPECT_FALSE(messages.join('\n').contains("failed"));
    EXPECT_FALSE(messages.join('\n').contains(kPassword));
    const QStringList lines = spy.commandLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.first().startsWith("/usr/bin/curl --silent --show-error --ftp-create-dirs --connect-timeout 20 --max-time 180 -T "))
        << lines.first().toStdString();
    EXPECT_TRUE(lines.first().endsWith("ftp://127.0.0.1:" + QString::number(server->port()) + "/clips/" + files.first().mid(6)));
    EXPECT_FALSE(spy.anyProcessShows(kPassword.toUtf8()));
    ASSERT_EQ(spy.folders().size(), 1);
    EXPECT_EQ(spy.folders().first().permissions & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(OwnServerUpload, AGIFIsConvertedAndTheHistoryKeepsTheRecording)
{
    auto window = h.window(recording);
    window->show();
    window->formatChanged(1);
    cloudtest::LogMark mark;
    window->uploadSSH();
    ASSERT_TRUE(test::waitUntil([&] { return !window->isUploading(); }, 60s));
    ASSERT_TRUE(h.alerts->shown.empty()) << h.alerts->shown[0].informativeText.toStdString();

    const QStringList files = server->files();
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(QRegularExpression(R"(^clips/video-\d+\.\d+\.gif$)").match(files.first()).hasMatch()) << files.first().toStdString();
    const QString stored = server->root() + "/" + files.first();
    const videotest::GifInfo info = videotest::probeGIF(stored);
    EXPECT_EQ(info.codec, "gif");
    EXPECT_EQ(info.frames, 10);
    EXPECT_EQ(info.loopCount, 0);
    const QStringList messages = mark.messages();
    EXPECT_TRUE(messages.contains("performSSHUpload: VideoPreviewWindow: Starting SSH upload (format: GIF)"));
    EXPECT_TRUE(messages.contains(QStringLiteral("performSSHUpload: VideoPreviewWindow: GIF converted for SSH, size: %1 bytes")
                                      .arg(QFileInfo(stored).size())));
    ASSERT_EQ(h.history->screenshots().size(), 1);
    EXPECT_EQ(h.history->screenshots().first().videoURL, recording);
    EXPECT_EQ(h.history->screenshots().first().remoteURL, "https://videos.example.test/clips/" + files.first().mid(6));
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(", ").toStdString();
}

TEST_F(OwnServerUpload, FailuresShowCurlsMessageAndLeaveTheWindowReady)
{
    const struct {
        const char* what;
        std::function<void(ServerSettings&)> change;
        int code;
        const char* message;
    } cases[] = {
        {"wrong password", [](ServerSettings& s) { s.ftpPassword = "wrong"; }, 67, "curl: (67) Access denied: 530"},
        {"refused folder", [](ServerSettings& s) { s.ftpDirectory = "locked"; }, 25, "curl: (25) Failed FTP upload: 550"},
        {"nothing listens", [](ServerSettings& s) { s.ftpPort = test::freeLoopbackPort(); }, 7,
         "curl: (7) Failed to connect to 127.0.0.1 port"},
        {"empty host", [](ServerSettings& s) { s.ftpHost.clear(); }, 3, "curl: (3) URL using bad/illegal format"},
    };
    auto window = h.window(recording);
    window->show();
    const ServerSettings good = h.appState.serverSettings();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        cloudtest::LogMark mark;
        ASSERT_NO_FATAL_FAILURE(failUpload(*window, good, c.change));
        const QString text = h.alerts->shown[0].informativeText;
        EXPECT_TRUE(text.startsWith(QString::fromUtf8(c.message))) << text.toStdString();
        EXPECT_FALSE(text.contains(kPassword));
        const QStringList messages = mark.messages();
        // curl's message ends in a line feed, so the log lines are cut there.
        const QString firstLine = text.section('\n', 0, 0);
        EXPECT_TRUE(messages.contains(QStringLiteral("performSSHUpload: VideoPreviewWindow: SSH upload failed with error: "
                                                     "Error Domain=FTPUpload Code=%1 \"")
                                          .arg(c.code)
                                      + firstLine))
            << messages.join('\n').toStdString();
        EXPECT_TRUE(messages.contains("performSSHUpload: ERROR: " + firstLine));
        EXPECT_FALSE(window->progressIndicator()->isVisible());
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(h.appState.serverSettings().lastUsedUploadProvider, UploadProvider::ssh);
        EXPECT_TRUE(h.history->screenshots().isEmpty());
        EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(", ").toStdString();
    }
    EXPECT_TRUE(server->files().isEmpty());
}

TEST_F(OwnServerUpload, AWindowClosedAndReleasedMidUploadStillFilesTheLink)
{
    QPointer<VideoPreviewWindow> window = h.window(recording).release();
    window->show();
    window->uploadSSH();
    window->close();
    window->release();
    Harness::runDeferredDeletes();
    ASSERT_TRUE(window) << "kept until the upload ends";
    ASSERT_TRUE(test::waitUntil([&] {
        Harness::runDeferredDeletes();
        return window.isNull();
    }, 60s));
    ASSERT_EQ(h.history->screenshots().size(), 1);
    ASSERT_TRUE(h.history->screenshots().first().remoteURL);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), *h.history->screenshots().first().remoteURL);
    EXPECT_EQ(server->files().size(), 1);
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(OwnServerUpload, CurlIsWaitedForOffTheSharedPoolAndQuittingRemovesTheCopy)
{
    // A server that takes the connection and never greets: curl waits until it is stopped.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    h.changeSettings([&](ServerSettings& s) { s.ftpPort = silent.serverPort(); });
    auto window = h.window(recording);
    window->show();
    test::ProcessSpy spy;
    window->uploadSSH();
    // Connected: curl has opened its copy by then.
    ASSERT_TRUE(test::waitUntil([&] { return !spy.snapshots().isEmpty() && silent.hasPendingConnections(); }, 30s));
    const qint64 curl = spy.snapshots().first().pid;
    // The pool the GIF conversion runs on, and which the application waits for at exit, stays free.
    EXPECT_EQ(QThreadPool::globalInstance()->activeThreadCount(), 0);
    EXPECT_EQ(leftovers().size(), 2) << "the upload folder and its copy";

    // Quitting while curl runs: the main loop ends at once and takes the copy with it.
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QElapsedTimer quitting;
    quitting.start();
    QCoreApplication::exec();
    EXPECT_LT(quitting.elapsed(), 5000);
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(", ").toStdString();
    EXPECT_TRUE(window->isUploading());

    // Here the process goes on: curl's end still reaches the window, as a failure.
    ASSERT_EQ(::kill(static_cast<pid_t>(curl), SIGKILL), 0);
    ASSERT_TRUE(test::waitUntil([&] { return !window->isUploading(); }, 30s));
    ASSERT_EQ(h.alerts->shown.size(), 1u);
    EXPECT_EQ(h.alerts->shown[0].messageText, "Ошибка загрузки");
    EXPECT_FALSE(window->progressIndicator()->isVisible());
    EXPECT_TRUE(h.history->screenshots().isEmpty());
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(OwnServerUpload, ADirectoryEndingInASlashKeepsItsFolderInTheLink)
{
    h.changeSettings([](ServerSettings& s) { s.ftpDirectory = "/pub/clips/"; });
    auto window = h.window(recording);
    window->show();
    window->uploadSSH();
    ASSERT_TRUE(test::waitUntil([&] { return !window->isUploading(); }, 60s));
    ASSERT_TRUE(h.alerts->shown.empty()) << h.alerts->shown[0].informativeText.toStdString();
    const QStringList files = server->files();
    ASSERT_EQ(files.size(), 1);
    ASSERT_TRUE(files.first().startsWith("pub/clips/video-")) << files.first().toStdString();
    const QString link = "https://videos.example.test/clips/" + files.first().mid(10);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), link);
    ASSERT_EQ(h.history->screenshots().size(), 1);
    EXPECT_EQ(h.history->screenshots().first().remoteURL, link);
}

TEST_F(OwnServerUpload, ControlCharactersStopTheUploadBeforeCurlRuns)
{
    std::vector<test::FtpRefusalCase> cases = test::ftpLineBreakRefusals(kUser, kPassword, "clips");
    cases.push_back({"NUL in the host", [](ServerSettings& s) { s.ftpHost = QString("127.0.0.1") + QChar(0); },
                     "Адрес сервера содержит недопустимые символы"});
    auto window = h.window(recording);
    window->show();
    const ServerSettings good = h.appState.serverSettings();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ProcessSpy spy;
        cloudtest::LogMark mark;
        ASSERT_NO_FATAL_FAILURE(failUpload(*window, good, c.change));
        EXPECT_EQ(h.alerts->shown[0].informativeText, QString::fromUtf8(c.refusal));
        EXPECT_TRUE(mark.messages().contains("performSSHUpload: VideoPreviewWindow: SSH upload failed with error: "
                                             "Error Domain=FileUploader Code=5 \"" + QString::fromUtf8(c.refusal) + "\""))
            << mark.messages().join('\n').toStdString();
        EXPECT_TRUE(spy.requests().isEmpty());
        EXPECT_TRUE(server->commands().isEmpty()) << server->commands().join('\n').toStdString();
        EXPECT_TRUE(h.history->screenshots().isEmpty());
        EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(", ").toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(server->root() + "/injected"));
    EXPECT_TRUE(server->files().isEmpty());
}
