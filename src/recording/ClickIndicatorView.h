#pragma once

#include "recording/ClickAnimation.h"

#include <QElapsedTimer>
#include <QList>
#include <QRegion>
#include <QTimer>
#include <QWidget>

#include <functional>

// The rings of the click indicator: each click shows a blue ring that grows from 16 to 40 points
// and fades out within 0.4 s on an ease-out curve. Opaque, it paints each ring in a solid colour
// and reports the region it covers, so its window can be shaped to the rings.
class ClickIndicatorView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kLifetimeMs = 400;
    static constexpr double kStartSize = 16;
    static constexpr double kEndSize = 40;
    static constexpr double kStartOpacity = 0.9;
    static constexpr double kLineWidth = 2;

    explicit ClickIndicatorView(bool opaque, QWidget* parent = nullptr);

    // Adds a ring at `point` (view coordinates) and animates it.
    void showClick(const QPointF& point);
    const QList<ClickAnimation>& clicks() const { return m_clicks; }
    // The pixels the rings cover now.
    QRegion ringRegion() const;
    bool isOpaque() const { return m_opaque; }

    // Called whenever the rings change, after the view has been scheduled for repainting.
    std::function<void()> onRingsChanged;

    // Size and opacity of a ring `elapsedMs` after its click.
    static double sizeAt(qint64 elapsedMs);
    static double opacityAt(qint64 elapsedMs);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void advance();
    void remove(const QUuid& id);
    void changed();

    bool m_opaque;
    QList<ClickAnimation> m_clicks;
    QElapsedTimer m_clock;
    QTimer m_frameTimer;
};
