#pragma once

#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

class QWidget;

namespace platform {

// Keyboard and mouse taken by a full-screen window. A tray menu that has just closed can hold both
// for a moment: a failed grab is retried this often, this many times (about a second), before the
// window goes on without them.
class InputGrab {
public:
    static constexpr int kRetryIntervalMs = 25;
    static constexpr int kAttempts = 40;

    // `retry` runs, in `window`'s thread, when a failed attempt is due again.
    InputGrab(QWidget* window, std::function<void()> retry);

    bool hasGrabs() const { return m_hasGrabs; }
    // The next attempt starts a new round of kAttempts.
    void resetAttempts() { m_attempts = 0; }
    // One attempt at both grabs, unless the window is hidden or no longer `wanted` them (the retries
    // stop then). Taken, they also route the input to the window inside Qt; not taken, a retry is
    // scheduled, and once the attempts run out the answer is the log line saying what is missing.
    std::optional<QString> tryGrab(bool wanted);
    // Stops the retries and lets go of both grabs.
    void release();

private:
    QWidget* m_window;
    bool m_hasGrabs = false;
    int m_attempts = 0;
    QTimer m_retry;
};

} // namespace platform
