#include "screenshots/ScreenshotPreviewView.h"

#include "app/AppState.h"
#include "app/DebugLogger.h"
#include "app/Localization.h"
#include "app/ToastContainer.h"
#include "app/ToastManager.h"
#include "app/ToastNotification.h"
#include "platform/Console.h"
#include "platform/NumberFormat.h"
#include "platform/SystemColors.h"
#include "screenshots/AnnotatedImageRenderer.h"
#include "screenshots/FileDialogSavePanel.h"
#include "screenshots/ImageEditorView.h"
#include "screenshots/PreviewErrorBanner.h"
#include "screenshots/ScreenshotHistoryManager.h"
#include "screenshots/ScreenshotPreviewWindowController.h"

#include <QBuffer>
#include <QClipboard>
#include <QFileInfo>
#include <QGraphicsDropShadowEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>
#include <QTimer>
#include <QVBoxLayout>

#include <source_location>

namespace {

const QString kScreenshotAction = QStringLiteral("screenshotAction");

void printLine(const QString& text)
{
    platform::Console::printLine(QStringLiteral("ScreenshotPreviewWindow: ") + text);
}

QFont pixelFont(int pixels, QFont::Weight weight = QFont::Normal)
{
    QFont font;
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

// PNG (or JPEG) bytes of an image; none when it cannot be encoded.
std::optional<QByteArray> encode(const QImage& image, const QByteArray& format)
{
    QByteArray data;
    QBuffer buffer(&data);
    if (!buffer.open(QIODevice::WriteOnly))
        return std::nullopt;
    QImageWriter writer(&buffer, format);
    if (format == "jpeg")
        writer.setQuality(95);
    if (!writer.write(image) || data.isEmpty())
        return std::nullopt;
    return data;
}

// The circular spinner of the upload indicator.
class Spinner : public QWidget {
public:
    explicit Spinner(QWidget* parent)
        : QWidget(parent)
    {
        setFixedSize(16, 16);
        m_timer.setInterval(50);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            m_angle = (m_angle + 30) % 360;
            update();
        });
    }

protected:
    void showEvent(QShowEvent*) override { m_timer.start(); }
    void hideEvent(QHideEvent*) override { m_timer.stop(); }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPen pen(QColor(255, 255, 255, 220), 2, Qt::SolidLine, Qt::RoundCap);
        painter.setPen(pen);
        const QRectF box = QRectF(rect()).adjusted(2, 2, -2, -2);
        painter.drawArc(box, -m_angle * 16, 270 * 16);
    }

private:
    QTimer m_timer;
    int m_angle = 0;
};

// The "Загрузка…" capsule over the top of the editor.
class UploadIndicator : public QWidget {
public:
    explicit UploadIndicator(QWidget* parent)
        : QWidget(parent)
    {
        setObjectName(QStringLiteral("uploadIndicator"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(14, 10, 14, 10);
        row->setSpacing(8);
        row->addWidget(new Spinner(this), 0, Qt::AlignVCenter);
        auto* label = new QLabel(L::text(QStringLiteral("Загрузка…"), QStringLiteral("Uploading…")), this);
        label->setObjectName(QStringLiteral("uploadIndicatorText"));
        label->setFont(pixelFont(13, QFont::Medium));
        row->addWidget(label, 0, Qt::AlignVCenter);
        auto* shadow = new QGraphicsDropShadowEffect(this);
        shadow->setColor(QColor(0, 0, 0, 31));
        shadow->setBlurRadius(16);
        shadow->setOffset(0, 4);
        setGraphicsEffect(shadow);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 10, 10);
        painter.fillPath(path, QColor(58, 58, 62, 235));
    }
};

} // namespace

// What filing a finished upload needs; it outlives the view when the window closes mid-upload.
struct ScreenshotPreviewView::UploadContext {
    QImage output;
    QPointer<ScreenshotHistoryManager> history;
    RecentCapturesRefresher statusBar;
    QPointer<ScreenshotPreviewWindowController> controller;
    // The window the upload was started in: the delayed close closes this one only.
    QPointer<QWidget> window;
    QPointer<ScreenshotPreviewView> view;
    QMetaObject::Connection linkConnection;
    QMetaObject::Connection errorConnection;

