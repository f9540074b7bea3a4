#pragma once

// Precise waits for the test pattern's frames on Windows. Free of Qt and of the Windows
// headers, like the device walk, so that the plug-in's wrapper stays glue and the same
// code runs its tests under Wine.

#include <cstdint>

namespace Vardel::win32 {

struct TimerCalls;

// A Sleep of one millisecond lasts a whole timer tick (15.6 ms by default), which would
// hold 120 and 240 frames/s near 64. This waits on a high-resolution waitable timer
// instead, or, where the system refuses one (before Windows 10 1803), raises the timer
// resolution to 1 ms for as long as it lives.
class FrameTimer {
public:
    FrameTimer();
    explicit FrameTimer(const TimerCalls& calls);
    ~FrameTimer();
    FrameTimer(const FrameTimer&) = delete;
    FrameTimer& operator=(const FrameTimer&) = delete;

    // Returns once the steady clock has reached deadlineNs, never before.
    void waitUntil(std::int64_t deadlineNs);

private:
    const TimerCalls& calls_;
    void* timer_ = nullptr;     // the high-resolution timer's handle, or null
    bool periodRaised_ = false; // timeBeginPeriod(1) held instead, undone when the timer goes
};

} // namespace Vardel::win32
