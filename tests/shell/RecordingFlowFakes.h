#pragma once
// Stand-ins for what the recording flow creates: windows, recorders and alerts that write down what
// was done to them, so a test can drive the flow of the application delegate without a screen.
#include "recording/RecordingAlertPresenter.h"
#include "recording/RecordingFlowFactories.h"
#include "recording/ScreenRecorder.h"
#include "recording/ScreenRecordingSelectionDelegate.h"

#include <QCoreApplication>
#include <QList>
#include <QRectF>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace flowtest {

// What happened to one window.
struct WindowRecord {
    QString kind; // "selection", "setup", "clicks", "frame", "controls"
    int number = 0;
    QRectF area;
    bool visible = false;
    int shown = 0;
    int orderedOut = 0;
    int closed = 0;
    bool released = false;
    QRectF frame;
    ScreenRecordingSelectionDelegate* delegate = nullptr;
    std::function<void(const RecordingSettings&)> onStart;
    std::function<void()> onCancel;
    std::function<void()> onStop;
};

class FakeWindow : public RecordingFlowWindow {
public:
    explicit FakeWindow(std::shared_ptr<WindowRecord> record)
        : m_record(std::move(record))
    {
    }
    void makeKeyAndOrderFront() override
    {
        ++m_record->shown;
        m_record->visible = true;
    }
    void orderFrontRegardless() override { makeKeyAndOrderFront(); }
    void orderOut() override
    {
        ++m_record->orderedOut;
        m_record->visible = false;
    }
    void close() override
    {
        ++m_record->closed;
        m_record->visible = false;
    }
    bool isVisible() const override { return m_record->visible; }
    QRectF frame() const override { return m_record->frame; }
    void setFrame(const QRectF& frame) override { m_record->frame = frame; }
    void center() override { m_record->frame.moveCenter(QPointF(960, 540)); }
    void release() override
    {
        m_record->released = true;
        delete this;
    }

private:
    std::shared_ptr<WindowRecord> m_record;
};

// What happened to one recorder, and how it answers.
struct RecorderRecord {
    int number = 0;
    // The start answer.
    bool startSucceeds = true;
    std::optional<platform::AppError> startError;
    // A stop while recording: refused as too short, or finished later with `finishedPath`
    // (nullopt: a failure with `finishError`, or neither when that is empty too).
    bool tooShort = false;
    std::optional<QString> finishedPath = QStringLiteral("/tmp/ScreenRecord_test.mp4");
    std::optional<platform::AppError> finishError;
    // Held back until the test calls finish().
    bool holdFinish = false;

    QRectF area;
    RecordingSettings settings;
    bool recording = false;
    int starts = 0;
    int stops = 0;
    int shutdownStops = 0;
    bool released = false;
    ScreenRecorder::StopCompletion pending;
    // What the flow asked to hear when writing fails; the test calls it to stand for a full disk.
    std::function<void()> writeFailureHandler;

    void finish()
    {
        if (auto completion = std::exchange(pending, nullptr))
            completion(finishedPath, finishedPath ? std::nullopt : finishError);
    }
};

// Answers as ScreenRecorder does: the start before it returns, recording from the next turn of
// the event loop, refusals before stopRecording returns, the finished file on a later turn.
class FakeRecorder : public RecordingFlowRecorder {
public:
    explicit FakeRecorder(std::shared_ptr<RecorderRecord> record)
        : m_record(std::move(record))
    {
    }
    ~FakeRecorder() override { m_record->released = true; }
    void startRecording(const QRectF& area, const RecordingSettings& settings, ScreenRecorder::StartCompletion completion) override
    {
        ++m_record->starts;
        m_record->area = area;
        m_record->settings = settings;
        if (!m_record->startSucceeds) {
            completion(false, m_record->startError);
            return;
        }
        std::weak_ptr<RecorderRecord> weak = m_record;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [weak] {
                if (auto record = weak.lock(); record && !record->released)
                    record->recording = true;
            },
            Qt::QueuedConnection);
        completion(true, std::nullopt);
    }
    void stopRecording(ScreenRecorder::StopCompletion completion) override
    {
        ++m_record->stops;
        if (!m_record->recording) {
            completion(std::nullopt, ScreenRecorder::error(ScreenRecorder::NotRecording));
            return;
        }
        m_record->recording = false;
        if (m_record->tooShort) {
            completion(std::nullopt, ScreenRecorder::error(ScreenRecorder::RecordingTooShort));
            return;
        }
        m_record->pending = std::move(completion);
        if (m_record->holdFinish)
            return;
        std::weak_ptr<RecorderRecord> weak = m_record;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [weak] {
                if (auto record = weak.lock())
                    record->finish();
            },
            Qt::QueuedConnection);
    }
    bool isRecording() const override { return m_record->recording; }
    void setWriteFailureHandler(std::function<void()> handler) override { m_record->writeFailureHandler = std::move(handler); }
    ScreenRecorder::ShutdownResult stopRecordingAndWait(std::chrono::milliseconds) override
    {
        ++m_record->shutdownStops;
        const bool was = m_record->recording;
        m_record->recording = false;
        return was ? ScreenRecorder::ShutdownResult::Finished : ScreenRecorder::ShutdownResult::NothingToStop;
    }

