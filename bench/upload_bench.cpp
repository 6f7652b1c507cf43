// Own-server upload of a 4K screenshot over FTP to a local server (pyftpdlib on 127.0.0.1).
//
// Targets: the GUI thread only checks, queues and publishes, so uploadImage returns within 5 ms
// and the event loop never stalls for more than 16 ms (one frame at 60 Hz) during the upload;
// the PNG step and curl run on the upload workers.
#include "uploads/FileUploader.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A screenshot-like picture: flat areas, gradients and some noise, so PNG has real work to do.
QImage screenshot()
{
    QImage image(3840, 2160, QImage::Format_ARGB32);
    std::mt19937 rng(7);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const bool noisy = (x / 240 + y / 270) % 3 == 0;
            const quint32 r = noisy ? rng() & 0xff : (x * 255 / image.width());
            const quint32 g = noisy ? rng() & 0xff : (y * 255 / image.height());
            line[x] = 0xff000000u | (r << 16) | (g << 8) | 0x60;
        }
    }
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString fake = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/../tests/fakes/ftp_server.py");
    QTemporaryDir root;
    QTemporaryDir secrets;
    QFile passwordFile(secrets.path() + QStringLiteral("/pw"));
    passwordFile.open(QIODevice::WriteOnly);
    passwordFile.write("bench-password");
    passwordFile.close();

    QProcess server;
    server.start(QStringLiteral("/usr/bin/python3"), {fake, QStringLiteral("--root"), root.path(), QStringLiteral("--user"),
                                                      QStringLiteral("bench"), QStringLiteral("--password-file"),
                                                      passwordFile.fileName(), QStringLiteral("--lifetime"), QStringLiteral("120")});
    QByteArray line;
    QElapsedTimer wait;
    wait.start();
    // Python may take a while to start on a loaded machine: keep waiting for the whole 10 s.
    while (!line.contains('\n') && wait.elapsed() < 10000 && server.state() != QProcess::NotRunning) {
        server.waitForReadyRead(200);
        line += server.readAllStandardOutput();
    }
    if (!line.startsWith("PORT ")) {
        std::printf("upload_bench: the FTP server did not start\n");
        return 1;
    }

    ServerSettings settings;
    settings.uploadProvider = UploadProvider::ssh;
    settings.ftpHost = QStringLiteral("127.0.0.1");
    settings.ftpPort = line.mid(5).trimmed().toInt();
    settings.ftpUsername = QStringLiteral("bench");
    settings.ftpPassword = QStringLiteral("bench-password");
    settings.ftpDirectory = QStringLiteral("shots");
    settings.baseURL = QStringLiteral("https://bench.example.test");

    const QImage image = screenshot();
    constexpr int runs = 5;
    std::vector<double> callMs, stallMs, totalMs;
    for (int i = 0; i < runs; ++i) {
        FileUploader uploader;
        // A 1 ms timer: the largest gap between its ticks is the longest stall of the GUI thread.
        double longestGap = 0;
        auto lastTick = Clock::now();
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, msSince(lastTick));
            lastTick = Clock::now();
        });
        ticker.start(1);

        const auto start = Clock::now();
        uploader.uploadImage(image, settings);
        callMs.push_back(msSince(start));
        lastTick = Clock::now();
        while (uploader.isUploading())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        totalMs.push_back(msSince(start));
        ticker.stop();
        stallMs.push_back(longestGap);
        if (uploader.lastError()) {
            std::printf("upload_bench: upload failed: %s\n", qPrintable(*uploader.lastError()));
            return 1;
        }
    }
    const QStringList stored = QDir(root.path() + QStringLiteral("/shots")).entryList(QDir::Files);
    const qint64 bytes = stored.isEmpty() ? 0 : QFileInfo(root.path() + QStringLiteral("/shots/") + stored.first()).size();

    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("4K screenshot, %d uploads over FTP to 127.0.0.1, PNG %.1f MB\n", runs, bytes / 1e6);
    std::printf("  uploadImage on the GUI thread: median %.2f ms, max %.2f ms (target <= 5 ms)\n", median(callMs),
                *std::max_element(callMs.begin(), callMs.end()));
    std::printf("  longest GUI-thread stall during an upload: median %.1f ms, max %.1f ms (target <= 16 ms)\n",
                median(stallMs), *std::max_element(stallMs.begin(), stallMs.end()));
    std::printf("  request to published link: median %.0f ms\n", median(totalMs));

    server.closeWriteChannel();
    server.waitForFinished(3000);
    return 0;
}
