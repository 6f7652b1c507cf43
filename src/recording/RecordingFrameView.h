#pragma once

#include <QRectF>
#include <QRegion>
#include <QWidget>

// The red frame around the recorded area with the "REC ●" badge under its bottom-left corner.
// Opaque, it paints exactly its painted region in solid colours, so that the window can be shaped
// to it where no compositing manager blends translucent pixels.
class RecordingFrameView : public QWidget {
    Q_OBJECT
public:
    // `recordingRect` in main-screen points (top-left origin); `viewOrigin` is where the view's
    // top-left lies in those coordinates.
    RecordingFrameView(const QRectF& recordingRect, const QPointF& viewOrigin, bool opaque, QWidget* parent = nullptr);

    static QString badgeText();
    static QFont badgeFont();

    QRectF originalRecordingRect() const { return m_originalRecordingRect; }
    QRectF drawingRect() const { return m_drawingRect; }
    QRectF badgeRect() const;
    bool isOpaque() const { return m_opaque; }
    // The frame line: 3 pixels wide, just outside the area's pixels.
    QRegion lineRegion() const;
    // The pixels the view paints: the frame line and the badge.
    QRegion paintedRegion() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect pixelRect() const;

    QRectF m_originalRecordingRect;
    QRectF m_drawingRect;
    bool m_opaque;
};