    // The success steps: history entry with the link, the link on the clipboard (unless the
    // uploader put it there), the toast, and the close 0.8 s later.
    void fileUploaded(const QString& link, bool copyLink, const QString& toast, const QString& icon) const
    {
        if (history) {
            history->addScreenshot(output, link);
            if (statusBar)
                statusBar(history->screenshots());
        }
        if (copyLink) {
            QClipboard* clipboard = QGuiApplication::clipboard();
            clipboard->clear();
            clipboard->setText(link);
        }
        ToastManager::shared().show(toast, icon, ToastType::success, closeDelayMs / 1000.0);
        if (controller)
            QTimer::singleShot(closeDelayMs, controller.data(), [controller = controller, window = window] {
                if (controller)
                    controller->closeWindowIfShowing(window);
            });
    }
};

ScreenshotPreviewView::ScreenshotPreviewView(const QImage& image, AppState* appState, ScreenshotHistoryManager* historyManager,
                                             RecentCapturesRefresher statusBarController,
                                             ScreenshotPreviewWindowController* windowController,
                                             const PreviewUploadServices& services, Environment environment, QWidget* parent)
    : QWidget(parent)
    , m_image(image)
    , m_appState(appState)
    , m_historyManager(historyManager)
    , m_statusBarController(std::move(statusBarController))
    , m_windowController(windowController)
    , m_services(services)
    , m_environment(std::move(environment))
{
    setObjectName(QStringLiteral("ScreenshotPreviewView"));
    if (m_services.makeOwnServerUploader)
        if (auto uploader = m_services.makeOwnServerUploader()) {
            uploader->setParent(this);
            m_fileUploader = uploader.release();
        }
    if (m_services.makeYandexUploader)
        if (auto uploader = m_services.makeYandexUploader()) {
            uploader->setParent(this);
            m_yandexUploader = uploader.release();
        }

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    const QImage shown = appState && !appState->capturedImage().isNull() ? appState->capturedImage() : m_image;
    m_editor = new ImageEditorView(shown, appState, this);
    m_editor->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    column->addWidget(m_editor, 1);

    m_serverBanner = new PreviewErrorBanner(platform::SystemColors::orange(), this);
    m_serverBanner->setObjectName(QStringLiteral("serverErrorBanner"));
    m_serverBanner->onCopy = [this] {
        if (m_fileUploader && m_fileUploader->lastError())
            copySSHErrorToClipboard(*m_fileUploader->lastError());
    };
    m_serverBanner->onClose = [this] {
        if (m_fileUploader)
            m_fileUploader->setLastError(std::nullopt);
    };
    column->addWidget(m_serverBanner);

    m_errorBanner = new PreviewErrorBanner(platform::SystemColors::red(), this);
    m_errorBanner->setObjectName(QStringLiteral("errorBanner"));
    m_errorBanner->onCopy = [this] { copyErrorToClipboard(); };
    m_errorBanner->onClose = [this] { setErrors(std::nullopt, std::nullopt); };
    column->addWidget(m_errorBanner);

    m_indicator = new UploadIndicator(this);
    m_indicator->hide();

    if (m_fileUploader) {
        connect(m_fileUploader, &OwnServerUploader::lastErrorChanged, this, &ScreenshotPreviewView::refreshBanners);
        connect(m_fileUploader, &OwnServerUploader::isUploadingChanged, this, &ScreenshotPreviewView::refreshIndicator);
    }
    if (m_yandexUploader)
        connect(m_yandexUploader, &DriveFileUploader::isUploadingChanged, this, &ScreenshotPreviewView::refreshIndicator);
    if (m_services.cloudUploader)
        connect(m_services.cloudUploader, &CloudImageUploader::isUploadingChanged, this,
                &ScreenshotPreviewView::refreshIndicator);

    ToastContainer::install(this);

    QPointer<ScreenshotPreviewView> self(this);
    m_actionObserver = platform::NotificationCenter::defaultCenter().addObserver(
        kScreenshotAction, this, [self](const platform::Notification& notification) {
            if (self)
                self->dispatch(notification);
        });

    refreshBanners();
    refreshIndicator();
}

