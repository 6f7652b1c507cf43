#pragma once

#include <QImage>
#include <QPointF>
#include <QPointer>
#include <QWidget>

class ImageEditorModel;

// The editor's drawing area: the displayed picture fitted into it, the annotations over it, and
// the mouse gestures (a drag once the pointer has moved 1 point with the button down, else a tap).
//
// The picture is drawn from a cached copy scaled to the canvas's device pixels (ImageEditorScaler).
// A blur segment recomputes only the part of that copy it changed, with the same filter, so a live
// brush on a 4K picture repaints without rescaling the whole picture on every mouse move and
// without a seam around the refreshed part.
class ImageEditorCanvas : public QWidget {
    Q_OBJECT
public:
    explicit ImageEditorCanvas(ImageEditorModel* model, QWidget* parent = nullptr);

    // The scaled copy of the displayed picture as the canvas currently draws it (tests, bench).
    const QImage& scaledPicture();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void pictureChanged(const QRect& pixelRect);
    void ensureCache();
    QSize cacheSizeFor() const;

    QPointer<ImageEditorModel> m_model;
    QImage m_cache;          // device pixels, device pixel ratio 1
    bool m_cacheValid = false;
    bool m_pressed = false;
    bool m_dragging = false;
    QPointF m_pressPosition;
};
