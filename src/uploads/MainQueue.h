#pragma once

#include <functional>

// Runs functions on the GUI thread, in the order posted, from any thread. The functions travel
// under a lock of our own and only a bare wake-up goes through Qt's event queue, whose locking a
// thread checker cannot follow.
class MainQueue {
public:
    static void post(std::function<void()> function);
    // Makes the queue on the GUI thread, before any worker posts to it. Call it there once early.
    static void prepare();
};
