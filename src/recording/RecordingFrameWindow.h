#pragma once

#include <QRectF>
#include <QWidget>

class RecordingFrameView;

// Marks the recorded area while a recording runs: a window over the main screen at the screen-saver
// level, clear apart from the red frame and its badge, that every click passes through. With a
// compositing manager it is translucent; without one it is shaped to the frame and the badge, so
// the rest of the screen stays as it is (a clear window there would show, and record, black).
class RecordingFrameWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWindowLevel = 1000;

    // Builds the window for `recordingRect` (main-screen points, top-left origin) and shows it in
    // front, without the keyboard.
    explicit RecordingFrameWindow(const QRectF& recordingRect);

    QRectF recordingRect() const { return m_recordingRect; }
    RecordingFrameView* frameView() const { return m_view; }
    bool isShaped() const { return m_shaped; }
    int level() const { return kWindowLevel; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QRectF m_recordingRect;
    RecordingFrameView* m_view = nullptr;
    bool m_shaped = false;
};