ScreenshotPreviewView::~ScreenshotPreviewView()
{
    stopObservingActions();
    // Uploaders still at work outlive the view; their outcome handlers retire them.
    QObject* keeper = m_windowController.data();
    if (m_fileUploader && m_serverUpload)
        m_fileUploader->setParent(keeper);
    if (m_yandexUploader && m_pendingDriveCompletions > 0)
        m_yandexUploader->setParent(keeper);
}

void ScreenshotPreviewView::stopObservingActions()
{
    if (m_actionObserver)
        platform::NotificationCenter::defaultCenter().removeObserver(*m_actionObserver);
    m_actionObserver.reset();
}

QDateTime ScreenshotPreviewView::now() const
{
    return m_environment.now ? m_environment.now() : QDateTime::currentDateTime();
}

void ScreenshotPreviewView::dispatch(const platform::Notification& notification)
{
    const QVariant value = notification.userInfo.value(QStringLiteral("action"));
    if (value.typeId() != QMetaType::QString)
        return;
    const QString action = value.toString();
    if (action == QLatin1String("save"))
        saveImageLocally();
    else if (action == QLatin1String("copy"))
        copyToClipboard();
    else if (action == QLatin1String("kestrova"))
        uploadToKestrovaCloud();
    else if (action == QLatin1String("ssh"))
        uploadToSSH();
    else if (action == QLatin1String("yandex"))
        performYandexUpload();
    else if (action == QLatin1String("dropbox"))
        uploadToDropbox();
    else if (action == QLatin1String("gdrive"))
        uploadToGoogleDrive();
    else if (action == QLatin1String("webdav"))
        uploadToWebDAV();
    else if (action == QLatin1String("done"))
        saveToHistoryAndClose();
}

QImage ScreenshotPreviewView::renderImageWithAnnotations() const
{
    return AnnotatedImageRenderer::renderImageWithAnnotations(m_image, m_appState ? m_appState->annotations()
                                                                                   : QList<Annotation>());
}

QImage ScreenshotPreviewView::outputImage() const
{
    return m_appState && m_appState->isEditing() ? renderImageWithAnnotations() : m_image;
}

void ScreenshotPreviewView::refreshStatusMenu()
{
    if (m_statusBarController && m_historyManager)
        m_statusBarController(m_historyManager->screenshots());
}

ScreenshotPreviewView::SaveTarget ScreenshotPreviewView::saveTarget(const QString& chosenPath)
{
    const QFileInfo chosen(chosenPath);
    const QString suffix = chosen.suffix().toLower();
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return {chosenPath, "jpeg"};
    // Any other name is written as chosen: the panel confirmed replacing that file, not another
    // one with ".png" added.
    if (chosen.fileName().contains(QLatin1Char('.')))
        return {chosenPath, "png"};
    return {chosenPath + QStringLiteral(".png"), "png"};
}

void ScreenshotPreviewView::saveImageLocally()
{
    setErrors(std::nullopt, std::nullopt);
    std::shared_ptr<SavePanel> panel = m_environment.savePanel;
    if (!panel)
        panel = std::make_shared<FileDialogSavePanel>();
    const auto chosen = panel->runModal(window(), {QStringLiteral("Сохранить скриншот"), uploadFileName(now())});
    if (!chosen || chosen->isEmpty())
        return;
    const SaveTarget target = saveTarget(*chosen);
    const bool jpeg = target.format == "jpeg";

    const QImage output = outputImage();
    if (output.isNull()) {
        printLine(QStringLiteral("Failed to get image data"));
        reportSaveError(QStringLiteral("Не удалось получить данные изображения"));
        return;
    }
    // JPEG has no alpha: flatten onto the opaque format it stores.
    const QImage bitmap = output.convertToFormat(jpeg ? QImage::Format_RGB32 : QImage::Format_ARGB32);
    if (bitmap.isNull()) {
        printLine(QStringLiteral("Failed to create bitmap"));
        reportSaveError(QStringLiteral("Не удалось обработать изображение"));
        return;
    }
    const auto data = encode(bitmap, target.format);
    if (!data) {
        printLine(jpeg ? QStringLiteral("Failed to convert to JPEG") : QStringLiteral("Failed to convert to PNG"));
        reportSaveError(jpeg ? QStringLiteral("Не удалось конвертировать в JPEG") : QStringLiteral("Не удалось конвертировать в PNG"));
        return;
    }
    // Written aside and renamed over the target, so a failed write never leaves half a file.
    QSaveFile file(target.path);
    const bool written = file.open(QIODevice::WriteOnly) && file.write(*data) == data->size() && file.commit();
    if (!written) {
        const QString description = file.errorString();
        file.cancelWriting();
        printLine(QStringLiteral("Save error: ") + description);
        reportSaveError(description);
        return;
    }

    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setImage(output);
    printLine(QStringLiteral("Screenshot saved to ") + QFileInfo(target.path).fileName());
    if (m_historyManager)
        m_historyManager->addScreenshot(output);
    refreshStatusMenu();
}

