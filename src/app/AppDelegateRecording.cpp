// The recording flow of the application delegate. Until the recording windows and the recorder
// exist, each step writes its first log line and goes no further.
#include "app/AppDelegate.h"

#include "app/DebugLogger.h"
#include "platform/NumberFormat.h"

namespace {

QString optionalRect(const std::optional<QRectF>& rect)
{
    return rect ? QStringLiteral("Optional(") + platform::NumberFormat::rect(*rect) + QLatin1Char(')') : QStringLiteral("nil");
}

} // namespace

void AppDelegate::startScreenRecording()
{
    DebugLogger::shared().log(QStringLiteral("Starting screen recording - checking permissions first"));
    logLifecycleState(QStringLiteral("startScreenRecording"));
}

void AppDelegate::showRecordingSelectionWindow()
{
    DebugLogger::shared().log(QStringLiteral("AppDelegate: Creating ScreenRecordingSelectionWindow"));
}

void AppDelegate::screenRecordingSelectionDidFinish(std::optional<QRectF> rect)
{
    DebugLogger::shared().log(QStringLiteral("AppDelegate: screenRecordingSelectionDidFinish called with rect: ")
                              + optionalRect(rect));
    logLifecycleState(QStringLiteral("screenRecordingSelectionDidFinish"));
}

void AppDelegate::showRecordingSetupWindow(const QRectF& rect)
{
    DebugLogger::shared().log(QStringLiteral("AppDelegate: Creating RecordingSetupWindow for rect: ")
                              + platform::NumberFormat::rect(rect));
}

void AppDelegate::startRecordingWithSettings(const QRectF&, const RecordingSettings&)
{
    DebugLogger::shared().log(QStringLiteral("=== START RECORDING FLOW BEGIN ==="));
}

void AppDelegate::cancelRecording()
{
    DebugLogger::shared().log(QStringLiteral("AppDelegate: Recording cancelled by user"));
}

void AppDelegate::startRecordingInRect(const QRectF& rect, const RecordingSettings&)
{
    DebugLogger::shared().log(QStringLiteral("AppDelegate: Starting recording in rect: ") + platform::NumberFormat::rect(rect)
                              + QStringLiteral(" with settings"));
}

void AppDelegate::stopRecording()
{
    auto& logger = DebugLogger::shared();
    logger.log(QStringLiteral("AppDelegate: Stopping recording"));
    logger.log(QStringLiteral("AppDelegate: No recorder to stop"));
}

void AppDelegate::handleRecordingCompletion(const std::optional<QUrl>& url, const std::optional<platform::AppError>& error)
{
    m_isProcessingVideo = false;
    DebugLogger::shared().log(QStringLiteral("AppDelegate: handleRecordingCompletion called - url: ")
                              + (url ? url->toString() : QStringLiteral("nil")) + QStringLiteral(", error: ")
                              + (error ? error->localizedDescription : QStringLiteral("nil")));
}

void AppDelegate::stopRecorderForShutdown()
{
}

void AppDelegate::closeRecordingWindowsForShutdown()
{
}
