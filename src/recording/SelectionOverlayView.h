#pragma once

#include <QImage>
#include <QRectF>
#include <QWidget>

// The veil of the recording-area selection: 30 % black over the screen with a clear hole where
// the area is, outlined in blue with a dot on each corner, or a hint in the middle while there is
// no area. Drawn by the selection window and by the setup panel's overlay.
class SelectionOverlayView : public QWidget {
    Q_OBJECT
public:
    explicit SelectionOverlayView(QWidget* parent = nullptr);

    static QString hintText();
    static QColor outlineColor();

    // In view coordinates (top-left origin).
    QRectF selectionRect() const { return m_selectionRect; }
    void setSelectionRect(const QRectF& rect);

    // Without a compositing manager a clear window shows nothing of the screen beneath it: the
    // view then paints this picture of the screen (device pixel ratio set) under its veil, and the
    // hole shows the picture as it is.
    void setFrozenBackground(const QImage& image);
    bool hasFrozenBackground() const { return !m_frozen.isNull(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void drawText(QPainter& painter, const QString& text, const QPointF& center);

    QRectF m_selectionRect;
    QImage m_frozen;
};
