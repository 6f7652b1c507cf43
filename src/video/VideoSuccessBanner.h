#pragma once

#include <QWidget>

// The banner "Загружено" over the video preview after a finished upload: a rounded capsule with a
// green check mark, 40 points high, as wide as its content.
class VideoSuccessBanner : public QWidget {
    Q_OBJECT
public:
    static constexpr int bannerHeight = 40;
    static constexpr int topInset = 16;

    explicit VideoSuccessBanner(QWidget* parent = nullptr);

    QString text() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};
