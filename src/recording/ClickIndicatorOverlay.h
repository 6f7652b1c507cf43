#pragma once

#include <QWidget>

class ClickIndicatorView;

// Shows a ring on the screen for every left or right mouse press while a recording with the click
// indicator runs: a click-through window over the main screen at the floating level, fed by the
// process's global click source. Presses on our own windows show no ring. With a compositing
// manager the rings fade out; without one the window is shaped to the rings, which stay solid.
class ClickIndicatorOverlay : public QWidget {
    Q_OBJECT
public:
    // Builds the window and starts listening for clicks; the window is not shown.
    ClickIndicatorOverlay();
    // Stops listening.
    ~ClickIndicatorOverlay() override;

    ClickIndicatorView* clickIndicatorView() const { return m_view; }
    bool isShaped() const { return m_shaped; }
    bool isMonitoring() const { return m_subscription != 0; }

    // A press at `rootPixel` (X root-window pixels), as the click source delivers it.
    void handleGlobalClick(const QPoint& rootPixel);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void setupMouseMonitoring();
    void updateShape();

    ClickIndicatorView* m_view = nullptr;
    bool m_shaped = false;
    quint64 m_subscription = 0;
};
