#pragma once

#include <QWidget>

class QTimer;

// A small spinning progress indicator: twelve spokes, the brightest one turning.
class ActivityIndicator : public QWidget {
    Q_OBJECT
public:
    explicit ActivityIndicator(int diameter, QWidget* parent = nullptr);

    QSize sizeHint() const override { return QSize(m_diameter, m_diameter); }
    bool isAnimating() const;
    void setColor(const QColor& color) { m_color = color; update(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int m_diameter;
    int m_step = 0;
    QColor m_color = Qt::white;
    QTimer* m_timer;
};
