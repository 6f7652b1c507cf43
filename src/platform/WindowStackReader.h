#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QString>

#include <memory>
#include <optional>

namespace platform {

// One top-level window on the X display.
struct TopLevelWindow {
    quint32 id = 0;
    std::optional<qint32> pid; // _NET_WM_PID, when the client set it
    QRect geometry;            // its contents (inside the border) in root pixels
    int depth = 0;
    bool desktop = false; // _NET_WM_WINDOW_TYPE_DESKTOP: the wallpaper of a desktop environment
};

// Reads the top-level windows of the X display in stacking order and their contents, through its
// own X connection. A window's contents come from its own drawable: when a compositing manager
// (or anyone) redirects windows through the Composite extension, that drawable is the window's
// off-screen pixmap and holds the whole window even where others cover it; otherwise the server
// only has the parts that are visible, and covered parts read as what covers them.
class WindowStackReader {
public:
    ~WindowStackReader();
    WindowStackReader(const WindowStackReader&) = delete;
    WindowStackReader& operator=(const WindowStackReader&) = delete;

    static std::unique_ptr<WindowStackReader> create(QString* error = nullptr, const char* displayName = nullptr);

    QRect rootGeometry() const;

    // The mapped top-level windows, bottom to top: the window manager's _NET_CLIENT_LIST_STACKING
    // when it keeps one, else the root's children (no window manager). nullopt when the list cannot
    // be read.
    std::optional<QList<TopLevelWindow>> windows(QString* error = nullptr);

    // The part of `window` inside `rootRect` (and on the root), as Format_ARGB32_Premultiplied;
    // `area` receives where it lies in root pixels. A null image when nothing of it can be read.
    QImage contents(const TopLevelWindow& window, const QRect& rootRect, QRect* area, QString* error = nullptr);

    // `windows` painted bottom to top into an opaque Format_RGB32 image of `rootRect` (black where
    // none is); `drawn` counts the windows that could be read.
    QImage compose(const QList<TopLevelWindow>& windows, const QRect& rootRect, int* drawn = nullptr);

private:
    struct State;
    explicit WindowStackReader(std::unique_ptr<State> state);
    std::unique_ptr<State> d;
};

} // namespace platform
