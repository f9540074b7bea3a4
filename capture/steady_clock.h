#pragma once

#include <chrono>
#include <cstdint>

namespace Vardel {

// Every time value of the capture engine: monotonic nanoseconds (the performance counter on Windows).
inline std::int64_t steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace Vardel