void ScreenshotPreviewView::copyToClipboard()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setImage(m_image);
    printLine(QStringLiteral("Screenshot copied to clipboard"));
}

void ScreenshotPreviewView::saveToHistoryAndClose()
{
    setErrors(std::nullopt, std::nullopt);
    const QImage output = outputImage();
    const bool filed = m_historyManager && m_historyManager->addScreenshot(output);
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setImage(output);
    if (!filed) {
        // The window stays open so the capture is not left on the clipboard alone.
        printLine(QStringLiteral("Failed to save screenshot to history"));
        const QString folder = m_historyManager ? m_historyManager->screenshotDirectory() : QString();
        reportSaveError(QStringLiteral("Не удалось сохранить скриншот в историю"),
                        QStringLiteral("ScreenshotHistoryManager.addScreenshot: could not write a PNG file into ") + folder);
        return;
    }
    refreshStatusMenu();
    printLine(QStringLiteral("Screenshot saved and copied to clipboard"));
    if (m_windowController)
        m_windowController->closeWindow();
}

std::shared_ptr<ScreenshotPreviewView::UploadContext> ScreenshotPreviewView::uploadContext(const QImage& output)
{
    auto context = std::make_shared<UploadContext>();
    context->output = output;
    context->history = m_historyManager;
    context->statusBar = m_statusBarController;
    context->controller = m_windowController;
    context->window = window();
    context->view = this;
    return context;
}

void ScreenshotPreviewView::uploadFinished()
{
    m_uploadInFlight = false;
    refreshIndicator();
}

void ScreenshotPreviewView::uploadToKestrovaCloud()
{
    DebugLogger::shared().log(QStringLiteral("=== BUTTON PRESSED: uploadToKestrovaCloud ==="));
    performKestrovaUpload();
}

void ScreenshotPreviewView::performKestrovaUpload()
{
    if (m_uploadInFlight) {
        printLine(QStringLiteral("Upload already in progress, ignoring request"));
        return;
    }
    auto& logger = DebugLogger::shared();
    const auto where = std::source_location::current();
    logger.log(QStringLiteral("appState.isEditing: ") + ((m_appState && m_appState->isEditing()) ? QStringLiteral("true")
                                                                                                   : QStringLiteral("false")));
    const QImage output = outputImage();
    const QSizeF size = output.deviceIndependentSize();
    logger.log(QStringLiteral("finalImage size: ") + platform::NumberFormat::decimal(size.width()) + QStringLiteral(" x ")
               + platform::NumberFormat::decimal(size.height()));
    logger.log(QStringLiteral("finalImage representations: ") + QString::number(output.isNull() ? 0 : 1));
    const QString name = uploadFileName(now());

    auto context = uploadContext(output);
    m_uploadInFlight = true;
    auto completion = [context, where](const UploadResult& result) {
        auto& log = DebugLogger::shared();
        if (ScreenshotPreviewView* view = context->view)
            view->uploadFinished();
        if (result.link) {
            log.log(QStringLiteral("=== UPLOAD SUCCESS: ") + *result.link + QStringLiteral(" ==="), where);
            context->fileUploaded(*result.link, true, QStringLiteral("Ссылка скопирована"), QStringLiteral("link"));
            return;
        }
        const UploadFailure failure = result.failure.value_or(UploadFailure{});
        log.log(QStringLiteral("=== UPLOAD FAILURE ==="), where);
        log.log(QStringLiteral("Error type: ") + failure.typeName, where);
        log.log(QStringLiteral("Error description: ") + failure.localizedDescription, where);
        log.log(QStringLiteral("Error: ") + failure.description, where);
        if (ScreenshotPreviewView* view = context->view)
            view->reportUploadError(failure);
        else
            log.logErrorMessage(failure.localizedDescription, where);
    };
    if (CloudImageUploader* cloud = m_services.cloudUploader) {
        cloud->uploadImage(output, name, true, completion);
    } else {
        // No cloud service in this build: the same answer as without a signed-in account.
        completion(UploadResult::error(UploadFailure::notAuthenticated()));
    }
}

