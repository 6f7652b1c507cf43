#pragma once

#include <QRectF>
#include <QRegion>
#include <QWidget>

// The red frame around the recorded area with the "REC ●" badge under its bottom-left corner.
// The line is drawn in device pixels, on those around the pixels the recorder grabs, so that a
// fractional device pixel ratio cannot round any of it into the recording. Opaque, it paints exactly
// its painted region in solid colours, so that the window can be shaped to it where no compositing
// manager blends translucent pixels.
class RecordingFrameView : public QWidget {
    Q_OBJECT
public:
    // `recordingRect` in main-screen points (top-left origin); `viewOrigin` is where the view's
    // top-left lies in those coordinates; `recordedPixels` are the pixels the recorder grabs, in the
    // view's device pixels at `devicePixelRatio`.
    RecordingFrameView(const QRectF& recordingRect, const QPointF& viewOrigin, const QRect& recordedPixels,
                       double devicePixelRatio, bool opaque, QWidget* parent = nullptr);

    static QString badgeText();
    static QFont badgeFont();

    QRectF originalRecordingRect() const { return m_originalRecordingRect; }
    QRectF drawingRect() const { return m_drawingRect; }
    QRect recordedPixels() const { return m_recordedPixels; }
    double devicePixelRatio() const { return m_ratio; }
    QRectF badgeRect() const;
    bool isOpaque() const { return m_opaque; }
    // The frame line in device pixels: 3 points wide, rounded up, just outside the recorded pixels.
    QRegion lineRegion() const;
    // The device pixels the view paints: the frame line and the badge.
    QRegion paintedRegion() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect badgePixels() const;

    QRectF m_originalRecordingRect;
    QRectF m_drawingRect;
    QRect m_recordedPixels;
    double m_ratio;
    bool m_opaque;
};
