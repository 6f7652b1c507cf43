#pragma once

#include <chrono>

namespace platform {

// The media clock: monotonic host time in seconds. Frames, clicks and microphone samples of a
// recording are all timed on it, so they share one time line.
class MediaClock {
public:
    static double now()
    {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    }
};

} // namespace platform