void ScreenshotPreviewView::uploadToSSH()
{
    if (!m_fileUploader) {
        showUnsupportedToast(UploadProvider::ssh);
        return;
    }
    if (m_uploadInFlight) {
        printLine(QStringLiteral("Upload already in progress, ignoring request"));
        return;
    }
    ServerSettings settings = m_appState ? m_appState->serverSettings() : ServerSettings{};
    settings.uploadProvider = UploadProvider::ssh;
    const QImage output = outputImage();
    m_serverUpload = uploadContext(output);
    m_uploadInFlight = true;
    watchServerUploader();
    m_fileUploader->uploadImage(output, settings);
    refreshIndicator();
}

void ScreenshotPreviewView::watchServerUploader()
{
    // The uploader is the connections' context and they hold the upload's context: the outcome is
    // filed even after the view is gone. Both connections go at the first outcome.
    OwnServerUploader* uploader = m_fileUploader;
    std::shared_ptr<UploadContext> context = m_serverUpload;
    auto finish = [uploader, context](bool succeeded) {
        const std::shared_ptr<UploadContext> keep = context;
        QObject::disconnect(keep->linkConnection);
        QObject::disconnect(keep->errorConnection);
        ScreenshotPreviewView* view = keep->view;
        if (view) {
            view->m_serverUpload.reset();
            view->uploadFinished();
        }
        if (succeeded)
            keep->fileUploaded(*uploader->lastUploadedURL(), false,
                               L::text(QStringLiteral("Загружено"), QStringLiteral("Uploaded")),
                               QStringLiteral("checkmark.circle.fill"));
        else if (!view)
            DebugLogger::shared().logErrorMessage(uploader->lastError().value_or(QString()));
        if (!view)
            uploader->deleteLater();
    };
    context->linkConnection = connect(uploader, &OwnServerUploader::lastUploadedURLChanged, uploader, [uploader, finish] {
        if (uploader->lastUploadedURL() && !uploader->lastError())
            finish(true);
    });
    context->errorConnection = connect(uploader, &OwnServerUploader::lastErrorChanged, uploader, [uploader, finish] {
        if (uploader->lastError())
            finish(false);
    });
}

void ScreenshotPreviewView::performYandexUpload()
{
    if (!m_yandexUploader) {
        showUnsupportedToast(UploadProvider::yandexDisk);
        return;
    }
    if (m_uploadInFlight) {
        printLine(QStringLiteral("Upload already in progress, ignoring request"));
        return;
    }
    const QImage output = outputImage();
    const auto png = output.isNull() ? std::nullopt : encode(output.convertToFormat(QImage::Format_ARGB32), "png");
    if (!png) {
        reportSaveError(QStringLiteral("Failed to convert image to PNG"));
        return;
    }
    auto context = uploadContext(output);
    QPointer<DriveFileUploader> uploader = m_yandexUploader;
    m_uploadInFlight = true;
    ++m_pendingDriveCompletions;
    const QString folder = m_appState ? m_appState->serverSettings().yandexFolder : QString();
    uploader->uploadFile(*png, uploadFileName(now()), folder, [context, uploader](const UploadResult& result) {
        ScreenshotPreviewView* view = context->view;
        if (view) {
            --view->m_pendingDriveCompletions;
            view->uploadFinished();
        }
        if (result.link)
            context->fileUploaded(*result.link, true, QStringLiteral("Ссылка скопирована"), QStringLiteral("link"));
        else if (view)
            view->reportUploadError(result.failure.value_or(UploadFailure{}));
        else
            DebugLogger::shared().logErrorMessage(result.failure.value_or(UploadFailure{}).localizedDescription);
        if (!view && uploader)
            uploader->deleteLater();
    });
    refreshIndicator();
}

