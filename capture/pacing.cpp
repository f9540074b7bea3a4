#include "capture/pacing.h"

#include "capture/steady_clock.h"

#include <chrono>
#include <thread>

namespace Vardel {

void sleepUntilNs(std::int64_t deadline)
{
    constexpr std::int64_t kDayMs = 86'400'000;
    for (;;) {
        const std::int64_t remaining = deadline - steadyNowNs();
        if (remaining <= 0)
            return;
        const std::int64_t ms = remaining > kDayMs * 1'000'000 ? kDayMs : (remaining + 999'999) / 1'000'000;
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

} // namespace Vardel