private:
    std::shared_ptr<RecorderRecord> m_record;
};

class FakeAlerts : public RecordingAlertPresenter {
public:
    int runModal(const Alert& alert) override
    {
        shown.push_back(alert);
        return answer;
    }
    std::vector<Alert> shown;
    int answer = 0; // the button "pressed"
};

// Factories that hand out the stand-ins and keep their records.
struct FakeFlow {
    std::vector<std::shared_ptr<WindowRecord>> windows;
    std::vector<std::shared_ptr<RecorderRecord>> recorders;
    std::shared_ptr<FakeAlerts> alerts = std::make_shared<FakeAlerts>();
    // How the next recorder will answer.
    std::function<void(RecorderRecord&)> configureRecorder;

    std::shared_ptr<WindowRecord> add(const QString& kind)
    {
        auto record = std::make_shared<WindowRecord>();
        record->kind = kind;
        int n = 0;
        for (const auto& w : windows)
            n += w->kind == kind;
        record->number = n + 1;
        windows.push_back(record);
        return record;
    }

    RecordingFlowFactories factories()
    {
        RecordingFlowFactories f;
        f.selectionWindow = [this](ScreenRecordingSelectionDelegate* delegate) {
            auto record = add(QStringLiteral("selection"));
            record->delegate = delegate;
            record->visible = true;
            return RecordingFlowWindowPtr(new FakeWindow(record));
        };
        f.setupWindow = [this](const QRectF& area, std::function<void(const RecordingSettings&)> onStart,
                               std::function<void()> onCancel) {
            auto record = add(QStringLiteral("setup"));
            record->area = area;
            record->onStart = std::move(onStart);
            record->onCancel = std::move(onCancel);
            return RecordingFlowWindowPtr(new FakeWindow(record));
        };
        f.clickIndicatorOverlay = [this] { return RecordingFlowWindowPtr(new FakeWindow(add(QStringLiteral("clicks")))); };
        f.frameWindow = [this](const QRectF& area) {
            auto record = add(QStringLiteral("frame"));
            record->area = area;
            record->visible = true;
            return RecordingFlowWindowPtr(new FakeWindow(record));
        };
        f.controlsWindow = [this](std::function<void()> onStop) {
            auto record = add(QStringLiteral("controls"));
            record->onStop = std::move(onStop);
            record->frame = QRectF(0, 0, 160, 70);
            return RecordingFlowWindowPtr(new FakeWindow(record));
        };
        f.recorder = [this] {
            auto record = std::make_shared<RecorderRecord>();
            record->number = static_cast<int>(recorders.size()) + 1;
            if (configureRecorder)
                configureRecorder(*record);
            recorders.push_back(record);
            return std::make_unique<FakeRecorder>(record);
        };
        f.alerts = alerts;
        return f;
    }

    // The latest window of a kind (nullptr when none was made).
    std::shared_ptr<WindowRecord> last(const QString& kind) const
    {
        for (auto it = windows.rbegin(); it != windows.rend(); ++it)
            if ((*it)->kind == kind)
                return *it;
        return nullptr;
    }
    int count(const QString& kind) const
    {
        int n = 0;
        for (const auto& w : windows)
            n += w->kind == kind;
        return n;
    }
};

} // namespace flowtest
