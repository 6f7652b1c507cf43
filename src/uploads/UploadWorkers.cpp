#include "uploads/UploadWorkers.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

// A worker with nothing to do for this long ends; the next job starts a new one.
constexpr auto kIdleLifetime = std::chrono::seconds(30);

struct State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    int threads = 0;
    int idle = 0;
};

// Never destroyed: a worker still running a transfer at exit must not find its lock gone.
State& state()
{
    static State* s = new State;
    return *s;
}

void work()
{
    State& s = state();
    std::unique_lock lock(s.mutex);
    for (;;) {
        ++s.idle;
        const bool got = s.wake.wait_for(lock, kIdleLifetime, [&] { return !s.jobs.empty(); });
        --s.idle;
        if (!got) {
            --s.threads;
            return;
        }
        std::function<void()> job = std::move(s.jobs.front());
        s.jobs.pop_front();
        lock.unlock();
        job();
        job = nullptr; // its captures end here, off the lock
        lock.lock();
    }
}

} // namespace

void UploadWorkers::run(std::function<void()> job)
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.jobs.push_back(std::move(job));
    // Idle workers that have not woken yet still count as idle: each takes one of the waiting jobs.
    if (static_cast<int>(s.jobs.size()) > s.idle && s.threads < maxThreads) {
        ++s.threads;
        std::thread(work).detach();
    }
    s.wake.notify_one();
}
