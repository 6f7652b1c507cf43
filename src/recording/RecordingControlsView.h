#pragma once

#include <QTimer>
#include <QWidget>

#include <functional>

class QLabel;
class QToolButton;

// The content of the recording controls window: a dark rounded label with the elapsed time,
// counted up by the view's own one-second timer while it is on screen, and a red stop button.
// The button takes one press: a second stop would reach a recorder already finishing its file.
class RecordingControlsView : public QWidget {
    Q_OBJECT
public:
    explicit RecordingControlsView(std::function<void()> onStop, QWidget* parent = nullptr);

    // Whole minutes and seconds, "%02d:%02d", with no hour field (3600 s is "60:00").
    static QString formatDuration(double seconds);

    double elapsedTime() const { return m_elapsedTime; }
    bool isTimerRunning() const { return m_timer.isActive(); }
    QLabel* timeLabel() const { return m_label; }
    QToolButton* stopButton() const { return m_stopButton; }

    // One tick of the timer.
    void tick();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void startTickTimer();
    void stopPressed();

    std::function<void()> m_onStop;
    double m_elapsedTime = 0;
    QTimer m_timer;
    QLabel* m_label = nullptr;
    QToolButton* m_stopButton = nullptr;
};
