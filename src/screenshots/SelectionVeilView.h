#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QString>
#include <QWidget>

// A veil of 30 % black over the screen with a clear hole where the selection is, outlined in a
// colour, or a hint in the middle while there is none. The screenshot and the recording overlays
// are made of it; they bring their own texts, outline colour, marks and hint box.
class SelectionVeilView : public QWidget {
    Q_OBJECT
public:
    // In view coordinates (top-left origin).
    QRectF selectionRect() const { return m_selectionRect; }
    void setSelectionRect(const QRectF& rect);

    // Without a compositing manager a clear window shows nothing of the screen beneath it: the
    // view then paints this picture of the screen (device pixel ratio set) under its veil, and the
    // hole shows the picture as it is.
    void setFrozenBackground(const QImage& image);
    bool hasFrozenBackground() const { return !m_frozen.isNull(); }
    // What the veil lies over, set up before the view's window is shown: `frozen` (a picture of
    // the screen) in an opaque window, or with a null image the live screen through a translucent one.
    void setScreenBackdrop(const QImage& frozen);

protected:
    SelectionVeilView(const QString& hint, const QColor& outline, QWidget* parent);

    void paintEvent(QPaintEvent* event) override;
    // Drawn over the outline of a selection; nothing by default.
    virtual void paintSelectionMarks(QPainter& painter, const QRectF& selection);
    // The box under the hint, whose text fills `textRect`.
    virtual void paintHintBox(QPainter& painter, const QRectF& textRect) = 0;

private:
    void paintHint(QPainter& painter, const QPointF& center);

    QString m_hint;
    QColor m_outline;
    QRectF m_selectionRect;
    QImage m_frozen;
};
