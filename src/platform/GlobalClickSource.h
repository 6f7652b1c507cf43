#pragma once

#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>

namespace platform {

// One press of the left (1) or right (3) mouse button, anywhere on the X display.
struct GlobalClick {
    QPoint rootPosition; // where the pointer was, in root-window pixels
    int button = 0;
    double mediaTime = 0; // media-clock time at which the press reached us
};

// Every left and right mouse press on the display, whichever window gets it, from XInput2 raw
// button events selected on the root window of a connection of its own, read on a thread of its
// own. Raw events only observe: no press is held back. One source serves the whole process (the
// recorder's click rings and the on-screen click indicator); it runs while anybody subscribes.
class GlobalClickSource {
public:
    using Handler = std::function<void(const GlobalClick&)>;

    static GlobalClickSource& shared();

    // `handler` runs on `context`'s thread for every click until unsubscribe() or the context is
    // destroyed. 0, with a reason, when the display offers no XInput2 raw events.
    quint64 subscribe(QObject* context, Handler handler, QString* error = nullptr);
    // No call of the handler starts after this returns. Unknown ids are ignored.
    void unsubscribe(quint64 subscription);
    int subscriberCount() const;

private:
    GlobalClickSource();
    ~GlobalClickSource();
    struct State;
    State* d;
};

} // namespace platform
