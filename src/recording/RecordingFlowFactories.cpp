#include "recording/RecordingFlowFactories.h"

#include "recording/ClickIndicatorOverlay.h"
#include "recording/MessageBoxAlertPresenter.h"
#include "recording/RecordingControlsWindow.h"
#include "recording/RecordingFrameWindow.h"
#include "recording/RecordingSetupWindowController.h"
#include "recording/ScreenRecorder.h"
#include "recording/ScreenRecordingSelectionWindow.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>

namespace {

// A Qt window of the flow. Released on the next turn of the event loop: the flow may drop a window
// from inside its own handler.
class WidgetWindow : public RecordingFlowWindow {
public:
    explicit WidgetWindow(QWidget* widget)
        : m_widget(widget)
    {
    }
    ~WidgetWindow() override
    {
        if (m_widget)
            m_widget->deleteLater();
    }
    void makeKeyAndOrderFront() override
    {
        if (!m_widget)
            return;
        m_widget->show();
        m_widget->raise();
        // The click-through overlays never take the keyboard.
        if (!m_widget->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus))
            m_widget->activateWindow();
    }
    void orderFrontRegardless() override
    {
        if (!m_widget)
            return;
        m_widget->show();
        m_widget->raise();
    }
    void orderOut() override
    {
        if (m_widget)
            m_widget->hide();
    }
    void close() override
    {
        if (m_widget)
            m_widget->hide();
    }
    bool isVisible() const override { return m_widget && m_widget->isVisible(); }
    QRectF frame() const override { return m_widget ? QRectF(m_widget->geometry()) : QRectF(); }
    void setFrame(const QRectF& frame) override
    {
        if (!m_widget)
            return;
        m_widget->setGeometry(frame.toRect());
        m_widget->repaint();
    }
    void center() override
    {
        if (!m_widget)
            return;
        const QScreen* screen = m_widget->screen() ? m_widget->screen() : QGuiApplication::primaryScreen();
        if (!screen)
            return;
        QRect frame = m_widget->geometry();
        frame.moveCenter(screen->geometry().center());
        m_widget->setGeometry(frame);
    }

private:
    QPointer<QWidget> m_widget;
};

class SetupControllerWindow : public RecordingFlowWindow {
public:
    explicit SetupControllerWindow(RecordingSetupWindowController* controller)
        : m_controller(controller)
    {
    }
    ~SetupControllerWindow() override
    {
        if (m_controller)
            m_controller->deleteLater();
    }
    void makeKeyAndOrderFront() override
    {
        if (m_controller)
            m_controller->present();
    }
    void orderFrontRegardless() override { makeKeyAndOrderFront(); }
    void orderOut() override { close(); }
    void close() override
    {
        if (m_controller)
            m_controller->close();
    }
    bool isVisible() const override { return m_controller && m_controller->window() && m_controller->window()->isVisible(); }
    QRectF frame() const override
    {
        return m_controller && m_controller->window() ? QRectF(m_controller->window()->geometry()) : QRectF();
    }
    void setFrame(const QRectF&) override {}
    void center() override {}

private:
    QPointer<RecordingSetupWindowController> m_controller;
};

class ScreenRecorderHandle : public RecordingFlowRecorder {
public:
    void startRecording(const QRectF& area, const RecordingSettings& settings,
                        ScreenRecorder::StartCompletion completion) override
    {
        m_recorder.startRecording(area, settings, std::move(completion));
    }
    void stopRecording(ScreenRecorder::StopCompletion completion) override { m_recorder.stopRecording(std::move(completion)); }
    bool isRecording() const override { return m_recorder.isRecording(); }
    ScreenRecorder::ShutdownResult stopRecordingAndWait(std::chrono::milliseconds timeout) override
    {
        return m_recorder.stopRecordingAndWait(timeout);
    }
    void setWriteFailureHandler(std::function<void()> handler) override { m_recorder.setWriteFailureHandler(std::move(handler)); }

private:
    ScreenRecorder m_recorder;
};

} // namespace

RecordingFlowFactories RecordingFlowFactories::standard()
{
    RecordingFlowFactories f;
    f.selectionWindow = [](ScreenRecordingSelectionDelegate* delegate) {
        auto* window = new ScreenRecordingSelectionWindow;
        window->setSelectionDelegate(delegate);
        return RecordingFlowWindowPtr(new WidgetWindow(window));
    };
    f.setupWindow = [](const QRectF& area, std::function<void(const RecordingSettings&)> onStart,
                       std::function<void()> onCancel) {
        return RecordingFlowWindowPtr(
            new SetupControllerWindow(new RecordingSetupWindowController(area, std::move(onStart), std::move(onCancel))));
    };
    f.clickIndicatorOverlay = [] { return RecordingFlowWindowPtr(new WidgetWindow(new ClickIndicatorOverlay)); };
    f.frameWindow = [](const QRectF& area) { return RecordingFlowWindowPtr(new WidgetWindow(new RecordingFrameWindow(area))); };
    f.controlsWindow = [](std::function<void()> onStop) {
        return RecordingFlowWindowPtr(new WidgetWindow(new RecordingControlsWindow(std::move(onStop))));
    };
    f.recorder = [] { return std::make_unique<ScreenRecorderHandle>(); };
    f.alerts = std::make_shared<MessageBoxAlertPresenter>();
    return f;
}

RecordingFlowFactories RecordingFlowFactories::completed(RecordingFlowFactories f)
{
    const RecordingFlowFactories s = standard();
    if (!f.selectionWindow)
        f.selectionWindow = s.selectionWindow;
    if (!f.setupWindow)
        f.setupWindow = s.setupWindow;
    if (!f.clickIndicatorOverlay)
        f.clickIndicatorOverlay = s.clickIndicatorOverlay;
    if (!f.frameWindow)
        f.frameWindow = s.frameWindow;
    if (!f.controlsWindow)
        f.controlsWindow = s.controlsWindow;
    if (!f.recorder)
        f.recorder = s.recorder;
    if (!f.alerts)
        f.alerts = s.alerts;
    return f;
}
