#pragma once

#include <QImage>
#include <QRectF>
#include <QWidget>

// The content of the screenshot overlay: a veil over the screen with a clear hole where the user
// selects, outlined in blue, or a hint in the middle while there is no selection.
class CaptureOverlayView : public QWidget {
    Q_OBJECT
public:
    explicit CaptureOverlayView(QWidget* parent = nullptr);

    static QString hintText();

    QRectF selectionRect() const { return m_selectionRect; }
    void setSelectionRect(const QRectF& rect);

    // Without a compositing manager a translucent window would show nothing beneath it: the view
    // then paints this picture of the screen (device pixel ratio set) under its veil.
    void setFrozenBackground(const QImage& image);
    bool hasFrozenBackground() const { return !m_frozen.isNull(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRectF m_selectionRect;
    QImage m_frozen;
};
