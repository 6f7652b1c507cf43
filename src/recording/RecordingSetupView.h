#pragma once

#include "recording/RecordingSettings.h"

#include <QRectF>
#include <QWidget>

#include <functional>

class QToolButton;

// The row of the recording setup panel: microphone, system audio and click indicator toggles, a
// divider, cancel (Esc) and start (Return). Start hands the three current values on; the view
// changes nothing else. All toggles are off in a new view.
class RecordingSetupView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 48;

    RecordingSetupView(const QRectF& selectedArea, std::function<void(const RecordingSettings&)> onStart,
                       std::function<void()> onCancel, QWidget* parent = nullptr);

    QRectF selectedArea() const { return m_selectedArea; }
    RecordingSettings settings() const;

    QToolButton* microphoneButton() const { return m_microphone; }
    QToolButton* systemAudioButton() const { return m_systemAudio; }
    QToolButton* clickIndicatorButton() const { return m_clickIndicator; }
    QToolButton* cancelButton() const { return m_cancel; }
    QToolButton* startButton() const { return m_start; }
    // The symbol each toggle shows now ("mic.fill" or "mic.slash", ...).
    QString symbolOf(const QToolButton* button) const;

    void start();
    void cancel();

private:
    QToolButton* makeButton(const QString& toolTip, double symbolSize);
    void refresh();

    QRectF m_selectedArea;
    std::function<void(const RecordingSettings&)> m_onStart;
    std::function<void()> m_onCancel;
    bool m_recordMicrophone = false;
    bool m_recordSystemAudio = false;
    bool m_showClickIndicator = false;
    QToolButton* m_microphone = nullptr;
    QToolButton* m_systemAudio = nullptr;
    QToolButton* m_clickIndicator = nullptr;
    QToolButton* m_cancel = nullptr;
    QToolButton* m_start = nullptr;
};
