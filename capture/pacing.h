#pragma once

#include <cstdint>

namespace Vardel {

// Sleeps until the steady clock reaches deadline (nanoseconds), in whole milliseconds
// rounded up, re-checking the clock after every sleep.
void sleepUntilNs(std::int64_t deadline);

// The test pattern's schedule: each frame is due one interval after the previous one,
// and a frame that is already late restarts the schedule from now instead of being
// followed by a burst of frames to catch up.
struct FrameSchedule {
    std::int64_t interval;
    std::int64_t last;
    // The time to sleep until before the next frame, or nothing when it is due already.
    // Advances the schedule either way.
    bool next(std::int64_t now, std::int64_t& wakeAt)
    {
        const std::int64_t due = last + interval;
        if (due > now) {
            wakeAt = due;
            last = due;
            return true;
        }
        last = now;
        return false;
    }
};

} // namespace Vardel