void ScreenshotPreviewView::showUnsupportedToast(UploadProvider provider)
{
    ToastManager::shared().show(UploadProviders::displayName(provider) + QStringLiteral(" пока не поддерживается"),
                                QStringLiteral("exclamationmark.triangle"), ToastType::warning, 2.0);
}

void ScreenshotPreviewView::uploadToDropbox()
{
    showUnsupportedToast(UploadProvider::dropbox);
}

void ScreenshotPreviewView::uploadToGoogleDrive()
{
    showUnsupportedToast(UploadProvider::googleDrive);
}

void ScreenshotPreviewView::uploadToWebDAV()
{
    showUnsupportedToast(UploadProvider::webdav);
}

void ScreenshotPreviewView::setErrors(const std::optional<QString>& message, const std::optional<QString>& technical)
{
    m_saveError = message;
    m_technicalError = technical;
    refreshBanners();
}

void ScreenshotPreviewView::reportSaveError(const QString& message, const std::optional<QString>& technical)
{
    DebugLogger::shared().logErrorMessage(message);
    setErrors(message, technical ? technical : message);
}

void ScreenshotPreviewView::reportUploadError(const UploadFailure& error)
{
    DebugLogger::shared().logErrorMessage(error.localizedDescription);
    if (error.technicalDescription)
        setErrors(error.localizedDescription, error.technicalDescription);
    else
        setErrors(QStringLiteral("Ошибка при загрузке. Попробуйте ещё раз."), error.localizedDescription);
}

QString ScreenshotPreviewView::parseSSHError(const QString& error)
{
    static const struct {
        QStringList keys;
        QString answer;
    } rows[] = {
        // curl 7.88 reports a refused or unreachable port (exit 7) as "Couldn't connect to server".
        {{QStringLiteral("connection refused"), QStringLiteral("couldn't connect to server")},
         QStringLiteral("Не удалось подключиться к серверу. Проверьте адрес и порт.")},
        {{QStringLiteral("authentication failed"), QStringLiteral("permission denied")},
         QStringLiteral("Ошибка авторизации. Проверьте логин и пароль.")},
        {{QStringLiteral("host key")}, QStringLiteral("Ошибка проверки сервера. Проверьте настройки SSH.")},
        {{QStringLiteral("timeout"), QStringLiteral("timed out")},
         QStringLiteral("Превышено время ожидания. Проверьте интернет-соединение.")},
        {{QStringLiteral("no such file"), QStringLiteral("directory")},
         QStringLiteral("Папка на сервере не найдена. Проверьте путь в настройках.")},
        {{QStringLiteral("disk full"), QStringLiteral("no space")}, QStringLiteral("На сервере закончилось место.")},
    };
    const QString lower = error.toLower();
    for (const auto& row : rows)
        for (const QString& key : row.keys)
            if (lower.contains(key))
                return row.answer;
    return QStringLiteral("Ошибка загрузки на сервер. Проверьте настройки подключения.");
}

QString ScreenshotPreviewView::reportTime(const QDateTime& time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" +0000");
}

QString ScreenshotPreviewView::uploadFileName(const QDateTime& time)
{
    return QStringLiteral("screenshot_") + platform::NumberFormat::decimal(double(time.toMSecsSinceEpoch()) / 1000.0)
        + QStringLiteral(".png");
}

