#pragma once

#include <QImage>
#include <QTimer>
#include <QVideoFrame>
#include <QWidget>

class QAudioOutput;
class QLabel;
class QMediaPlayer;
class QSlider;
class QToolButton;
class QVideoSink;

// The player of the video preview: the frames of a QMediaPlayer painted into this widget (so that
// the preview's spinner and banner can lie on top of the picture) on a black ground, with floating
// controls at the bottom: play and pause, the position, and the full-screen switch of the window.
// The controls fade out while the video plays and the pointer rests; they return when it moves.
class VideoPlayerView : public QWidget {
    Q_OBJECT
public:
    explicit VideoPlayerView(QWidget* parent = nullptr);
    ~VideoPlayerView() override;

    // Loads the file; playback does not start, but its first frame shows at once.
    void setSource(const QString& path);

    QMediaPlayer* player() const { return m_player; }
    // None until the first play.
    QAudioOutput* audioOutput() const { return m_audioOutput; }
    QWidget* controls() const { return m_controls; }
    // The player's picture now (null before its first frame), and how many frames have arrived.
    QImage currentFrame() const;
    int framesReceived() const { return m_framesReceived; }
    // The file's first frame, shown while the player has no picture of its own (null when it
    // cannot be read).
    const QImage& poster() const { return m_poster; }

    void togglePlayback();
    // Full screen for the whole window, or back.
    void toggleFullScreen();

    // "1:05" for 65 s: minutes and two-digit seconds.
    static QString timeText(qint64 milliseconds);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void layoutControls();
    void showControls();
    void updatePlaybackButton();
    void updatePosition(qint64 position);

    QMediaPlayer* m_player = nullptr;
    QAudioOutput* m_audioOutput = nullptr;
    QVideoSink* m_sink = nullptr;
    QVideoFrame m_frame;
    int m_framesReceived = 0;
    QImage m_poster;

    QWidget* m_controls = nullptr;
    QToolButton* m_playButton = nullptr;
    QToolButton* m_fullScreenButton = nullptr;
    QSlider* m_positionSlider = nullptr;
    QLabel* m_elapsedLabel = nullptr;
    QLabel* m_remainingLabel = nullptr;
    QTimer m_hideControlsTimer;
};
