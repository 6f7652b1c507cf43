#pragma once

#include <QWidget>

#include <functional>

class RecordingControlsView;

// The small floating window of a running recording: the elapsed time and the stop button, on the
// system's dark window background. Borderless, above ordinary windows, moved by dragging its
// background, and it stays put when the application loses the focus.
class RecordingControlsWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize kSize{160, 70};
    // The floating level.
    static constexpr int kWindowLevel = 3;

    explicit RecordingControlsWindow(std::function<void()> onStop);

    RecordingControlsView* controlsView() const { return m_view; }
    bool isTranslucent() const { return m_translucent; }
    int level() const { return kWindowLevel; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    RecordingControlsView* m_view = nullptr;
    bool m_translucent = false;
};