QString ScreenshotPreviewView::errorReport(const QDateTime& time, const std::optional<QString>& saveError,
                                           const std::optional<QString>& technicalError, const QString& logFilePath)
{
    QString report = QStringLiteral("=== Kestrova Error Report ===\n");
    report += QStringLiteral("Дата: ") + reportTime(time) + QLatin1Char('\n');
    report += QStringLiteral("Ошибка: ") + saveError.value_or(QStringLiteral("Unknown")) + QLatin1Char('\n');
    if (technicalError)
        report += QStringLiteral("Техническое описание: ") + *technicalError + QLatin1Char('\n');
    report += QStringLiteral("Лог-файл: ") + logFilePath + QLatin1Char('\n');
    report += QString(32, QLatin1Char('='));
    return report;
}

QString ScreenshotPreviewView::sshErrorReport(const QDateTime& time, const QString& error, const QString& host, int port,
                                              const QString& logFilePath)
{
    QString report = QStringLiteral("=== Kestrova SSH Error Report ===\n");
    report += QStringLiteral("Дата: ") + reportTime(time) + QLatin1Char('\n');
    report += QStringLiteral("Ошибка: ") + parseSSHError(error) + QLatin1Char('\n');
    // curl's message ends in its own line end, which would leave a blank line here.
    QString technical = error;
    while (technical.endsWith(QLatin1Char('\n')) || technical.endsWith(QLatin1Char('\r')))
        technical.chop(1);
    report += QStringLiteral("Техническое описание: ") + technical + QLatin1Char('\n');
    report += QStringLiteral("Сервер: ") + host + QLatin1Char(':') + platform::NumberFormat::integer(port) + QLatin1Char('\n');
    report += QStringLiteral("Лог-файл: ") + logFilePath + QLatin1Char('\n');
    report += QString(36, QLatin1Char('='));
    return report;
}

void ScreenshotPreviewView::copyErrorToClipboard()
{
    const QString report = errorReport(now(), m_saveError, m_technicalError, DebugLogger::shared().logFilePath());
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(report);
    m_showCopiedTooltip = true;
    refreshBanners();
    QTimer::singleShot(copiedResetMs, this, [this] {
        m_showCopiedTooltip = false;
        refreshBanners();
    });
}

void ScreenshotPreviewView::copySSHErrorToClipboard(const QString& error)
{
    const ServerSettings settings = m_appState ? m_appState->serverSettings() : ServerSettings{};
    const QString report = sshErrorReport(now(), error, settings.ftpHost, settings.ftpPort, DebugLogger::shared().logFilePath());
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(report);
}

void ScreenshotPreviewView::refreshBanners()
{
    const auto serverError = m_fileUploader ? m_fileUploader->lastError() : std::nullopt;
    if (serverError) {
        m_serverBanner->setMessage(parseSSHError(*serverError));
        m_serverBanner->setHint(L::text(QStringLiteral("Нажмите «Скопировать» для получения технической информации"),
                                        QStringLiteral("Click \"Copy\" to get technical information")));
    }
    m_serverBanner->setVisible(serverError.has_value());

    if (m_saveError) {
        m_errorBanner->setMessage(*m_saveError);
        m_errorBanner->setHint(m_technicalError
                                   ? std::optional<QString>(QStringLiteral("Нажмите «Скопировать» для получения технической информации"))
                                   : std::nullopt);
        m_errorBanner->setCopied(m_showCopiedTooltip);
    }
    m_errorBanner->setVisible(m_saveError.has_value());
    emit stateChanged();
}

bool ScreenshotPreviewView::isUploadIndicatorShown() const
{
    return (m_services.cloudUploader && m_services.cloudUploader->isUploading())
        || (m_fileUploader && m_fileUploader->isUploading()) || (m_yandexUploader && m_yandexUploader->isUploading());
}

void ScreenshotPreviewView::refreshIndicator()
{
    m_indicator->setVisible(isUploadIndicatorShown());
    placeIndicator();
    emit stateChanged();
}

void ScreenshotPreviewView::placeIndicator()
{
    m_indicator->adjustSize();
    m_indicator->move((width() - m_indicator->width()) / 2, 16);
    m_indicator->raise();
}

void ScreenshotPreviewView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeIndicator();
}
