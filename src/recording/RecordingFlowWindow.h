#pragma once

#include <QRectF>

#include <memory>

// A window of the recording flow as the application delegate handles it: shown, hidden, closed,
// placed and released. The real windows sit behind it, so the flow also runs with stand-ins.
class RecordingFlowWindow {
public:
    virtual ~RecordingFlowWindow() = default;

    // In front, with the keyboard. For the setup controller: presents the panel and its overlay.
    virtual void makeKeyAndOrderFront() = 0;
    // In front, without taking the keyboard.
    virtual void orderFrontRegardless() = 0;
    // Hidden; it can be shown again.
    virtual void orderOut() = 0;
    // The platform's close: hidden for good, but allocated until released.
    virtual void close() = 0;
    virtual bool isVisible() const = 0;
    // Qt global points.
    virtual QRectF frame() const = 0;
    virtual void setFrame(const QRectF& frame) = 0;
    virtual void center() = 0;

    // Qt windows are deleted on the next turn of the event loop, so a window may be released from
    // inside one of its own handlers (the setup panel's buttons call the flow, which drops the panel).
    virtual void release() { delete this; }

    struct Releaser {
        void operator()(RecordingFlowWindow* window) const
        {
            if (window)
                window->release();
        }
    };
};

using RecordingFlowWindowPtr = std::unique_ptr<RecordingFlowWindow, RecordingFlowWindow::Releaser>;
