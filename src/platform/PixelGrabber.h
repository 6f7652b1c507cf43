#pragma once

#include <QImage>
#include <QRect>
#include <QString>

#include <memory>

namespace platform {

// Reads pixels of the X root window (every screen together) through its own X connection, by
// MIT-SHM when the server offers it and by plain GetImage otherwise. One grabber serves one thread
// at a time; the recorder makes its own.
class PixelGrabber {
public:
    ~PixelGrabber();
    PixelGrabber(const PixelGrabber&) = delete;
    PixelGrabber& operator=(const PixelGrabber&) = delete;

    // Connects to $DISPLAY (or `displayName`); nullptr with a reason when that is not possible.
    static std::unique_ptr<PixelGrabber> create(QString* error = nullptr, const char* displayName = nullptr);

    // Turn shared memory off, to exercise the plain path.
    void setUseShm(bool use);
    bool usesShm() const;
    // The root window in root pixels.
    QRect rootGeometry() const;

    // The rectangle of the root in root pixels, as Format_RGB32 with opaque alpha. The part of the
    // rectangle outside the root is black. A null image, with a reason, when the server refused.
    QImage grab(const QRect& rootRect, QString* error = nullptr);
    // The same into `target` (Format_RGB32 or ARGB32, the rectangle's size), reusing its memory.
    // With forceOpaque false the fourth byte is left as the server sent it (an encoder ignores it).
    bool grabInto(const QRect& rootRect, QImage& target, bool forceOpaque = true, QString* error = nullptr);

private:
    struct State;
    explicit PixelGrabber(std::unique_ptr<State> state);
    std::unique_ptr<State> d;
};

} // namespace platform
