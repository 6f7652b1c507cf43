#pragma once

#include <QTimer>
#include <QWidget>

// The large spinning indicator of the video preview, shown while a GIF is made or an upload runs.
class VideoProgressIndicator : public QWidget {
    Q_OBJECT
public:
    static constexpr int side = 32;

    explicit VideoProgressIndicator(QWidget* parent = nullptr);

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return m_timer.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer m_timer;
    int m_step = 0;
};
