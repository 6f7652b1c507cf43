#pragma once

#include <functional>

// The threads that run the uploads' blocking work (PNG encoding, curl, expect). A transfer holds
// its thread for up to a few minutes, which must not starve the shared pool other work runs on.
// Jobs are handed over under a lock of our own, so a thread checker sees every hand-over.
class UploadWorkers {
public:
    static constexpr int maxThreads = 4;

    // Runs `job` on a worker thread, at once when one is free, else after the jobs before it.
    static void run(std::function<void()> job);
};
